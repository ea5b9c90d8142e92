#include "support/recording_presenter.h"

namespace flintmere {

int RecordingPresenter::ShowMessage(const u16& text, const u16& caption, unsigned style,
                                    bool owned) {
    std::lock_guard lock(mutex_);
    shown_.push_back({text, caption, style, owned});
    if ((style & 0xF) != kMbYesNo) return kIdOk;
    if (answers_.empty()) return kIdYes;
    int answer = answers_.front();
    answers_.erase(answers_.begin());
    return answer;
}

std::vector<ShownMessage> RecordingPresenter::Shown() const {
    std::lock_guard lock(mutex_);
    return shown_;
}

void RecordingPresenter::ScriptAnswers(std::vector<int> answers) {
    std::lock_guard lock(mutex_);
    answers_ = std::move(answers);
}

void RecordingPresenter::Clear() {
    std::lock_guard lock(mutex_);
    shown_.clear();
}

}  // namespace flintmere
