// The real clock without its fixed pauses, so that the benchmarks time the
// work itself.
#pragma once

#include "platform/clock.h"

namespace flintmere {

class NoPauseClock final : public Clock {
  public:
    std::time_t Now() override { return real_.Now(); }
    bool Sleep(std::chrono::milliseconds, std::stop_token stop) override {
        return !stop.stop_requested();
    }

  private:
    SystemClock real_;
};

}  // namespace flintmere
