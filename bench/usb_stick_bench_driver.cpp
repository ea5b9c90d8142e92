// A whole stick run (partitioning, format, boot loader, copy, read-back)
// without the fixed pauses, on a loop device, for bench/usb_stick_bench.sh.
//   usb_stick_bench_driver LOOP_NAME INSTALL_FOLDER
// Prints "run SECONDS" and ends 0 when the run completed.
#include <chrono>
#include <cstdio>
#include <string>

#include "app/flintmere_app.h"
#include "stick_bench_app.h"

using namespace flintmere;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: usb_stick_bench_driver LOOP_NAME INSTALL_FOLDER\n", stderr);
        return 2;
    }
    BenchApp bench;
    AppParts& app = bench.app.parts;
    LinuxDiskService disks(DiskRoots{}, {argv[1]});
    app.services.OpenLog();
    if (!PrepareStickRun(app, disks, argv[1], argv[2])) return 1;
    int result = 0;
    const double took = Seconds([&] {
        result = app.engine.SetupUSB();
        return true;
    });
    std::fprintf(stderr, "log: %s\n", app.services.m_logFile.Path().c_str());
    if (result != 1) return 1;
    std::printf("run %.3f\n", took);
    return 0;
}
