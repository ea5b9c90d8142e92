// A progress dialog for tests: records what a worker reports, in order, and
// lets the test decide when the dialog counts as ready. Thread-safe.
#pragma once

#include <functional>
#include <mutex>
#include <vector>

#include "engine/progress_dialog.h"

namespace flintmere::testing {

class RecordingProgress final : public ProgressDialog {
  public:
    struct Event {
        enum Kind { Pos, Action, Close } kind;
        int position = 0;
        u16 text;
    };

    explicit RecordingProgress(bool ready = true) : ready_(ready) {}

    bool IsReady() override;
    void SetPos(int position) override;
    int GetPos() override;
    void SetAction(const u16& text) override;
    void RequestClose() override;

    void SetReady(bool ready);
    // Becomes ready at the `checks`-th call of IsReady (counting from now).
    void BecomeReadyAfter(int checks);
    // Moves the bar without recording it (the position a run starts from).
    void SetCurrentPos(int position);
    // Called on the worker with each action text, after it is recorded.
    void OnAction(std::function<void(const u16&)> hook);

    std::vector<int> Positions() const;
    std::vector<u16> Actions() const;
    std::vector<Event> Events() const;
    int CloseRequests() const;
    int ReadyChecks() const;

  private:
    mutable std::mutex mutex_;
    bool ready_;
    int readyAfter_ = -1;
    int readyChecks_ = 0;
    int position_ = 0;
    std::vector<Event> events_;
    std::function<void(const u16&)> onAction_;
};

}  // namespace flintmere::testing
