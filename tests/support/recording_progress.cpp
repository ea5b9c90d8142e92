#include "support/recording_progress.h"

namespace flintmere::testing {

bool RecordingProgress::IsReady() {
    std::lock_guard lock(mutex_);
    ++readyChecks_;
    if (readyAfter_ > 0 && --readyAfter_ == 0) ready_ = true;
    return ready_;
}

void RecordingProgress::SetPos(int position) {
    std::lock_guard lock(mutex_);
    position_ = position;
    events_.push_back({Event::Pos, position, {}});
}

int RecordingProgress::GetPos() {
    std::lock_guard lock(mutex_);
    return position_;
}

void RecordingProgress::SetAction(const u16& text) {
    std::function<void(const u16&)> hook;
    {
        std::lock_guard lock(mutex_);
        events_.push_back({Event::Action, 0, text});
        hook = onAction_;
    }
    if (hook) hook(text);
}

void RecordingProgress::OnAction(std::function<void(const u16&)> hook) {
    std::lock_guard lock(mutex_);
    onAction_ = std::move(hook);
}

void RecordingProgress::RequestClose() {
    std::lock_guard lock(mutex_);
    events_.push_back({Event::Close, 0, {}});
}

void RecordingProgress::SetReady(bool ready) {
    std::lock_guard lock(mutex_);
    ready_ = ready;
    readyAfter_ = -1;
}

void RecordingProgress::BecomeReadyAfter(int checks) {
    std::lock_guard lock(mutex_);
    ready_ = checks <= 0;
    readyAfter_ = checks;
}

void RecordingProgress::SetCurrentPos(int position) {
    std::lock_guard lock(mutex_);
    position_ = position;
}

std::vector<int> RecordingProgress::Positions() const {
    std::lock_guard lock(mutex_);
    std::vector<int> out;
    for (const Event& e : events_) {
        if (e.kind == Event::Pos) out.push_back(e.position);
    }
    return out;
}

std::vector<u16> RecordingProgress::Actions() const {
    std::lock_guard lock(mutex_);
    std::vector<u16> out;
    for (const Event& e : events_) {
        if (e.kind == Event::Action) out.push_back(e.text);
    }
    return out;
}

std::vector<RecordingProgress::Event> RecordingProgress::Events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

int RecordingProgress::CloseRequests() const {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (const Event& e : events_) n += e.kind == Event::Close;
    return n;
}

int RecordingProgress::ReadyChecks() const {
    std::lock_guard lock(mutex_);
    return readyChecks_;
}

}  // namespace flintmere::testing
