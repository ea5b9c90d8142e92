#include "support/qt/box_watcher.h"

#include <QApplication>
#include <QPushButton>

namespace flintmere::testing {

BoxWatcher::BoxWatcher() {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start(20);
}

void BoxWatcher::Poll() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (!box || !box->isVisible() || box->property("answered").toBool()) continue;
        box->setProperty("answered", true);
        SeenBox shown{box->windowTitle().toStdString(), box->text().toStdString(), box->icon(),
                      box->standardButtons(), box->windowModality() == Qt::ApplicationModal};
        seen.push_back(shown);
        QAbstractButton* button = box->defaultButton();
        if (answer) button = box->button(answer(shown));
        if (button) button->click();
    }
}

}  // namespace flintmere::testing
