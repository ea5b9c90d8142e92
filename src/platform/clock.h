// The clock and the fixed pauses reach the code through this interface, so
// tests run without waiting and can assert every pause.
#pragma once

#include <chrono>
#include <ctime>
#include <stop_token>

namespace flintmere {

class Clock {
  public:
    virtual ~Clock() = default;
    // Seconds since the epoch; shown as local time.
    virtual std::time_t Now() = 0;
    // Pauses for `duration`; returns false early when `stop` is requested.
    virtual bool Sleep(std::chrono::milliseconds duration, std::stop_token stop = {}) = 0;
};

class SystemClock final : public Clock {
  public:
    std::time_t Now() override;
    bool Sleep(std::chrono::milliseconds duration, std::stop_token stop) override;
};

}  // namespace flintmere
