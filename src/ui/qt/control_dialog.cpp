#include "ui/qt/control_dialog.h"

#include <QLabel>

#include "ui/qt/ip_address_edit.h"

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
    const QString name = ShownText(label->text());
    field->setAccessibleName(name);
    if (auto* ip = qobject_cast<IpAddressEdit*>(field)) {
        for (int i = 0; i < 4; ++i) {
            ip->Field(i)->setAccessibleName(QStringLiteral("%1 part %2 of 4").arg(name).arg(i + 1));
        }
    }
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
