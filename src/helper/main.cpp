// flintmere-stick-writer: see stick_writer.h. Started by the window, through
// pkexec when the window is not root.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "helper/stick_writer.h"
#include "platform/clock.h"
#include "platform/system_env.h"

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
                     "standard input and output.\n");
        return std::strcmp(argv[1], "--help") == 0 ? 0 : WriterMalformed;
    }
    // A window that is gone must not kill us half-way through a write.
    std::signal(SIGPIPE, SIG_IGN);
    LinuxSystemEnv env;
    const std::string self = ToPath(env.ExecutablePath());
    LinuxDiskService disks;
    SystemClock clock;
    StickWriterPlatform platform{disks, clock, self.substr(0, self.rfind('/'))};
    return RunStickWriter(STDIN_FILENO, STDOUT_FILENO, platform);
}
