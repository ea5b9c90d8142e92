#include "platform/fat_mtools.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/tool_path.h"

extern char** environ;

namespace flintmere {

MtoolsChild::~MtoolsChild() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        Wait();
    }
}

int MtoolsChild::Spawn(const std::vector<std::string>& argv, int stdinFd, int outputFd,
                       int errorFd) {
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    int rc = ::posix_spawn_file_actions_adddup2(&actions, stdinFd, 0);
    if (rc == 0) rc = ::posix_spawn_file_actions_adddup2(&actions, outputFd, 1);
    if (rc == 0)
        rc = ::posix_spawn_file_actions_adddup2(&actions, errorFd < 0 ? outputFd : errorFd, 2);
    if (rc == 0) rc = ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attr;
    ::posix_spawnattr_init(&attr);
    sigset_t none, all;
    ::sigemptyset(&none);
    ::sigfillset(&all);
    // The copying thread blocks SIGPIPE; the tool gets a clean state.
    if (rc == 0)
        rc = ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    if (rc == 0) rc = ::posix_spawnattr_setsigmask(&attr, &none);
    if (rc == 0) rc = ::posix_spawnattr_setsigdefault(&attr, &all);

    // The volume is not named in any mtools configuration; the check
    // would refuse a FAT32 volume with an unusual geometry.
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) {
        if (std::strncmp(*e, "MTOOLS_SKIP_CHECK=", 18) != 0) env.emplace_back(*e);
    }
    env.emplace_back("MTOOLS_SKIP_CHECK=1");
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    pid_t pid = -1;
    if (rc == 0) rc = ::posix_spawnp(&pid, args[0], &actions, &attr, args.data(), envp.data());
    ::posix_spawnattr_destroy(&attr);
    ::posix_spawn_file_actions_destroy(&actions);
    if (rc == 0) pid_ = pid;
    return rc;
}

int MtoolsChild::Wait() {
    if (pid_ <= 0) return -1;
    int status = 0;
    pid_t rc;
    do {
        rc = ::waitpid(pid_, &status, 0);
    } while (rc < 0 && errno == EINTR);
    pid_ = -1;
    if (rc < 0) return -1;
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

SigpipeHold::SigpipeHold() {
    ::sigemptyset(&set_);
    ::sigaddset(&set_, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &set_, &old_);
}
SigpipeHold::~SigpipeHold() {
    sigset_t pending;
    ::sigpending(&pending);
    if (::sigismember(&pending, SIGPIPE) && !::sigismember(&old_, SIGPIPE)) {
        const timespec zero{};
        ::sigtimedwait(&set_, nullptr, &zero);
    }
    ::pthread_sigmask(SIG_SETMASK, &old_, nullptr);
}

// Text output of the tool, kept out of any pipe so it can never stall it.
UniqueFd MakeOutputFile() {
    return UniqueFd(::memfd_create("mtools-output", MFD_CLOEXEC));
}

std::string ReadOutputFile(int fd, std::size_t limit) {
    std::string text;
    if (::lseek(fd, 0, SEEK_SET) != 0) return text;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > limit) break;
    }
    return text;
}

int ErrorFromOutput(const std::string& output) {
    if (output.find("Disk full") != std::string::npos ||
        output.find("No free") != std::string::npos ||
        output.find("No space left") != std::string::npos) {
        return ENOSPC;
    }
    // A stick pulled out: its node is gone, or the kernel no longer serves it.
    if (output.find("No such device") != std::string::npos) return ENXIO;
    if (output.find("not found") != std::string::npos ||
        output.find("No such file") != std::string::npos) {
        return ENOENT;
    }
    if (output.find("busy") != std::string::npos) return EBUSY;
    if (output.find("Permission denied") != std::string::npos) return EACCES;
    if (output.find("Read-only") != std::string::npos) return EROFS;
    return EIO;
}

std::string Mtools::Path(const std::string& name) const {
    return ToolPath(programFolder_, name);
}

int Mtools::Run(const std::vector<std::string>& args, int& error, std::string* output,
                std::size_t outputLimit, bool withWarnings) const {
    UniqueFd in(::open("/dev/null", O_RDWR | O_CLOEXEC));
    UniqueFd out = MakeOutputFile();
    if (!in.Valid() || !out.Valid()) {
        error = errno;
        return -1;
    }
    MtoolsChild child;
    std::vector<std::string> command = args;
    command[0] = Path(command[0]);
    if (int rc = child.Spawn(command, in.Get(), out.Get(), withWarnings ? -1 : in.Get()); rc != 0) {
        error = rc;
        return -1;
    }
    int code = child.Wait();
    if (output) *output = ReadOutputFile(out.Get(), outputLimit);
    return code;
}

}  // namespace flintmere
