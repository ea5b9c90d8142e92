#include "ui/qt/qt_surface.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>

#include "ui/control_ids.h"
#include "ui/qt/ip_address_edit.h"
#include "ui/qt/limited_edit.h"

namespace flintmere::ui::qt {

QString ToQString(const u16& text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

u16 FromQString(const QString& text) {
    return u16(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size()));
}

void QtSurface::Register(const std::map<int, QWidget*>& controls) {
    for (const auto& [id, widget] : controls) {
        controls_[id] = widget;
        const int eventId = id;
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            connect(button, &QAbstractButton::clicked, this, [this, eventId] {
                // Enter presses OK with the focus still in a field: that
                // field is stored first, as leaving it would have.
                if (eventId == IdOk) {
                    if (const int field = FocusedFieldId(); field >= 0) {
                        Raise(field, ControlEvent::LostFocus);
                    }
                }
                Raise(eventId, ControlEvent::Clicked);
            });
        } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            connect(combo, &QComboBox::activated, this,
                    [this, eventId] { Raise(eventId, ControlEvent::SelectionChanged); });
        } else if (auto* ip = qobject_cast<IpAddressEdit*>(widget)) {
            connect(ip, &IpAddressEdit::lostFocus, this, [this, eventId] {
                if (!movingFocus_) Raise(eventId, ControlEvent::LostFocus);
            });
        } else if (qobject_cast<QLineEdit*>(widget)) {
            editIds_[widget] = id;
            widget->installEventFilter(this);
        }
    }
}

QWidget* QtSurface::Widget(int id) const {
    auto it = controls_.find(id);
    if (it == controls_.end()) {
        unknown_.push_back(id);
        return nullptr;
    }
    return it->second.data();
}

int QtSurface::FocusedFieldId() const {
    QWidget* focus = QApplication::focusWidget();
    if (!focus) return -1;
    if (auto it = editIds_.find(focus); it != editIds_.end()) return it->second;
    for (const auto& [id, widget] : controls_) {
        auto* ip = qobject_cast<IpAddressEdit*>(widget.data());
        if (ip && ip->OwnsFocusWidget(focus)) return id;
    }
    return -1;
}

void QtSurface::Raise(int id, ControlEvent event) {
    if (sink_) sink_->OnControlEvent(id, event);
}

bool QtSurface::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut && !movingFocus_) {
        auto it = editIds_.find(watched);
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        // A box or a menu taking the window's focus is not the operator leaving.
        if (it != editIds_.end() && reason != Qt::ActiveWindowFocusReason &&
            reason != Qt::PopupFocusReason) {
            Raise(it->second, ControlEvent::LostFocus);
        }
    }
    return QObject::eventFilter(watched, event);
}

bool QtSurface::IsChecked(int id) const {
    auto* button = qobject_cast<QAbstractButton*>(Widget(id));
    return button && button->isChecked();
}

void QtSurface::SetCheck(int id, bool checked) {
    auto* button = qobject_cast<QAbstractButton*>(Widget(id));
    if (!button) return;
    // A program's check touches that one button only, radios included.
    const bool exclusive = button->autoExclusive();
    button->setAutoExclusive(false);
    button->setChecked(checked);
    button->setAutoExclusive(exclusive);
}

bool QtSurface::IsEnabled(int id) const {
    if (auto it = groupEnabled_.find(id); it != groupEnabled_.end()) return it->second;
    QWidget* widget = Widget(id);
    return widget && !widget->testAttribute(Qt::WA_ForceDisabled);
}

void QtSurface::Enable(int id, bool enabled) {
    QWidget* widget = Widget(id);
    if (!widget) return;
    if (qobject_cast<QGroupBox*>(widget)) {
        groupEnabled_[id] = enabled;
        return;
    }
    widget->setEnabled(enabled);
}

bool QtSurface::IsShown(int id) const {
    QWidget* widget = Widget(id);
    return widget && !widget->isHidden();
}

void QtSurface::Show(int id, bool shown) {
    if (QWidget* widget = Widget(id)) widget->setHidden(!shown);
}

u16 QtSurface::GetText(int id) const {
    QWidget* widget = Widget(id);
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) return FromQString(edit->text());
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) return FromQString(button->text());
    if (auto* label = qobject_cast<QLabel*>(widget)) return FromQString(label->text());
    if (auto* combo = qobject_cast<QComboBox*>(widget)) return FromQString(combo->currentText());
    if (auto* group = qobject_cast<QGroupBox*>(widget)) return FromQString(group->title());
    if (auto* ip = qobject_cast<IpAddressEdit*>(widget)) return FromQString(ip->AddressText());
    return {};
}

void QtSurface::SetText(int id, const u16& text) {
    QWidget* widget = Widget(id);
    const QString value = ToQString(text);
    if (auto* limited = qobject_cast<LimitedEdit*>(widget)) {
        limited->SetWholeText(value);
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        edit->setText(value);
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(value);
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(value);
    } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
        group->setTitle(value);
    } else if (auto* ip = qobject_cast<IpAddressEdit*>(widget)) {
        const QStringList parts = value.split(u'.');
        if (parts.size() == 4) {
            IpFields fields{};
            for (int i = 0; i < 4; ++i) fields[static_cast<std::size_t>(i)] = parts[i].toInt();
            ip->SetFields(fields);
        } else {
            ip->Clear();
        }
    }
}

void QtSurface::SetFocus(int id) {
    QWidget* widget = Widget(id);
    if (!widget) return;
    // The program moving the focus is not the operator leaving a field.
    movingFocus_ = true;
    widget->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) edit->selectAll();
    movingFocus_ = false;
}

void QtSurface::SetTextLimit(int id, int limit) {
    if (auto* edit = qobject_cast<LimitedEdit*>(Widget(id))) edit->SetTextLimit(limit);
}

int QtSurface::TextLimit(int id) const {
    auto* edit = qobject_cast<LimitedEdit*>(Widget(id));
    return edit ? edit->TextLimit() : 0;
}

int QtSurface::ComboAdd(int id, const u16& text) {
    auto* combo = qobject_cast<QComboBox*>(Widget(id));
    if (!combo) return -1;
    return ComboInsert(id, combo->count(), text);
}

int QtSurface::ComboInsert(int id, int index, const u16& text) {
    auto* combo = qobject_cast<QComboBox*>(Widget(id));
    if (!combo) return -1;
    if (index < 0 || index > combo->count()) index = combo->count();
    // A list gets a selection only when the program makes one.
    const bool hadSelection = combo->currentIndex() >= 0;
    combo->insertItem(index, ToQString(text));
    if (!hadSelection) combo->setCurrentIndex(-1);
    return index;
}

void QtSurface::ComboReset(int id) {
    if (auto* combo = qobject_cast<QComboBox*>(Widget(id))) combo->clear();
}

void QtSurface::ComboSelect(int id, int index) {
    auto* combo = qobject_cast<QComboBox*>(Widget(id));
    if (!combo) return;
    combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
}

int QtSurface::ComboSelection(int id) const {
    auto* combo = qobject_cast<QComboBox*>(Widget(id));
    return combo ? combo->currentIndex() : -1;
}

int QtSurface::ComboCount(int id) const {
    auto* combo = qobject_cast<QComboBox*>(Widget(id));
    return combo ? combo->count() : 0;
}

u16 QtSurface::ComboEntry(int id, int index) const {
    auto* combo = qobject_cast<QComboBox*>(Widget(id));
    if (!combo || index < 0 || index >= combo->count()) return {};
    return FromQString(combo->itemText(index));
}

IpFields QtSurface::GetAddress(int id) const {
    auto* ip = qobject_cast<IpAddressEdit*>(Widget(id));
    return ip ? ip->Fields() : IpFields{};
}

void QtSurface::SetAddress(int id, const IpFields& fields) {
    if (auto* ip = qobject_cast<IpAddressEdit*>(Widget(id))) ip->SetFields(fields);
}

void QtSurface::ClearAddress(int id) {
    if (auto* ip = qobject_cast<IpAddressEdit*>(Widget(id))) ip->Clear();
}

bool QtSurface::IsAddressBlank(int id) const {
    auto* ip = qobject_cast<IpAddressEdit*>(Widget(id));
    return !ip || ip->IsBlank();
}

}  // namespace flintmere::ui::qt
