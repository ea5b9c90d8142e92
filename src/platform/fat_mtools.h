// The mtools processes a FAT volume is written and read through: each one
// spawned with a clean signal state, killed and reaped on every path, its
// text output kept out of any pipe so that it can never stall it.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace flintmere {

// One mtools process, killed and reaped on every path.
class MtoolsChild {
  public:
    MtoolsChild() = default;
    MtoolsChild(const MtoolsChild&) = delete;
    MtoolsChild& operator=(const MtoolsChild&) = delete;
    ~MtoolsChild();

    // 0, or the error that kept the tool from starting.
    int Spawn(const std::vector<std::string>& argv, int stdinFd, int outputFd, int errorFd = -1);
    // The exit code, or 128 + the signal that ended the tool.
    int Wait();

  private:
    pid_t pid_ = -1;
};

// Writing into the pipe of a tool that has ended must give EPIPE, not end
// the program: SIGPIPE is held back on this thread while a copy runs.
class SigpipeHold {
  public:
    SigpipeHold();
    ~SigpipeHold();
    SigpipeHold(const SigpipeHold&) = delete;
    SigpipeHold& operator=(const SigpipeHold&) = delete;

  private:
    sigset_t set_;
    sigset_t old_;
};

// A file for a tool's text output.
UniqueFd MakeOutputFile();
std::string ReadOutputFile(int fd, std::size_t limit = 65536);
// mtools reports in words only: the errno its output names (EIO by default).
int ErrorFromOutput(const std::string& output);

// Runs mtools commands as the program in `programFolder` finds them (ToolPath).
class Mtools {
  public:
    explicit Mtools(std::string programFolder) : programFolder_(std::move(programFolder)) {}
    std::string Path(const std::string& name) const;
    // Runs `args` (args[0] the tool's name); its text output goes to
    // `output`, its error output too `withWarnings`. Returns the exit code,
    // or -1 with `error` set when it could not run.
    int Run(const std::vector<std::string>& args, int& error, std::string* output = nullptr,
            std::size_t outputLimit = 65536, bool withWarnings = true) const;

  private:
    std::string programFolder_;
};

}  // namespace flintmere
