// The windows the dialog logic opens besides its own: file dialogs, the
// branding dialog and the progress dialog. The Qt front end implements it;
// tests script it. Message boxes go through the application's Presenter.
#pragma once

#include <optional>

#include "engine/progress_dialog.h"
#include "platform/text.h"

namespace flintmere {
class MediaEngine;
}

namespace flintmere::ui {

class CBrandingDlg;

// Which dialog owns a file dialog.
enum class DialogOwner { MainDialog, BrandingDialog };

struct FileDialogRequest {
    u16 filterName;                // "database files", "ISO Files (*.iso)", "All Files"
    u16 filterPattern;             // "*.xml", "*.iso", "*.*" (shows every file)
    u16 defaultExtension;          // "iso" for the save-as; empty otherwise
    bool mustExist = false;        // the file and its path must exist
    bool overwritePrompt = false;  // ask before replacing a file
    bool hideReadOnly = false;
    DialogOwner owner = DialogOwner::MainDialog;
};

class DialogHost {
  public:
    virtual ~DialogHost() = default;
    // The chosen full path, or nothing when the operator cancelled.
    virtual std::optional<u16> OpenFile(const FileDialogRequest& request) = 0;
    virtual std::optional<u16> SaveFile(const FileDialogRequest& request) = 0;
    // Runs the branding dialog modally over `dialog` (the host builds the
    // window, binds a surface, calls OnInitDialog, forwards events, asks
    // OnOK on OK); true when it ended with OK.
    virtual bool RunBranding(CBrandingDlg& dialog) = 0;
    // Builds the progress dialog object before the worker starts; its window
    // does not exist yet, so IsReady() stays false until RunProgress shows it.
    virtual ProgressDialog& CreateProgressDialog() = 0;
    // Shows the dialog made by CreateProgressDialog modally, serves the
    // worker's calls, and returns when the worker asked it to close, or the
    // operator cancelled (engine.CancelSetup) or closed it
    // (engine.CloseSetup). The dialog object lives until the next
    // CreateProgressDialog or the host's end.
    virtual void RunProgress(MediaEngine& engine) = 0;
    // Ends the main dialog's modal run with `result` (kIdOk or kIdCancel).
    virtual void EndMainDialog(int result) = 0;
};

}  // namespace flintmere::ui
