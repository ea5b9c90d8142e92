// The setup window: the main dialog's widgets, their control surface, the
// boxes and dialogs it opens, and the dialog logic over them.
#pragma once

#include <memory>

#include "engine/app_parts.h"
#include "ui/flintmere_dlg.h"
#include "ui/qt/main_dialog_widget.h"
#include "ui/qt/qt_dialog_host.h"
#include "ui/qt/qt_presenter.h"
#include "ui/qt/qt_surface.h"

namespace flintmere::ui::qt {

class MainWindow {
  public:
    // The application's boxes go to this window's presenter while it exists
    // when the application's presenter forwards (see ForwardingPresenter).
    explicit MainWindow(AppParts& app);
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Runs the start-up sequence and shows the window; false when the dialog
    // closed itself (installation files missing).
    bool Start();
    // Start, then the modal run until the dialog ends. Returns the exit status.
    int Run();

    MainDialogWidget& Widget() { return widget_; }
    QtSurface& Surface() { return surface_; }
    QtDialogHost& Host() { return *host_; }
    QtPresenter& Boxes() { return boxes_; }
    CflintmereDlg& Logic() { return *logic_; }

  private:
    // Made before the widgets, so every widget gets our accessible interface.
    struct AccessibilityFirst {
        AccessibilityFirst();
    };

    AppParts& app_;
    AccessibilityFirst accessibility_;
    MainDialogWidget widget_;
    QtSurface surface_;
    QtPresenter boxes_;
    std::unique_ptr<QtDialogHost> host_;
    std::unique_ptr<CflintmereDlg> logic_;
    Presenter* previousTarget_ = nullptr;
};

}  // namespace flintmere::ui::qt
