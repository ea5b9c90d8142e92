// flintmere-stick-writer for the end-to-end tests: the shipped routine, with
// the loop devices the test names admitted as removable disks and the fixed
// pauses left out. Never installed.
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "helper/stick_writer.h"
#include "no_pause_clock.h"
#include "platform/system_env.h"

int main() {
    using namespace flintmere;
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> admitted;
    const char* names = std::getenv("FLINTMERE_TEST_ADMIT");
    std::istringstream list(names ? names : "");
    for (std::string name; list >> name;) admitted.push_back(name);
    LinuxSystemEnv env;
    const std::string self = ToPath(env.ExecutablePath());
    LinuxDiskService disks(DiskRoots{}, admitted);
    NoPauseClock clock;
    StickWriterPlatform platform{disks, clock, self.substr(0, self.rfind('/'))};
    return RunStickWriter(STDIN_FILENO, STDOUT_FILENO, platform);
}
