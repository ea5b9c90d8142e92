// Message boxes as real windows. Any thread may ask; the box is shown on the
// window's thread and the asking thread waits for the answer.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include "platform/presenter.h"

namespace flintmere::ui::qt {

class QtPresenter : public QObject, public Presenter {
  public:
    // `owner` is the main dialog, the parent of the boxes it owns.
    explicit QtPresenter(QWidget* owner);

    int ShowMessage(const u16& text, const u16& caption, unsigned style,
                    bool owned = false) override;
    // While quitting no box waits for an answer: OK, and No for questions.
    void SetQuitting(bool quitting) { quitting_ = quitting; }

  private:
    int Show(const u16& text, const u16& caption, unsigned style, bool owned);

    QPointer<QWidget> owner_;
    bool quitting_ = false;
};

// The answer a box gives without an operator.
int DefaultAnswer(unsigned style);

}  // namespace flintmere::ui::qt
