#include "ui/qt/progress_widget.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

#include "engine/media_engine.h"
#include "ui/qt/app_icon.h"

namespace flintmere::ui::qt {
namespace {

QString ToQt(const u16& text) {
    QString s = QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return s;
}

// While the dialog waits for a stopping worker it keeps serving the worker's
// calls, but the operator's input waits.
void ServeWorker() {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace

ProgressWidget::ProgressWidget(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Setup Progress"));
    setWindowIcon(AppIcon());
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);

    bar_ = new QProgressBar(this);
    bar_->setRange(0, 100);
    bar_->setValue(0);
    bar_->setTextVisible(true);
    bar_->setAccessibleName(QStringLiteral("Progress"));
    action_ = new QLabel(QStringLiteral("Action:"), this);
    action_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    action_->setWordWrap(true);
    action_->setMinimumHeight(action_->fontMetrics().lineSpacing() * 2 + 4);
    action_->setAccessibleName(QStringLiteral("Action"));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->hide();
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setDefault(true);
    connect(cancel_, &QPushButton::clicked, this, [this] { reject(); });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(bar_);
    layout->addWidget(action_);
    layout->addLayout(buttons);
    setFixedSize(std::max(sizeHint().width(), fontMetrics().averageCharWidth() * 52),
                 sizeHint().height());
}

template <typename F>
void ProgressWidget::OnOwnThread(F&& call) {
    if (QThread::currentThread() == thread()) {
        call();
    } else {
        QMetaObject::invokeMethod(this, std::forward<F>(call), Qt::BlockingQueuedConnection);
    }
}

bool ProgressWidget::IsReady() {
    return ready_.load();
}

void ProgressWidget::SetPos(int position) {
    OnOwnThread([this, position] { bar_->setValue(position); });
}

int ProgressWidget::GetPos() {
    int position = 0;
    OnOwnThread([this, &position] { position = bar_->value(); });
    return position;
}

void ProgressWidget::SetAction(const u16& text) {
    const QString shown = ToQt(text);
    OnOwnThread([this, shown] { action_->setText(shown); });
}

void ProgressWidget::RequestClose() {
    closing_ = true;
    // Asynchronous: the worker goes on at once.
    QMetaObject::invokeMethod(
        this, [this] { done(QDialog::Rejected); }, Qt::QueuedConnection);
}

void ProgressWidget::Run(MediaEngine& engine) {
    engine_ = &engine;
    if (!closing_) exec();
    // No worker may outlive the dialog it reports to.
    engine.WaitWorker(ServeWorker);
    engine_ = nullptr;
}

void ProgressWidget::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    bar_->setRange(0, 100);
    ready_ = true;
}

void ProgressWidget::reject() {
    Stop(false);
}

void ProgressWidget::closeEvent(QCloseEvent* event) {
    event->ignore();
    Stop(true);
}

void ProgressWidget::Stop(bool closeBox) {
    if (stopping_) return;
    if (!closing_ && engine_) {
        stopping_ = true;
        cancel_->setEnabled(false);
        if (closeBox) {
            engine_->CloseSetup(ServeWorker);
        } else {
            engine_->CancelSetup(ServeWorker);
        }
        stopping_ = false;
    }
    done(QDialog::Rejected);
}

}  // namespace flintmere::ui::qt
