#include "ui/qt/qt_presenter.h"

#include <QMessageBox>
#include <QPushButton>
#include <QThread>

#include "ui/qt/app_icon.h"
#include "ui/qt/qt_surface.h"

namespace flintmere::ui::qt {
namespace {

enum : unsigned {
    kButtonsMask = 0xF,
    kMbOkCancel = 0x1,
    kMbYesNoCancel = 0x3,
    kMbRetryCancel = 0x5,
    kIconMask = 0xF0,
    kMbIconStop = 0x10,
    kMbIconQuestion = 0x20,
    kMbIconInformation = 0x40,
    kIdRetry = 4,
};

QMessageBox::Icon IconOf(unsigned style) {
    switch (style & kIconMask) {
        case kMbIconStop:
            return QMessageBox::Critical;
        case kMbIconQuestion:
            return QMessageBox::Question;
        case kMbIconWarning:
            return QMessageBox::Warning;
        case kMbIconInformation:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

// A box's text with the line ends of its origin made plain line breaks.
QString BoxText(const u16& text) {
    QString s = ToQString(text);
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    s.replace(u'\r', u'\n');
    return s;
}

}  // namespace

int DefaultAnswer(unsigned style) {
    switch (style & kButtonsMask) {
        case kMbYesNo:
            return kIdNo;
        case kMbOkCancel:
        case kMbYesNoCancel:
        case kMbRetryCancel:
            return kIdCancel;
        default:
            return kIdOk;
    }
}

QtPresenter::QtPresenter(QWidget* owner) : owner_(owner) {}

int QtPresenter::ShowMessage(const u16& text, const u16& caption, unsigned style, bool owned) {
    if (QThread::currentThread() == thread()) return Show(text, caption, style, owned);
    int answer = DefaultAnswer(style);
    QMetaObject::invokeMethod(
        this, [&] { answer = Show(text, caption, style, owned); }, Qt::BlockingQueuedConnection);
    return answer;
}

int QtPresenter::Show(const u16& text, const u16& caption, unsigned style, bool owned) {
    if (quitting_) return DefaultAnswer(style);
    QMessageBox box(IconOf(style), ToQString(caption), BoxText(text), QMessageBox::NoButton,
                    owned ? owner_.data() : nullptr);
    box.setWindowIcon(AppIcon());
    switch (style & kButtonsMask) {
        case kMbYesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setDefaultButton(QMessageBox::Yes);
            box.setEscapeButton(QMessageBox::No);
            break;
        case kMbOkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            box.setDefaultButton(QMessageBox::Ok);
            break;
        case kMbYesNoCancel:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            box.setDefaultButton(QMessageBox::Yes);
            break;
        case kMbRetryCancel:
            box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel);
            box.setDefaultButton(QMessageBox::Retry);
            break;
        default:
            box.setStandardButtons(QMessageBox::Ok);
            box.setDefaultButton(QMessageBox::Ok);
            break;
    }
    // Task-modal: no other window of the program takes input meanwhile.
    box.setWindowModality(Qt::ApplicationModal);
    if (style & kMbSetForeground) {
        box.show();
        box.raise();
        box.activateWindow();
    }
    switch (box.exec()) {
        case QMessageBox::Yes:
            return kIdYes;
        case QMessageBox::No:
            return kIdNo;
        case QMessageBox::Cancel:
            return kIdCancel;
        case QMessageBox::Retry:
            return kIdRetry;
        case QMessageBox::Ok:
            return kIdOk;
        default:
            return DefaultAnswer(style);
    }
}

}  // namespace flintmere::ui::qt
