#include "ui/qt/control_dialog.h"

#include <QLabel>

namespace flintmere::ui::qt {

QWidget* ControlDialog::Control(int id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

void ControlDialog::reject() {
    if (onCancel) {
        onCancel();
    } else {
        QDialog::reject();
    }
}

void ControlDialog::Label(QLabel* label, QWidget* field) {
    label->setBuddy(field);
    field->setAccessibleName(ShownText(label->text()));
}

QString ShownText(const QString& text) {
    QString shown;
    shown.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && i + 1 < text.size()) ++i;
        shown += text[i];
    }
    return shown;
}

}  // namespace flintmere::ui::qt
