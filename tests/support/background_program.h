// A program started without waiting for it, so that a test can act while it
// runs (send it a signal); and the processes a run leaves behind.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "support/run_program.h"

namespace flintmere::testing {

class BackgroundProgram {
  public:
    // `env` entries ("NAME=value") are added to the current environment.
    BackgroundProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                      const std::string& workingDir);
    // Kills and reaps a program still running.
    ~BackgroundProgram();
    BackgroundProgram(const BackgroundProgram&) = delete;
    BackgroundProgram& operator=(const BackgroundProgram&) = delete;

    bool Started() const { return pid_ > 0; }
    void Signal(int signal);
    // Waits for the end; after `limit` the program is killed and the
    // status is 128 + SIGKILL.
    ProgramResult Wait(std::chrono::seconds limit);

  private:
    pid_t pid_ = -1;
    std::string outPath_;
    std::string errPath_;
};

// Processes (not zombies) whose environment holds exactly `entry`
// ("NAME=value"): everything a run started with that entry still running.
std::vector<pid_t> ProcessesWithEnvironment(const std::string& entry);

// Waits up to `limit` for those processes to be gone (a kill takes a moment
// to land) and returns the ones still there.
std::vector<pid_t> Survivors(const std::string& entry, std::chrono::milliseconds limit);

// Polls `condition` every 5 ms for up to `limit`.
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit);

}  // namespace flintmere::testing
