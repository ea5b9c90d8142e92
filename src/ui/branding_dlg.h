// The branding dialog's logic: company name, product name, TLA text and the
// logo picture, checked on OK; the logo is loaded after the dialog closes.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/presenter.h"
#include "ui/control_ids.h"
#include "ui/control_surface.h"
#include "ui/dialog_host.h"

namespace flintmere::ui {

// Largest logo picture + 1: a file of this size or more is refused.
constexpr std::size_t kMaxLogoBytes = 51200;

class CBrandingDlg : public EventSink {
  public:
    // Copies the three texts into the dialog and `logoFile` into
    // s_brandingLogoPath. Boxes are shown through `boxes`, the Browse file
    // dialog through `host`.
    CBrandingDlg(const u16& company, const u16& product, const u16& tla, const u16& logoFile,
                 Presenter& boxes, DialogHost& host);

    // Called by the host once its window exists, with that window's controls.
    void OnInitDialog(ControlSurface& surface);
    void OnControlEvent(int id, ControlEvent event) override;
    // OK pressed: saves and checks the edits; true when the dialog may end
    // with OK (the focus is left on the first failing field otherwise).
    bool OnOK();
    void OnBnClickedBrowse();

    // Reads s_brandingLogoPath into `logoData`; on success `logoFile` holds
    // the bare file name. Shows its own failure box.
    bool LoadLogoFile(u16& logoFile, std::vector<std::uint8_t>& logoData);

    u16 m_dlgCompanyName;
    u16 m_dlgProductName;
    u16 m_dlgTla;
    // Outlives the dialog object: refilled from the record each time one is built.
    static u16 s_brandingLogoPath;

  private:
    // Edits into the dialog's state with the checks; false at the first failure.
    bool SaveEdits();
    // The dialog's state back into the edits.
    void LoadEdits();

    Presenter& m_boxes;
    DialogHost& m_host;
    ControlSurface* m_surface = nullptr;
};

}  // namespace flintmere::ui
