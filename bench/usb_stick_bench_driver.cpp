// A whole stick run (partitioning, format, boot loader, copy, read-back)
// without the fixed pauses, on a loop device, for bench/usb_stick_bench.sh.
//   usb_stick_bench_driver LOOP_NAME INSTALL_FOLDER
// Prints "run SECONDS" and ends 0 when the run completed.
#include <chrono>
#include <cstdio>
#include <string>

#include "app/flintmere_app.h"
#include "no_pause_clock.h"

using namespace flintmere;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: usb_stick_bench_driver LOOP_NAME INSTALL_FOLDER\n", stderr);
        return 2;
    }
    NoPauseClock clock;
    ConsolePresenter presenter;
    LinuxSystemEnv env;
    CflintmereApp app({clock, presenter, env, {}});
    LinuxDiskService disks(DiskRoots{}, {argv[1]});
    app.SetDiskService(&disks);
    app.OpenLog();
    app.m_exeFolder = FromPath(argv[2]);
    app.m_distFolder = FromPath(std::string(argv[2]) + "/kx/");
    app.m_configSource = ConfigGenerateNodeFile;
    app.ResetConfiguration(true);
    app.m_serverName = u"sbc-bench";
    app.m_partitioned = 1;
    app.m_gptPartition = 0;
    app.m_legacyBios = 1;

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
    const auto start = std::chrono::steady_clock::now();
    const int result = app.SetupUSB();
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(stderr, "log: %s\n", app.m_logFile.Path().c_str());
    if (result != 1) return 1;
    std::printf("run %.3f\n", took);
    return 0;
}
