// The dialogs the main dialog's logic opens, as real windows: file dialogs,
// the branding dialog and the progress dialog.
#pragma once

#include <QPointer>
#include <QWidget>

#include "ui/dialog_host.h"
#include "ui/qt/progress_widget.h"

namespace flintmere::ui::qt {

class QtDialogHost : public DialogHost {
  public:
    // `mainDialog` owns the dialogs opened from it; it must outlive the host.
    explicit QtDialogHost(QDialog& mainDialog) : main_(mainDialog) {}

    std::optional<u16> OpenFile(const FileDialogRequest& request) override;
    std::optional<u16> SaveFile(const FileDialogRequest& request) override;
    bool RunBranding(CBrandingDlg& dialog) override;
    ProgressDialog& CreateProgressDialog() override;
    void RunProgress(MediaEngine& engine) override;
    void EndMainDialog(int result) override;

    // The progress dialog of the current or last run, if any.
    ProgressWidget* Progress() const { return progress_.data(); }

  private:
    std::optional<u16> RunFileDialog(const FileDialogRequest& request, bool save);

    QDialog& main_;
    QPointer<QWidget> branding_;
    QPointer<ProgressWidget> progress_;
};

// The filter line of a file dialog: "ISO Files (*.iso)", "All Files (*)".
QString FileFilter(const FileDialogRequest& request);

}  // namespace flintmere::ui::qt
