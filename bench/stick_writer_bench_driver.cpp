// Times a whole stick run in this process against the same run through
// flintmere-stick-writer, in turns, for bench/stick_writer_bench.sh.
//   stick_writer_bench_driver LOOP_NAME INSTALL_FOLDER ROUNDS
// INSTALL_FOLDER holds the writer built for benchmarks (loop devices named
// in FLINTMERE_TEST_ADMIT admitted, no fixed pauses). Prints
// "inprocess SECONDS writer SECONDS", the best round of each.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/flintmere_app.h"
#include "stick_bench_app.h"

using namespace flintmere;

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: stick_writer_bench_driver LOOP_NAME INSTALL_FOLDER ROUNDS\n", stderr);
        return 2;
    }
    ::setenv("FLINTMERE_TEST_ADMIT", argv[1], 1);
    BenchApp bench;
    AppParts& app = bench.app.parts;
    LinuxDiskService disks(DiskRoots{}, {argv[1]});
    if (!PrepareStickRun(app, disks, argv[1], argv[2])) return 1;
    double bestHere = 0, bestWriter = 0;
    for (int round = 0; round < std::atoi(argv[3]); ++round) {
        const double here = Seconds([&] { return app.engine.SetupUSB() == 1; });
        const double writer = Seconds([&] {
            return app.stickWriter.RunStickWriter(app.stickWriter.MakeStickRequest()) == 1;
        });
        if (here < 0 || writer < 0) return 1;
        if (round == 0 || here < bestHere) bestHere = here;
        if (round == 0 || writer < bestWriter) bestWriter = writer;
    }
    std::printf("inprocess %.3f writer %.3f\n", bestHere, bestWriter);
    return 0;
}
