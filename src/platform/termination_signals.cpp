#include "platform/termination_signals.h"

#include <pthread.h>

#include <ctime>

namespace flintmere {

TerminationSignals::TerminationSignals() {
    ::sigemptyset(&set_);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        // A blocked signal is queued even when ignored, so an ignored one
        // stays out of the set.
        if (!Ignored(signal)) ::sigaddset(&set_, signal);
    }
    ::sigemptyset(&old_);
    blocked_ = ::pthread_sigmask(SIG_BLOCK, &set_, &old_) == 0;
}

TerminationSignals::~TerminationSignals() {
    if (!blocked_) return;
    // A second Ctrl-C during the clean-up must not end the process once
    // the mask is back.
    while (Wait(std::chrono::milliseconds(0)) != 0) {
    }
    ::pthread_sigmask(SIG_SETMASK, &old_, nullptr);
}

int TerminationSignals::Wait(std::chrono::milliseconds limit) {
    if (!blocked_) return 0;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(limit).count();
    timespec timeout{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    siginfo_t info{};
    // Interrupted by another signal's handler: 0, and the caller waits again.
    const int signal = ::sigtimedwait(&set_, &info, &timeout);
    return signal > 0 ? signal : 0;
}

bool TerminationSignals::Ignored(int signal) {
    struct sigaction action {};
    return ::sigaction(signal, nullptr, &action) == 0 && action.sa_handler == SIG_IGN;
}

PipeSignalIgnored::PipeSignalIgnored() {
    struct sigaction action {};
    action.sa_handler = SIG_IGN;
    ::sigemptyset(&action.sa_mask);
    set_ = ::sigaction(SIGPIPE, &action, &old_) == 0;
}

PipeSignalIgnored::~PipeSignalIgnored() {
    if (set_) ::sigaction(SIGPIPE, &old_, nullptr);
}

const char* TerminationSignals::Name(int signal) {
    switch (signal) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
        default:
            return "a signal";
    }
}

}  // namespace flintmere
