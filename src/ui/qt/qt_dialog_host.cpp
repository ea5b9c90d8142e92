#include "ui/qt/qt_dialog_host.h"

#include <QFileDialog>

#include "platform/presenter.h"
#include "ui/branding_dlg.h"
#include "ui/control_ids.h"
#include "ui/qt/branding_widget.h"
#include "ui/qt/qt_surface.h"

namespace flintmere::ui::qt {
namespace {

// Between the branding widgets and the branding logic: OK asks the logic
// whether the dialog may end, Cancel ends it, the rest goes to the logic.
class BrandingEvents : public EventSink {
  public:
    BrandingEvents(CBrandingDlg& dialog, QDialog& widget) : dialog_(dialog), widget_(widget) {}
    void OnControlEvent(int id, ControlEvent event) override {
        if (id == IdOk && event == ControlEvent::Clicked) {
            if (dialog_.OnOK()) widget_.done(QDialog::Accepted);
        } else if (id == IdCancel && event == ControlEvent::Clicked) {
            widget_.done(QDialog::Rejected);
        } else {
            dialog_.OnControlEvent(id, event);
        }
    }

  private:
    CBrandingDlg& dialog_;
    QDialog& widget_;
};

}  // namespace

QString FileFilter(const FileDialogRequest& request) {
    QString name = ToQString(request.filterName);
    QString pattern = ToQString(request.filterPattern);
    // "*.*" means every file, also names without a dot.
    if (pattern.isEmpty() || pattern == QLatin1String("*.*")) pattern = QStringLiteral("*");
    pattern.replace(u';', u' ');
    if (name.endsWith(u')') && name.contains(u'(')) name = name.left(name.lastIndexOf(u'('));
    name = name.trimmed();
    return QStringLiteral("%1 (%2)").arg(name, pattern);
}

std::optional<u16> QtDialogHost::RunFileDialog(const FileDialogRequest& request, bool save) {
    QWidget* owner =
        request.owner == DialogOwner::BrandingDialog && branding_ ? branding_.data() : &main_;
    QFileDialog dialog(owner, save ? QStringLiteral("Save As") : QStringLiteral("Open"));
    // Our own dialog works the same under pkexec, where no desktop portal answers.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save || !request.mustExist ? QFileDialog::AnyFile
                                                  : QFileDialog::ExistingFile);
    dialog.setNameFilter(FileFilter(request));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.overwritePrompt);
    if (!request.defaultExtension.empty()) {
        dialog.setDefaultSuffix(ToQString(request.defaultExtension));
    }
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return std::nullopt;
    return FromQString(files.first());
}

std::optional<u16> QtDialogHost::OpenFile(const FileDialogRequest& request) {
    return RunFileDialog(request, false);
}

std::optional<u16> QtDialogHost::SaveFile(const FileDialogRequest& request) {
    return RunFileDialog(request, true);
}

bool QtDialogHost::RunBranding(CBrandingDlg& dialog) {
    BrandingWidget widget(&main_);
    QtSurface surface;
    surface.Register(widget.Controls());
    BrandingEvents events(dialog, widget);
    surface.SetSink(&events);
    widget.onCancel = [&events] { events.OnControlEvent(IdCancel, ControlEvent::Clicked); };
    dialog.OnInitDialog(surface);
    branding_ = &widget;
    const int result = widget.exec();
    branding_ = nullptr;
    return result == QDialog::Accepted;
}

ProgressDialog& QtDialogHost::CreateProgressDialog() {
    // The last run's dialog has no worker left; it goes with the next turn of the loop.
    if (progress_) progress_->deleteLater();
    progress_ = new ProgressWidget(&main_);
    return *progress_;
}

void QtDialogHost::RunProgress(MediaEngine& engine) {
    if (!progress_) CreateProgressDialog();
    progress_->Run(engine);
}

void QtDialogHost::EndMainDialog(int result) {
    main_.done(result == kIdOk ? QDialog::Accepted : QDialog::Rejected);
}

}  // namespace flintmere::ui::qt
