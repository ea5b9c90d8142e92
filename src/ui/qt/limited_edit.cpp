#include "ui/qt/limited_edit.h"

#include <algorithm>

namespace flintmere::ui::qt {

LimitedEdit::LimitedEdit(QWidget* parent, int limit) : QLineEdit(parent), limit_(limit) {
    FitMaxLength();
    // Once the operator shortens an over-long text, the limit holds again.
    connect(this, &QLineEdit::textEdited, this, [this] { FitMaxLength(); });
}

void LimitedEdit::SetTextLimit(int limit) {
    limit_ = limit > 0 ? limit : 32767;
    FitMaxLength();
}

void LimitedEdit::SetWholeText(const QString& text) {
    setMaxLength(std::max<int>(limit_, static_cast<int>(text.size())));
    setText(text);
    FitMaxLength();
}

void LimitedEdit::FitMaxLength() {
    setMaxLength(std::max<int>(limit_, static_cast<int>(text().size())));
}

}  // namespace flintmere::ui::qt
