// Records every box the program shows and answers its questions from a
// script, so a test can check texts, captions and order.
#pragma once

#include <mutex>
#include <vector>

#include "platform/presenter.h"

namespace flintmere {

struct ShownMessage {
    u16 text;
    u16 caption;
    unsigned style;
    bool owned;
};

// Records every box; answers questions from a script (default: Yes).
class RecordingPresenter final : public Presenter {
  public:
    int ShowMessage(const u16& text, const u16& caption, unsigned style,
                    bool owned = false) override;
    std::vector<ShownMessage> Shown() const;
    void ScriptAnswers(std::vector<int> answers);
    void Clear();

  private:
    mutable std::mutex mutex_;
    std::vector<ShownMessage> shown_;
    std::vector<int> answers_;
};

}  // namespace flintmere
