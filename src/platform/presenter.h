// Message boxes and questions go through a presenter: a real window, the
// console of the batch mode, or a test double.
#pragma once

#include <cstdio>

#include "platform/text.h"

namespace flintmere {

// Message box styles and answers, with the values the operator-facing code uses.
enum : unsigned {
    kMbOk = 0x0,
    kMbYesNo = 0x4,
    kMbIconStop = 0x10,
    kMbIconWarning = 0x30,
    kMbIconMask = 0xF0,
    kMbTaskModal = 0x2000,
    kMbSetForeground = 0x10000,
    kMbWarningStyle = 0x12030,  // OK, warning icon, task-modal, foreground
};
enum : int { kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7 };

// The application's own caption, for the boxes that carry it.
inline const u16 kApplicationTitle = u"flintmere";

class Presenter {
  public:
    virtual ~Presenter() = default;
    // Shows a box and returns the button pressed. `owned` is true for boxes
    // owned by the main dialog.
    virtual int ShowMessage(const u16& text, const u16& caption, unsigned style,
                            bool owned = false) = 0;
};

// Batch mode: "CAPTION: text" on standard error; never waits for an answer.
class ConsolePresenter final : public Presenter {
  public:
    explicit ConsolePresenter(std::FILE* out = stderr) : out_(out) {}
    int ShowMessage(const u16& text, const u16& caption, unsigned style,
                    bool owned = false) override;

  private:
    std::FILE* out_;
};

// Passes each box on to its target, which the window run switches to its own
// boxes; the batch mode keeps the console.
class ForwardingPresenter final : public Presenter {
  public:
    explicit ForwardingPresenter(Presenter& target) : target_(&target) {}
    int ShowMessage(const u16& text, const u16& caption, unsigned style,
                    bool owned = false) override {
        return target_->ShowMessage(text, caption, style, owned);
    }
    Presenter* Target() const { return target_; }
    // Set only while no worker runs.
    void SetTarget(Presenter* target) { target_ = target; }

  private:
    Presenter* target_;
};

}  // namespace flintmere
