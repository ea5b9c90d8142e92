// The progress dialog of a running setup. The worker reports through it from
// its own thread; each synchronous call runs on the dialog's thread and
// returns once the dialog shows it. Cancel, Escape and the close box stop the
// worker through the engine and end the dialog only when the worker has ended.
#pragma once

#include <QDialog>
#include <atomic>

#include "engine/progress_dialog.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace flintmere {
class MediaEngine;
}

namespace flintmere::ui::qt {

class ProgressWidget : public QDialog, public ProgressDialog {
  public:
    explicit ProgressWidget(QWidget* parent);

    bool IsReady() override;
    void SetPos(int position) override;
    int GetPos() override;
    void SetAction(const u16& text) override;
    void RequestClose() override;

    // Runs the dialog modally until the worker asks it to close, or the
    // operator cancels or closes it; returns after the worker has ended.
    void Run(MediaEngine& engine);

    QProgressBar* Bar() const { return bar_; }
    QLabel* ActionText() const { return action_; }
    QPushButton* CancelButton() const { return cancel_; }

  protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    template <typename F>
    void OnOwnThread(F&& call);
    // Stops the worker (Cancel, or the close box when `closeBox`) and ends.
    void Stop(bool closeBox);

    QProgressBar* bar_;
    QLabel* action_;
    QPushButton* cancel_;
    MediaEngine* engine_ = nullptr;
    std::atomic<bool> ready_{false};
    std::atomic<bool> closing_{false};
    bool stopping_ = false;
};

}  // namespace flintmere::ui::qt
