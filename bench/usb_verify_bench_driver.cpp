// Copies a distribution folder onto a FAT volume on a loop device, then
// times the stick's read-back against a baseline command that reads as many
// bytes from the device, in turns, for bench/usb_verify_bench.sh.
//   usb_verify_bench_driver LOOP_NAME DIST_FOLDER ROUNDS BASELINE_COMMAND
// BASELINE_COMMAND is run by the shell with BYTES set to the bytes the
// read-back reads. Prints "verify SECONDS baseline SECONDS bytes BYTES",
// the best round of each; the device's cache is dropped before every run.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "app/flintmere_app.h"
#include "stick_bench_app.h"

using namespace flintmere;

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fputs("usage: usb_verify_bench_driver LOOP_NAME DIST_FOLDER ROUNDS BASELINE\n",
                   stderr);
        return 2;
    }
    BenchApp bench;
    AppParts& app = bench.app.parts;
    LinuxDiskService disks(DiskRoots{}, {argv[1]});
    app.engine.SetDiskService(&disks);
    RemovableDisk disk;
    for (const RemovableDisk& d : disks.ListRemovableDisks()) {
        if (d.name == argv[1]) disk = d;
    }
    if (disk.name.empty()) {
        std::fprintf(stderr, "%s is not a usable loop device\n", argv[1]);
        return 1;
    }
    app.record.m_distFolder = FromPath(std::string(argv[2]) + "/");
    FatVolumeRoot root(disk.devicePath);
    if (!app.engine.CopyFiles(root, 100)) return 1;
    std::uint64_t bytes = 0;
    for (const auto& file : root.Written()) bytes += file.size;

    ::setenv("BYTES", std::to_string(bytes).c_str(), 1);

    double bestVerify = 0, bestBaseline = 0;
    for (int round = 0; round < std::atoi(argv[3]); ++round) {
        int error = 0;
        if (!disks.DropCachedPages(disk, disk.devicePath, error)) return 1;
        const double baseline = Seconds([&] { return std::system(argv[4]) == 0; });
        // Both start from an empty cache; dropping what dd left is not the check's cost.
        if (!disks.DropCachedPages(disk, disk.devicePath, error)) return 1;
        const double verify = Seconds([&] { return app.engine.VerifyStick(root, disk, 0); });
        if (baseline < 0 || verify < 0) return 1;
        if (round == 0 || baseline < bestBaseline) bestBaseline = baseline;
        if (round == 0 || verify < bestVerify) bestVerify = verify;
    }
    // The fixed share of the check: listing the files and their clusters.
    {
        int error = 0;
        if (!disks.DropCachedPages(disk, disk.devicePath, error)) return 1;
        std::vector<std::string> paths;
        for (const auto& file : root.Written()) paths.push_back(file.relPath);
        std::map<std::string, FatVolumeRoot::StoredFile> found;
        const double locate = Seconds([&] { return root.LocateFiles(paths, found); });
        std::fprintf(stderr, "locating the files on the stick: %.3f s\n", locate);
    }
    std::printf("verify %.3f baseline %.3f bytes %llu\n", bestVerify, bestBaseline,
                static_cast<unsigned long long>(bytes));
    return 0;
}
