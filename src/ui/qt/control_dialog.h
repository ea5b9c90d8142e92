// A dialog whose controls carry the ids the dialog logic addresses. Escape
// and the close box go to the cancel handler the owner sets, as the Cancel
// button does.
#pragma once

#include <QDialog>
#include <functional>
#include <map>

class QLabel;

namespace flintmere::ui::qt {

class ControlDialog : public QDialog {
  public:
    explicit ControlDialog(QWidget* parent) : QDialog(parent) {}

    const std::map<int, QWidget*>& Controls() const { return controls_; }
    QWidget* Control(int id) const;

    // Escape and the close box; QDialog's own reject when unset.
    std::function<void()> onCancel;

  protected:
    void reject() override;
    // Keeps `widget` under `id`; hidden controls keep their place in the
    // layout unless `retainPlace` is false.
    template <typename W>
    W* Add(int id, W* widget, bool retainPlace = true) {
        controls_[id] = widget;
        QSizePolicy policy = widget->sizePolicy();
        policy.setRetainSizeWhenHidden(retainPlace);
        widget->setSizePolicy(policy);
        return widget;
    }
    // A field's label: its text as shown names the field for screen readers.
    void Label(QLabel* label, QWidget* field);

  private:
    std::map<int, QWidget*> controls_;
};

// A label text as shown: mnemonic marks removed, "&&" kept as one "&".
QString ShownText(const QString& text);

}  // namespace flintmere::ui::qt
