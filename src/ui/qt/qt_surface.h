// The control surface over real widgets. Operator actions become events:
// a click is `clicked`, a list choice is `activated`, a lost focus is the
// control's focus-out. Nothing the program sets raises an event.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <map>
#include <vector>

#include "ui/control_surface.h"

namespace flintmere::ui::qt {

class QtSurface : public QObject, public ControlSurface {
  public:
    QtSurface() = default;

    // Adds the controls of a dialog and connects their events.
    void Register(const std::map<int, QWidget*>& controls);
    void SetSink(EventSink* sink) { sink_ = sink; }
    QWidget* Widget(int id) const;
    // Ids the logic addressed that no control has, in the order used.
    const std::vector<int>& UnknownIds() const { return unknown_; }

    bool IsChecked(int id) const override;
    void SetCheck(int id, bool checked) override;
    bool IsEnabled(int id) const override;
    void Enable(int id, bool enabled) override;
    bool IsShown(int id) const override;
    void Show(int id, bool shown) override;
    u16 GetText(int id) const override;
    void SetText(int id, const u16& text) override;
    void SetFocus(int id) override;
    void SetTextLimit(int id, int limit) override;
    int TextLimit(int id) const override;
    int ComboAdd(int id, const u16& text) override;
    int ComboInsert(int id, int index, const u16& text) override;
    void ComboReset(int id) override;
    void ComboSelect(int id, int index) override;
    int ComboSelection(int id) const override;
    int ComboCount(int id) const override;
    u16 ComboEntry(int id, int index) const override;
    IpFields GetAddress(int id) const override;
    void SetAddress(int id, const IpFields& fields) override;
    void ClearAddress(int id) override;
    bool IsAddressBlank(int id) const override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Raise(int id, ControlEvent event);
    // The edit or address control holding the focus, or -1.
    int FocusedFieldId() const;

    std::map<int, QPointer<QWidget>> controls_;
    std::map<QObject*, int> editIds_;
    // A group box's own enabled state: its controls keep theirs.
    std::map<int, bool> groupEnabled_;
    mutable std::vector<int> unknown_;
    EventSink* sink_ = nullptr;
    bool movingFocus_ = false;
};

QString ToQString(const u16& text);
u16 FromQString(const QString& text);

}  // namespace flintmere::ui::qt
