// A scripted operator and the window it works on, for the dialog scenarios.
// The same scenarios run on the in-memory surface and on the Qt widgets: each
// harness turns these operator actions into the events its window raises.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "support/recording_progress.h"
#include "ui/control_surface.h"
#include "ui/dialog_host.h"

namespace flintmere::testing {

class ScriptedOperator {
  public:
    virtual ~ScriptedOperator() = default;
    // A mouse click on a button, check box or radio: an automatic check box
    // toggles and a radio checks itself (unchecking its group) before the
    // click event, as the controls do. Disabled or hidden controls ignore it.
    virtual void Click(int id) = 0;
    // Focus to an edit and type `text` over its whole content; characters
    // beyond the text limit are refused. No event until the focus leaves.
    virtual void Type(int id, const u16& text) = 0;
    // Focus to an IP address control and type the four fields (a field of -1
    // stays empty). No event until the focus leaves.
    virtual void TypeAddress(int id, const ui::IpFields& fields) = 0;
    // The focus leaves the control: its lost-focus event.
    virtual void Leave(int id) = 0;
    // The operator picks entry `index` of a drop-down list: its
    // selection-changed event.
    virtual void Choose(int id, int index) = 0;

    // Actions refused because their control was disabled, hidden, read-only,
    // of the wrong kind or unknown.
    int Refused() const { return refused_; }

  protected:
    int refused_ = 0;
};

// Scripted answers for the dialogs the logic opens. Records every request.
class ScriptedDialogHost : public ui::DialogHost {
  public:
    // Answers of the file dialogs in order; nullopt is Cancel. An empty
    // queue answers Cancel.
    std::vector<std::optional<u16>> openAnswers;
    std::vector<std::optional<u16>> saveAnswers;
    std::vector<ui::FileDialogRequest> openRequests;
    std::vector<ui::FileDialogRequest> saveRequests;
    // Plays the operator inside the branding dialog: gets the dialog logic
    // and its surface after OnInitDialog; returns true to press OK (the
    // host then asks OnOK and keeps the dialog open while it says false,
    // calling the script again), false to press Cancel.
    std::function<bool(ui::CBrandingDlg&, ui::ControlSurface&, int round)> brandingScript;
    int brandingRuns = 0;
    // What happens while the progress dialog runs; default: the worker runs
    // to its close request. Return to let the run end.
    std::function<void(MediaEngine&)> progressScript;
    int mainDialogResult = 0;  // 0 while the main dialog has not ended

    // The operator inside the branding dialog while brandingScript runs.
    ScriptedOperator* brandingOperator = nullptr;
    // How often EndMainDialog was called.
    int mainDialogEnds = 0;
    // Progress dialogs made so far; the last one is the current run's.
    std::vector<std::unique_ptr<RecordingProgress>> progressDialogs;
    int progressRuns = 0;
    // Set when a default progress run gave up waiting for its worker.
    bool progressTimedOut = false;

    std::optional<u16> OpenFile(const ui::FileDialogRequest& request) override;
    std::optional<u16> SaveFile(const ui::FileDialogRequest& request) override;
    bool RunBranding(ui::CBrandingDlg& dialog) override;
    ProgressDialog& CreateProgressDialog() override;
    void RunProgress(MediaEngine& engine) override;
    void EndMainDialog(int result) override;
};

}  // namespace flintmere::testing
