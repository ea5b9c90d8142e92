#include "support/qt/qt_operator.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <algorithm>

#include "ui/qt/ip_address_edit.h"

namespace flintmere::testing {

using ui::qt::IpAddressEdit;
using ui::qt::ToQString;

QWidget* QtOperator::Reach(int id) {
    QWidget* widget = surface_.Widget(id);
    if (!widget || !widget->isEnabled() || !widget->isVisible()) {
        ++refused_;
        return nullptr;
    }
    return widget;
}

void QtOperator::Focus(QWidget* widget) {
    // A press where the widget is, without its click action (a combo would
    // open its list): the focus moves as it does under the mouse.
    widget->setFocus(Qt::MouseFocusReason);
    QApplication::processEvents();
}

void QtOperator::Click(int id) {
    QWidget* widget = Reach(id);
    if (!widget) return;
    // A check box takes clicks on its box and text, not on the empty rest of its row.
    const QPoint at(std::min(8, widget->width() / 2), widget->height() / 2);
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, at);
    QApplication::processEvents();
}

void QtOperator::Type(int id, const u16& text) {
    auto* edit = qobject_cast<QLineEdit*>(Reach(id));
    if (!edit || edit->isReadOnly()) {
        if (edit) ++refused_;
        return;
    }
    QTest::mouseClick(edit, Qt::LeftButton, Qt::NoModifier, edit->rect().center());
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    if (text.empty()) {
        QTest::keyClick(edit, Qt::Key_Backspace);
    } else {
        QTest::keyClicks(edit, ToQString(text));
    }
    QApplication::processEvents();
}

void QtOperator::TypeAddress(int id, const ui::IpFields& fields) {
    auto* ip = qobject_cast<IpAddressEdit*>(Reach(id));
    if (!ip) return;
    for (int i = 0; i < 4; ++i) {
        QLineEdit* field = ip->Field(i);
        QTest::mouseClick(field, Qt::LeftButton, Qt::NoModifier, field->rect().center());
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        const int value = fields[static_cast<std::size_t>(i)];
        if (value < 0) {
            QTest::keyClick(field, Qt::Key_Backspace);
        } else {
            QTest::keyClicks(field, QString::number(value));
        }
    }
    QApplication::processEvents();
}

void QtOperator::Leave(int id) {
    QWidget* widget = surface_.Widget(id);
    QWidget* focus = QApplication::focusWidget();
    if (!widget || !focus || (focus != widget && !widget->isAncestorOf(focus))) {
        ++refused_;
        return;
    }
    focus->clearFocus();
    QApplication::processEvents();
}

void QtOperator::Choose(int id, int index) {
    auto* combo = qobject_cast<QComboBox*>(Reach(id));
    if (!combo) return;
    if (index < 0 || index >= combo->count()) {
        ++refused_;
        return;
    }
    // Open the list with the keyboard, pick the entry, confirm with Return:
    // one choice, one event.
    Focus(combo);
    QTest::keyClick(combo, Qt::Key_F4);
    QAbstractItemView* view = combo->view();
    view->setCurrentIndex(combo->model()->index(index, combo->modelColumn()));
    QTest::keyClick(view, Qt::Key_Return);
    QApplication::processEvents();
    // A desktop gives the activation back to the window when the list closes;
    // the offscreen platform leaves that to us.
    if (QApplication::activeWindow() != combo->window()) {
        QApplication::setActiveWindow(combo->window());
        QApplication::processEvents();
    }
}

}  // namespace flintmere::testing
