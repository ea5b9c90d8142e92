// A tool started from an argument vector (no shell) in its own process
// group, so that it can be stopped together with whatever it started. The
// child is reaped on every path.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace flintmere {

// A pipe whose ends are close-on-exec and never standard descriptors 0..2.
// Returns false with errno set.
bool MakePipe(UniqueFd& readEnd, UniqueFd& writeEnd);

class ChildProcess {
  public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // A child still running here is killed with its group and reaped.
    ~ChildProcess();

    // Starts argv[0] (searched in PATH when it holds no '/') with `stdinFd`
    // as standard input and `outputFd` as standard output and error. No
    // other descriptor is inherited. With `environment` ("NAME=value"
    // entries) the child gets only that, else this process's. Returns 0 or
    // the error number.
    int Spawn(const std::vector<std::string>& argv, int stdinFd, int outputFd,
              const std::vector<std::string>* environment = nullptr);
    // Gives up on a child that cannot be stopped (one running as root):
    // it is neither killed nor waited for any more.
    void Abandon() { pid_ = -1; }

    pid_t Pid() const { return pid_; }
    // True once the child has ended. It is not reaped yet, so its process
    // group id stays reserved and SignalGroup still reaches the right group.
    bool HasExited();
    // Sends `signal` to every process of the child's group.
    void SignalGroup(int signal);
    // Waits for the child to end and collects its status.
    void Reap();

    // After Reap: exit code 0 is success; a child ended by a signal fails.
    bool Succeeded() const { return reaped_ && !signaled_ && code_ == 0; }
    // The exit code, or 128 + the signal number for a child ended by a signal.
    int ExitCode() const { return signaled_ ? 128 + code_ : code_; }

  private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    bool signaled_ = false;
    int code_ = 0;
};

}  // namespace flintmere
