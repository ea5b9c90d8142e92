// Copies a distribution folder onto a FAT volume on a loop device, then
// times the stick's read-back alone, for bench/usb_verify_bench.sh.
//   usb_verify_bench_driver LOOP_NAME DIST_FOLDER ROUNDS
// Prints "verify SECONDS BYTES" for the best round.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/flintmere_app.h"

namespace {

using namespace flintmere;

class NoPauseClock final : public Clock {
  public:
    std::time_t Now() override { return real_.Now(); }
    bool Sleep(std::chrono::milliseconds, std::stop_token stop) override {
        return !stop.stop_requested();
    }

  private:
    SystemClock real_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: usb_verify_bench_driver LOOP_NAME DIST_FOLDER ROUNDS\n", stderr);
        return 2;
    }
    NoPauseClock clock;
    ConsolePresenter presenter;
    LinuxSystemEnv env;
    CflintmereApp app({clock, presenter, env, {}});
    LinuxDiskService disks(DiskRoots{}, {argv[1]});
    app.SetDiskService(&disks);
    RemovableDisk disk;
    for (const RemovableDisk& d : disks.ListRemovableDisks()) {
        if (d.name == argv[1]) disk = d;
    }
    if (disk.name.empty()) {
        std::fprintf(stderr, "%s is not a usable loop device\n", argv[1]);
        return 1;
    }
    app.m_distFolder = FromPath(std::string(argv[2]) + "/");
    FatVolumeRoot root(disk.devicePath);
    if (!app.CopyFiles(root, 100)) return 1;
    std::uint64_t bytes = 0;
    for (const auto& file : root.Written()) bytes += file.size;

    double best = 0;
    for (int round = 0; round < std::atoi(argv[3]); ++round) {
        const auto start = std::chrono::steady_clock::now();
        if (!app.VerifyStick(root, disk)) return 1;
        const double took =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (round == 0 || took < best) best = took;
    }
    std::printf("verify %.3f %llu\n", best, static_cast<unsigned long long>(bytes));
    return 0;
}
