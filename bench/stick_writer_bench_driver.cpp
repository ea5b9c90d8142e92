// Times a whole stick run in this process against the same run through
// flintmere-stick-writer, in turns, for bench/stick_writer_bench.sh.
//   stick_writer_bench_driver LOOP_NAME INSTALL_FOLDER ROUNDS
// INSTALL_FOLDER holds the writer built for benchmarks (loop devices named
// in FLINTMERE_TEST_ADMIT admitted, no fixed pauses). Prints
// "inprocess SECONDS writer SECONDS", the best round of each.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/flintmere_app.h"
#include "no_pause_clock.h"

using namespace flintmere;

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: stick_writer_bench_driver LOOP_NAME INSTALL_FOLDER ROUNDS\n", stderr);
        return 2;
    }
    ::setenv("FLINTMERE_TEST_ADMIT", argv[1], 1);
    NoPauseClock clock;
    ConsolePresenter presenter;
    LinuxSystemEnv env;
    CflintmereApp app({clock, presenter, env, {}});
    LinuxDiskService disks(DiskRoots{}, {argv[1]});
    app.SetDiskService(&disks);
    app.ResetConfiguration(true);
    app.m_configSource = ConfigGenerateNodeFile;
    app.m_serverName = u"sbc-bench";
    app.m_lanAddress = u"192.0.2.10";
    app.m_lanNetmask = u"255.255.255.0";
    app.m_gateway = u"192.0.2.1";
    app.m_hwType = HwLegacyBios;
    app.m_partitioned = 1;
    app.m_exeFolder = FromPath(argv[2]);
    app.m_distFolder = FromPath(std::string(argv[2]) + "/kx/");
    MediaList list;
    app.RefreshDevices(list);
    app.m_selectedDrive = -1;
    for (std::size_t i = 0; i + 1 < list.entries.size(); ++i) {
        if (ToPath(list.entries[i]).rfind(std::string("/dev/") + argv[1] + " ", 0) == 0) {
            app.m_selectedDrive = static_cast<int>(i);
        }
    }
    if (app.m_selectedDrive < 0) {
        std::fprintf(stderr, "%s is not a usable loop device\n", argv[1]);
        return 1;
    }
    auto seconds = [](auto&& run) {
        const auto start = std::chrono::steady_clock::now();
        const bool ok = run();
        const double took =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return ok ? took : -1.0;
    };
    double bestHere = 0, bestWriter = 0;
    for (int round = 0; round < std::atoi(argv[3]); ++round) {
        const double here = seconds([&] { return app.SetupUSB() == 1; });
        const double writer =
            seconds([&] { return app.RunStickWriter(app.MakeStickRequest()) == 1; });
        if (here < 0 || writer < 0) return 1;
        if (round == 0 || here < bestHere) bestHere = here;
        if (round == 0 || writer < bestWriter) bestWriter = writer;
    }
    std::printf("inprocess %.3f writer %.3f\n", bestHere, bestWriter);
    return 0;
}
