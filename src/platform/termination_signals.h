// SIGINT, SIGTERM and SIGHUP taken as requests rather than as the end of the
// process, so that a run they interrupt can still clean up after itself.
#pragma once

#include <signal.h>

#include <chrono>

namespace flintmere {

class TerminationSignals {
  public:
    // Blocks the three signals in the calling thread. Threads started
    // afterwards inherit that, so only Wait() ever takes them; create this
    // before any other thread exists.
    TerminationSignals();
    // Takes any that are still pending and restores the earlier mask.
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // The first of the signals to arrive within `limit`, or 0.
    int Wait(std::chrono::milliseconds limit);

    // "SIGINT", "SIGTERM", "SIGHUP".
    static const char* Name(int signal);

  private:
    sigset_t set_;
    sigset_t old_;
    bool blocked_ = false;
};

}  // namespace flintmere
