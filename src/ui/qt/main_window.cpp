#include "ui/qt/main_window.h"

#include <QCoreApplication>

#include "ui/qt/accessibility.h"

namespace flintmere::ui::qt {

MainWindow::AccessibilityFirst::AccessibilityFirst() {
    InstallAccessibility();
}

MainWindow::MainWindow(AppParts& app) : app_(app), boxes_(&widget_) {
    surface_.Register(widget_.Controls());
    host_ = std::make_unique<QtDialogHost>(widget_);
    logic_ = std::make_unique<CflintmereDlg>(app_, surface_, *host_);
    surface_.SetSink(logic_.get());
    widget_.onCancel = [this] { logic_->OnControlEvent(IdCancel, ControlEvent::Clicked); };
    if (auto* forwarding = dynamic_cast<ForwardingPresenter*>(&app_.services.presenter())) {
        previousTarget_ = forwarding->Target();
        forwarding->SetTarget(&boxes_);
    }
}

MainWindow::~MainWindow() {
    // No worker may report to widgets that are going away.
    app_.engine.WaitWorker([] { QCoreApplication::processEvents(); });
    if (auto* forwarding = dynamic_cast<ForwardingPresenter*>(&app_.services.presenter())) {
        forwarding->SetTarget(previousTarget_);
    }
}

bool MainWindow::Start() {
    if (!logic_->OnInitDialog() || logic_->Ended()) return false;
    widget_.show();
    widget_.raise();
    widget_.activateWindow();
    return true;
}

int MainWindow::Run() {
    if (!Start()) return 1;
    app_.services.WriteLog("RunMainWindow(): window shown");
    widget_.exec();
    return 0;
}

}  // namespace flintmere::ui::qt
