// One unit's medium in the making: an engine object of its own over the
// unit's record, whose boxes become the unit's reason and whose progress
// goes to the rollout's view. Its log lines go to the rollout's log,
// marked with the unit's name.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>

#include "engine/app_parts.h"
#include "rollout/rollout_report.h"

namespace flintmere {

// The boxes of a run without a window: an error is the unit's reason, and
// a question is answered No (nobody is there to answer it), its text kept.
class UnitBoxes final : public Presenter {
  public:
    int ShowMessage(const u16& text, const u16& caption, unsigned style,
                    bool owned = false) override;
    // The first error box's text (else the first box's), on one line; ""
    // when none was shown.
    std::string Reason() const;

  private:
    mutable std::mutex mutex_;
    std::string first_;
    std::string firstError_;
};

// The progress dialog of a unit: the view's line for it.
class UnitProgressSink final : public ProgressDialog {
  public:
    UnitProgressSink(RolloutView& view, std::size_t index) : view_(view), index_(index) {}
    // Where the bytes written for the unit are counted (image size, or the
    // device's written sectors); the view shows their rate.
    void CountBytesWith(std::function<std::uint64_t()> counter);
    // While the step starts with `readStep` (a read-back), the rate is of
    // the bytes `reads` counts instead.
    void CountReadsWith(std::function<std::uint64_t()> reads, std::string readStep);
    void Report(const std::string& step, int percent);

    bool IsReady() override { return true; }
    void SetPos(int position) override;
    int GetPos() override;
    void SetAction(const u16& text) override;
    void RequestClose() override {}

  private:
    double Rate();
    std::uint64_t Bytes() const;

    RolloutView& view_;
    std::size_t index_;
    std::mutex mutex_;
    std::string step_;
    int percent_ = 0;
    std::function<std::uint64_t()> counter_;
    std::function<std::uint64_t()> reads_;
    std::string readStep_;
    bool reading_ = false;
    std::uint64_t lastBytes_ = 0;
    std::chrono::steady_clock::time_point lastAt_{};
    double rate_ = -1;
};

class UnitRun {
  public:
    // `app` gives the folders, clock, environment and log; `stop` is shared
    // by every unit, so one cancel reaches them all.
    UnitRun(AppParts& app, const SetupRecord& record, const std::string& name, RolloutView& view,
            std::size_t index, const std::stop_source& stop);
    UnitRun(const UnitRun&) = delete;
    UnitRun& operator=(const UnitRun&) = delete;

    MediaEngine& Engine() { return engine_; }
    StickWriterClient& Writer() { return writer_; }
    UnitProgressSink& Progress() { return progress_; }
    // Why the unit failed: its first box, else the last tool's own line,
    // else `fallback`.
    std::string Reason(const std::string& fallback) const;
    // As above for a run that ended in `ended`: where no box said why, the
    // outcome's tool line, else what failed with the system's reason.
    std::string Reason(const Outcome& ended, const std::string& fallback) const;

  private:
    UnitBoxes boxes_;
    UnitProgressSink progress_;
    AppServices services_;
    // The unit's request: its record in the rollout's installation folder.
    SetupRecord request_;
    MediaEngine engine_;
    StickWriterClient writer_;
    // The engine's stop source is its own (an engine that ends requests a
    // stop on it); a stop of the rollout reaches it through this.
    std::stop_callback<std::function<void()>> cancel_;
};

// Makes a stop of `rollout` a stop of `engine` too, while it lives.
std::stop_callback<std::function<void()>> ForwardStop(const std::stop_source& rollout,
                                                      MediaEngine& engine);

// What failed in `outcome`, in a few words with the system's reason for its
// errno; "" for a run that did not fail or a failure with no kind.
std::string KindReason(const Outcome& outcome);

// The unit's status for a run whose status is `setupStatus` and outcome `ended`.
UnitStatus UnitStatusOf(int setupStatus, const Outcome& ended, bool stopRequested);

// The first line of `text` (an action text such as "Copying files...\r\nkx").
std::string FirstLine(const u16& text);

}  // namespace flintmere
