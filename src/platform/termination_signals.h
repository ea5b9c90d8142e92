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
    // before any other thread exists. A signal ignored when this is made
    // (SIGHUP under nohup) stays ignored: it is not taken as a request.
    TerminationSignals();
    // Takes any that are still pending and restores the earlier mask.
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // The first of the signals to arrive within `limit`, or 0.
    int Wait(std::chrono::milliseconds limit);

    // "SIGINT", "SIGTERM", "SIGHUP".
    static const char* Name(int signal);
    // True when `signal` is ignored in this process.
    static bool Ignored(int signal);

  private:
    sigset_t set_;
    sigset_t old_;
    bool blocked_ = false;
};

// SIGPIPE ignored while this lives: a write to a closed pipe (standard
// error read by a program that has gone) fails with EPIPE instead of ending
// the process halfway through a run. Programs started meanwhile get the
// default action back.
class PipeSignalIgnored {
  public:
    PipeSignalIgnored();
    ~PipeSignalIgnored();
    PipeSignalIgnored(const PipeSignalIgnored&) = delete;
    PipeSignalIgnored& operator=(const PipeSignalIgnored&) = delete;

  private:
    struct sigaction old_ {};
    bool set_ = false;
};

}  // namespace flintmere
