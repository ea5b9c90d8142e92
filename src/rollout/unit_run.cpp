#include "rollout/unit_run.h"

namespace flintmere {

std::string FirstLine(const u16& text) {
    const std::string utf8 = Utf16ToUtf8(text);
    return utf8.substr(0, utf8.find_first_of("\r\n"));
}

int UnitBoxes::ShowMessage(const u16& text, const u16& caption, unsigned style, bool) {
    std::string line = Utf16ToUtf8(text);
    for (char& c : line) {
        if (c == '\r' || c == '\n' || c == '\t') c = ' ';
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    const bool question = (style & 0xf) == kMbYesNo;
    if (question) line = "not answered without a window: " + line;
    if (line.empty()) line = Utf16ToUtf8(caption);
    {
        // An error box says why; a notice before it does not. The icon
        // tells them apart, whatever the caption says.
        std::lock_guard lock(mutex_);
        const unsigned icon = style & kMbIconMask;
        const bool error = question || icon == kMbIconStop || icon == kMbIconWarning;
        if (error && firstError_.empty()) firstError_ = line;
        if (first_.empty()) first_ = line;
    }
    return question ? kIdNo : kIdOk;
}

std::string UnitBoxes::Reason() const {
    std::lock_guard lock(mutex_);
    return firstError_.empty() ? first_ : firstError_;
}

void UnitProgressSink::CountBytesWith(std::function<std::uint64_t()> counter) {
    std::lock_guard lock(mutex_);
    counter_ = std::move(counter);
    lastBytes_ = counter_ ? counter_() : 0;
    lastAt_ = std::chrono::steady_clock::now();
    rate_ = -1;
}

void UnitProgressSink::CountReadsWith(std::function<std::uint64_t()> reads, std::string readStep) {
    std::lock_guard lock(mutex_);
    reads_ = std::move(reads);
    readStep_ = std::move(readStep);
}

std::uint64_t UnitProgressSink::Bytes() const {
    return reading_ ? reads_() : counter_();
}

// Over at least a second, so that the rate does not jump with each chunk.
double UnitProgressSink::Rate() {
    if (!counter_) return -1;
    const auto now = std::chrono::steady_clock::now();
    // A read-back's rate is of reads: the writes have ended then.
    const bool reading = reads_ && !readStep_.empty() && step_.starts_with(readStep_);
    if (reading != reading_) {
        reading_ = reading;
        lastBytes_ = Bytes();
        lastAt_ = now;
        rate_ = -1;
        return rate_;
    }
    const double seconds = std::chrono::duration<double>(now - lastAt_).count();
    if (seconds < 1.0) return rate_;
    const std::uint64_t bytes = Bytes();
    rate_ = bytes >= lastBytes_ ? static_cast<double>(bytes - lastBytes_) / seconds / 1e6 : -1;
    lastBytes_ = bytes;
    lastAt_ = now;
    return rate_;
}

void UnitProgressSink::Report(const std::string& step, int percent) {
    UnitProgress progress;
    {
        std::lock_guard lock(mutex_);
        step_ = step;
        percent_ = percent;
        progress = {step_, percent_, Rate()};
    }
    view_.Progress(index_, progress);
}

void UnitProgressSink::SetPos(int position) {
    std::string step;
    {
        std::lock_guard lock(mutex_);
        step = step_;
    }
    Report(step, position);
}

int UnitProgressSink::GetPos() {
    std::lock_guard lock(mutex_);
    return percent_;
}

void UnitProgressSink::SetAction(const u16& text) {
    int percent = 0;
    {
        std::lock_guard lock(mutex_);
        percent = percent_;
    }
    Report(FirstLine(text), percent);
}

namespace {
SetupRecord InFolder(SetupRecord record, const SetupRecord& folders) {
    record.m_exeFolder = folders.m_exeFolder;
    record.m_distFolder = folders.m_distFolder;
    return record;
}
}  // namespace

UnitRun::UnitRun(AppParts& app, const SetupRecord& record, const std::string& name,
                 RolloutView& view, std::size_t index, const std::stop_source& stop)
    : progress_(view, index),
      services_({app.services.clock(), boxes_, app.services.env(), [](std::string_view) {}}),
      request_(InFolder(record, app.record)),
      engine_(services_, request_),
      writer_(engine_),
      cancel_(ForwardStop(stop, engine_)) {
    writer_.m_stickWriterPlaces = app.stickWriter.m_stickWriterPlaces;
    engine_.m_pProgressDlg = &progress_;
    engine_.SetDiskService(&app.engine.diskService());
    const std::string prefix = "[" + name + "] ";
    services_.SetLogSink([&app, prefix](std::string_view line) {
        app.services.WriteLogLine(prefix + std::string(line));
    });
}

std::stop_callback<std::function<void()>> ForwardStop(const std::stop_source& rollout,
                                                      MediaEngine& engine) {
    return std::stop_callback<std::function<void()>>(
        rollout.get_token(),
        std::function<void()>([&engine] { engine.m_workerStop.request_stop(); }));
}

std::string KindReason(const Outcome& outcome) {
    const char* what = nullptr;
    switch (outcome.kind) {
        case OutcomeKind::ToolFailed:
            what = "a tool failed";
            break;
        case OutcomeKind::StickGone:
            what = "the stick was removed or stopped responding";
            break;
        case OutcomeKind::StickMissing:
            what = "the stick was not found";
            break;
        case OutcomeKind::WriteError:
            what = "a write failed";
            break;
        case OutcomeKind::Verification:
            what = "the read-back failed";
            break;
        case OutcomeKind::Refused:
            what = "the stick was refused";
            break;
        case OutcomeKind::Blocked:
            what = "another program holds the stick";
            break;
        case OutcomeKind::None:
        case OutcomeKind::Canceled:
            return {};
    }
    if (outcome.error == 0) return what;
    return std::string(what) + ": " + AppServices::SystemErrorText(outcome.error);
}

UnitStatus UnitStatusOf(int setupStatus, const Outcome& ended, bool stopRequested) {
    if (setupStatus == SetupComplete) return UnitStatus::Done;
    if (setupStatus == SetupCanceled || stopRequested || ended.kind == OutcomeKind::Canceled) {
        return UnitStatus::Canceled;
    }
    return UnitStatus::Failed;
}

std::string UnitRun::Reason(const Outcome& ended, const std::string& fallback) const {
    const std::string box = boxes_.Reason();
    if (!box.empty()) return box;
    if (!ended.toolLine.empty()) return ended.toolLine;
    if (const std::string kind = KindReason(ended); !kind.empty()) return kind;
    return Reason(fallback);
}

std::string UnitRun::Reason(const std::string& fallback) const {
    const std::string box = boxes_.Reason();
    if (!box.empty()) return box;
    if (!engine_.m_lastToolLine.empty()) return engine_.m_lastToolLine;
    return fallback;
}

}  // namespace flintmere
