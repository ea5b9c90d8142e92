#include "platform/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

extern char** environ;

namespace flintmere {

namespace {

// Moves a descriptor above the standard ones, so that the child's dup2 onto
// 0..2 always clears close-on-exec on a copy, never on the original.
bool AboveStandard(UniqueFd& fd) {
    if (fd.Get() > 2) return true;
    int moved = ::fcntl(fd.Get(), F_DUPFD_CLOEXEC, 3);
    if (moved < 0) return false;
    fd.Reset(moved);
    return true;
}

struct FileActions {
    posix_spawn_file_actions_t actions;
    FileActions() { ::posix_spawn_file_actions_init(&actions); }
    ~FileActions() { ::posix_spawn_file_actions_destroy(&actions); }
};

struct SpawnAttr {
    posix_spawnattr_t attr;
    SpawnAttr() { ::posix_spawnattr_init(&attr); }
    ~SpawnAttr() { ::posix_spawnattr_destroy(&attr); }
};

}  // namespace

bool MakePipe(UniqueFd& readEnd, UniqueFd& writeEnd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    readEnd.Reset(fds[0]);
    writeEnd.Reset(fds[1]);
    return AboveStandard(readEnd) && AboveStandard(writeEnd);
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !reaped_) {
        SignalGroup(SIGKILL);
        Reap();
    }
}

int ChildProcess::Spawn(const std::vector<std::string>& argv, int stdinFd, int outputFd,
                        const std::vector<std::string>* environment) {
    if (argv.empty() || pid_ > 0) return EINVAL;

    FileActions fa;
    int rc = ::posix_spawn_file_actions_adddup2(&fa.actions, stdinFd, 0);
    if (rc == 0) rc = ::posix_spawn_file_actions_adddup2(&fa.actions, outputFd, 1);
    if (rc == 0) rc = ::posix_spawn_file_actions_adddup2(&fa.actions, outputFd, 2);
    // Descriptors opened elsewhere without close-on-exec stay with us.
    if (rc == 0) rc = ::posix_spawn_file_actions_addclosefrom_np(&fa.actions, 3);
    if (rc != 0) return rc;

    SpawnAttr sa;
    sigset_t none;
    sigset_t all;
    ::sigemptyset(&none);
    ::sigfillset(&all);
    // Own group for the kill on cancel; a clean signal state whatever the
    // worker thread has blocked or ignored.
    rc = ::posix_spawnattr_setflags(
        &sa.attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    if (rc == 0) rc = ::posix_spawnattr_setpgroup(&sa.attr, 0);
    if (rc == 0) rc = ::posix_spawnattr_setsigmask(&sa.attr, &none);
    if (rc == 0) rc = ::posix_spawnattr_setsigdefault(&sa.attr, &all);
    if (rc != 0) return rc;

    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    std::vector<char*> env;
    if (environment) {
        for (const std::string& e : *environment) env.push_back(const_cast<char*>(e.c_str()));
        env.push_back(nullptr);
    }
    pid_t pid = -1;
    rc = ::posix_spawnp(&pid, args[0], &fa.actions, &sa.attr, args.data(),
                        environment ? env.data() : environ);
    if (rc != 0) return rc;
    pid_ = pid;
    reaped_ = false;
    return 0;
}

bool ChildProcess::HasExited() {
    if (pid_ <= 0 || reaped_) return true;
    siginfo_t info{};
    for (;;) {
        int rc = ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT);
        if (rc == 0) return info.si_pid == pid_;
        if (errno != EINTR) return true;  // not our child any more: nothing to wait for
    }
}

void ChildProcess::SignalGroup(int signal) {
    if (pid_ > 0 && !reaped_) ::kill(-pid_, signal);
}

void ChildProcess::Reap() {
    if (pid_ <= 0 || reaped_) return;
    int status = 0;
    pid_t rc;
    do {
        rc = ::waitpid(pid_, &status, 0);
    } while (rc < 0 && errno == EINTR);
    reaped_ = true;
    if (rc != pid_) {
        // Lost to someone else's waitpid(-1): the outcome is unknown, so it fails.
        signaled_ = false;
        code_ = -1;
    } else if (WIFSIGNALED(status)) {
        signaled_ = true;
        code_ = WTERMSIG(status);
    } else {
        signaled_ = false;
        code_ = WEXITSTATUS(status);
    }
}

}  // namespace flintmere
