// Deterministic stand-ins for the clock, the environment and the app's services.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/flintmere_app.h"
#include "platform/clock.h"
#include "platform/presenter.h"
#include "platform/system_env.h"
#include "support/recording_presenter.h"

namespace flintmere::testing {

// A clock that never waits: it records each pause and advances its time.
class FakeClock final : public Clock {
  public:
    explicit FakeClock(std::time_t start = 1765197853) : now_(start) {}
    std::time_t Now() override;
    bool Sleep(std::chrono::milliseconds duration, std::stop_token stop) override;
    std::vector<int> Pauses() const;
    void ClearPauses();
    // Makes each Sleep really wait this long (for cancel tests).
    void SetRealDelay(std::chrono::milliseconds delay) { realDelay_ = delay; }
    // Called on the sleeping thread at each pause, before it returns; lets a
    // test change the world at a known point of a sequence. Set it before
    // the run starts.
    std::function<void(int ms)> onSleep;

  private:
    mutable std::mutex mutex_;
    std::time_t now_;
    long long elapsedMs_ = 0;
    std::vector<int> pauses_;
    std::chrono::milliseconds realDelay_{0};
};

class FakeSystemEnv final : public SystemEnv {
  public:
    u16 TempFolder() override { return tempFolder; }
    u16 ExecutablePath() override { return executablePath; }
    u16 tempFolder = u"/tmp/";
    u16 executablePath = u"/opt/flintmere/flintmere";
};

// A temporary folder removed with everything in it at the end of the test.
class TempDir {
  public:
    TempDir();
    // In `base` rather than the temporary folder (a folder only root can change).
    explicit TempDir(const std::string& base);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// An application object over fakes; PrintStdout output is collected.
struct TestApp {
    FakeClock clock;
    RecordingPresenter presenter;
    FakeSystemEnv env;
    std::string stdoutText;
    std::unique_ptr<CflintmereApp> app;

    TestApp();
    AppParts* operator->() { return &app->parts; }
    AppParts& operator*() { return app->parts; }
};

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

}  // namespace flintmere::testing
