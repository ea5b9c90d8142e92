#include "support/background_program.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

extern char** environ;

namespace flintmere::testing {
namespace {

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string TempName(const char* suffix) {
    std::string pattern = "/tmp/flintmere-bg-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd >= 0) ::close(fd);
    std::filesystem::remove(pattern);
    return pattern + suffix;
}

// The current environment with `extra` added (an entry of the same name replaced).
std::vector<std::string> Environment(const std::vector<std::string>& extra) {
    std::vector<std::string> out;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const std::string& x : extra) replaced |= x.substr(0, x.find('=')) == name;
        if (!replaced) out.push_back(entry);
    }
    out.insert(out.end(), extra.begin(), extra.end());
    return out;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (std::string& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

}  // namespace

BackgroundProgram::BackgroundProgram(const std::vector<std::string>& argv,
                                     const std::vector<std::string>& env,
                                     const std::string& workingDir)
    : outPath_(TempName(".out")), errPath_(TempName(".err")) {
    posix_spawn_file_actions_t fa;
    ::posix_spawn_file_actions_init(&fa);
    ::posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&fa, 1, outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                       0600);
    ::posix_spawn_file_actions_addopen(&fa, 2, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                       0600);
    if (!workingDir.empty()) ::posix_spawn_file_actions_addchdir_np(&fa, workingDir.c_str());
    std::vector<std::string> args = argv;
    std::vector<std::string> envs = Environment(env);
    std::vector<char*> argp = Pointers(args);
    std::vector<char*> envp = Pointers(envs);
    if (::posix_spawnp(&pid_, argp[0], &fa, nullptr, argp.data(), envp.data()) != 0) pid_ = -1;
    ::posix_spawn_file_actions_destroy(&fa);
}

BackgroundProgram::~BackgroundProgram() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    std::error_code ec;
    std::filesystem::remove(outPath_, ec);
    std::filesystem::remove(errPath_, ec);
}

void BackgroundProgram::Signal(int signal) {
    if (pid_ > 0) ::kill(pid_, signal);
}

ProgramResult BackgroundProgram::Wait(std::chrono::seconds limit) {
    ProgramResult result;
    if (pid_ <= 0) return result;
    const auto until = std::chrono::steady_clock::now() + limit;
    int status = 0;
    pid_t rc = 0;
    while ((rc = ::waitpid(pid_, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (rc == 0) {
        ::kill(pid_, SIGKILL);
        rc = ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
    if (rc > 0 && WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
    if (rc > 0 && WIFSIGNALED(status)) result.exitStatus = 128 + WTERMSIG(status);
    result.out = Slurp(outPath_);
    result.err = Slurp(errPath_);
    return result;
}

std::vector<pid_t> ProcessesWithEnvironment(const std::string& entry) {
    std::vector<pid_t> out;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = e.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string stat = Slurp(e.path().string() + "/stat");
        const std::size_t paren = stat.rfind(')');
        if (paren == std::string::npos || stat.compare(paren, 3, ") Z") == 0) continue;
        const std::string environment = Slurp(e.path().string() + "/environ");
        std::size_t from = 0;
        while (from < environment.size()) {
            std::size_t end = environment.find('\0', from);
            if (end == std::string::npos) end = environment.size();
            if (environment.compare(from, end - from, entry) == 0) {
                out.push_back(static_cast<pid_t>(std::stol(name)));
                break;
            }
            from = end + 1;
        }
    }
    return out;
}

std::vector<pid_t> Survivors(const std::string& entry, std::chrono::milliseconds limit) {
    std::vector<pid_t> left;
    WaitFor(
        [&] {
            left = ProcessesWithEnvironment(entry);
            return left.empty();
        },
        limit);
    return left;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace flintmere::testing
