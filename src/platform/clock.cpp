#include "platform/clock.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace flintmere {

std::time_t SystemClock::Now() {
    return std::time(nullptr);
}

bool SystemClock::Sleep(std::chrono::milliseconds duration, std::stop_token stop) {
    if (!stop.stop_possible()) {
        std::this_thread::sleep_for(duration);
        return true;
    }
    std::mutex m;
    std::condition_variable_any cv;
    std::unique_lock lock(m);
    cv.wait_for(lock, stop, duration, [] { return false; });
    return !stop.stop_requested();
}

}  // namespace flintmere
