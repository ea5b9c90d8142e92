#include "ui/qt/ip_address_edit.h"

#include <QApplication>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QRegularExpressionValidator>
#include <algorithm>

namespace flintmere::ui::qt {

IpAddressEdit::IpAddressEdit(QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(1);
    auto* validator =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), this);
    const int width = fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 12;
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (i > 0) {
            auto* dot = new QLabel(QStringLiteral("."), this);
            dot->setAccessibleName(QString());
            layout->addWidget(dot);
        }
        auto* field = new QLineEdit(this);
        field->setMaxLength(3);
        field->setValidator(validator);
        field->setAlignment(Qt::AlignCenter);
        field->setFixedWidth(width);
        field->installEventFilter(this);
        connect(field, &QLineEdit::textEdited, this, [this, i](const QString& text) {
            // Three digits complete a field, as the operator expects from the control.
            if (text.size() == 3 && i + 1 < fields_.size()) {
                ClampField(static_cast<int>(i));
                fields_[i + 1]->setFocus(Qt::TabFocusReason);
                fields_[i + 1]->selectAll();
            }
            emit addressChanged();
        });
        fields_[i] = field;
        layout->addWidget(field);
    }
    layout->addStretch(1);
    setFocusProxy(fields_[0]);
}

std::array<int, 4> IpAddressEdit::Fields() const {
    std::array<int, 4> values{};
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        values[i] = fields_[i]->text().isEmpty() ? 0 : std::min(255, fields_[i]->text().toInt());
    }
    return values;
}

void IpAddressEdit::SetFields(const std::array<int, 4>& values) {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        fields_[i]->setText(QString::number(std::clamp(values[i], 0, 255)));
    }
    emit addressChanged();
}

void IpAddressEdit::Clear() {
    for (QLineEdit* field : fields_) field->clear();
    emit addressChanged();
}

bool IpAddressEdit::IsBlank() const {
    return std::all_of(fields_.begin(), fields_.end(),
                       [](const QLineEdit* f) { return f->text().isEmpty(); });
}

QString IpAddressEdit::AddressText() const {
    if (IsBlank()) return QString();
    const std::array<int, 4> v = Fields();
    return QStringLiteral("%1.%2.%3.%4").arg(v[0]).arg(v[1]).arg(v[2]).arg(v[3]);
}

int IpAddressEdit::IndexOf(QObject* field) const {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (fields_[i] == field) return static_cast<int>(i);
    }
    return -1;
}

bool IpAddressEdit::OwnsFocusWidget(QWidget* widget) const {
    return widget && IndexOf(widget) >= 0;
}

void IpAddressEdit::ClampField(int index) {
    QLineEdit* field = fields_[static_cast<std::size_t>(index)];
    if (!field->text().isEmpty() && field->text().toInt() > 255) {
        field->setText(QStringLiteral("255"));
    }
}

bool IpAddressEdit::eventFilter(QObject* watched, QEvent* event) {
    const int index = IndexOf(watched);
    if (index < 0) return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        QLineEdit* field = fields_[static_cast<std::size_t>(index)];
        const bool atStart = field->cursorPosition() == 0 && !field->hasSelectedText();
        const bool atEnd = field->cursorPosition() == field->text().size();
        if (key->text() == QLatin1String(".") || key->text() == QLatin1String(" ")) {
            if (index + 1 < 4 && !field->text().isEmpty()) {
                fields_[static_cast<std::size_t>(index + 1)]->setFocus(Qt::TabFocusReason);
                fields_[static_cast<std::size_t>(index + 1)]->selectAll();
            }
            return true;
        }
        if (key->key() == Qt::Key_Backspace && atStart && index > 0) {
            QLineEdit* previous = fields_[static_cast<std::size_t>(index - 1)];
            previous->setFocus(Qt::TabFocusReason);
            previous->setCursorPosition(previous->text().size());
            return true;
        }
        if (key->key() == Qt::Key_Left && atStart && index > 0) {
            QLineEdit* previous = fields_[static_cast<std::size_t>(index - 1)];
            previous->setFocus(Qt::TabFocusReason);
            previous->setCursorPosition(previous->text().size());
            return true;
        }
        if (key->key() == Qt::Key_Right && atEnd && index < 3) {
            QLineEdit* next = fields_[static_cast<std::size_t>(index + 1)];
            next->setFocus(Qt::TabFocusReason);
            next->setCursorPosition(0);
            return true;
        }
    } else if (event->type() == QEvent::FocusOut) {
        ClampField(index);
        auto* focus = static_cast<QFocusEvent*>(event);
        // A box or a menu taking the window's focus is not the operator leaving.
        const bool away = focus->reason() != Qt::ActiveWindowFocusReason &&
                          focus->reason() != Qt::PopupFocusReason;
        if (away && !OwnsFocusWidget(QApplication::focusWidget())) emit lostFocus();
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace flintmere::ui::qt
