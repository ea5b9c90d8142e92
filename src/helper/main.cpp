// flintmere-stick-writer: see stick_writer.h. Started by the window, through
// pkexec when the window is not root.
#include <csignal>
#include <cstdio>
#include <cstring>

#include "helper/stick_writer.h"
#include "platform/clock.h"

int main(int argc, char** argv) {
    using namespace flintmere;
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("flintmere-stick-writer %s (protocol %d)\n", FLINTMERE_VERSION,
                    kStickProtocolVersion);
        return 0;
    }
    if (argc > 1) {
        std::fprintf(stderr,
                     "usage: flintmere-stick-writer < request\n"
                     "Writes one stick for the flintmere window; it is not meant to be run by "
                     "hand.\nThe request and the reports are lines of the stick protocol on "
                     "standard input and output.\nIt runs only from a place that only root can "
                     "change (sudo ./install-stick-writer).\n");
        return std::strcmp(argv[1], "--help") == 0 ? 0 : WriterMalformed;
    }
    // A window that is gone must not kill us half-way through a write.
    std::signal(SIGPIPE, SIG_IGN);
    LinuxDiskService disks;
    SystemClock clock;
    return StickWriterMain(disks, clock);
}
