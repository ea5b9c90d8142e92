// The main dialog's logic: a form over the run's request (the setup record). It
// decides every control state and record write; the window it runs in is a
// ControlSurface, and the dialogs it opens come from a DialogHost.
#pragma once

#include <cstdint>

#include "config/form_rules.h"
#include "engine/app_parts.h"
#include "ui/control_ids.h"
#include "ui/control_surface.h"
#include "ui/dialog_host.h"

namespace flintmere::ui {

class CflintmereDlg : public EventSink {
  public:
    CflintmereDlg(AppParts& app, ControlSurface& surface, DialogHost& host);

    // The one entry point for the operator's events; dispatches by id.
    void OnControlEvent(int id, ControlEvent event) override;

    // --- start-up and shared routines (main_dialog.cpp) ---
    // False when the dialog closed itself (installation files missing).
    bool OnInitDialog();
    void FillVmHardwareList(bool force);
    void FillUsbHardwareList(bool force);
    // The hardware list of the chosen medium, at the entry the record's
    // platform text names.
    void ShowRecordHardware();
    void ShowGeneralFields(bool show);
    void ResetVmOptions();
    void ApplyMediaLayout();
    void SelectHardwareFromPlatformText();
    void ConfigureFields();

    // --- field and option handlers (field_handlers.cpp) ---
    void OnEnKillfocusEditName();
    void OnEnKillfocusIpAddress();
    void OnEnKillfocusIpNetmask();
    void OnEnKillfocusIpGateway();
    void OnEnKillfocusIpv6Address();
    void OnEnKillfocusIpv6Netmask();
    void OnEnKillfocusIpv6Gateway();
    void OnCbnSelchangeComboIf();
    void OnBnClickedDisableInterface();
    void OnBnClickedChkAutomated();
    void OnBnClickedChkPreInstall();
    void OnBnClickedChkNetBoot();
    void OnBnClickedChkDHCP();
    void OnBnClickedUefi();
    void OnBnClickedChkINVERT();
    // The "Single Armed" click.
    void OnBnClickedSingleArmed();
    void OnBnClickedPartitioned();
    void OnBnClickedLegacyBios();
    void OnBnClickedGpt();
    void OnCbnSelchangeHardwareType();

    // The layout boxes and record flags the rules work on, and back.
    HardwareForces Forces() const;
    LayoutState Layout() const;
    void ShowLayout(const LayoutState& s);
    ConfigSourceChoice Source() const;
    OptionBoxes Options() const;
    void ShowOptions(const OptionBoxes& o);
    // Only the check boxes, not the record: a mode change shows them first.
    FormBoxes ShownBoxes() const;
    void ShowBoxes(const FormBoxes& b);

    // --- source and media handlers (source_handlers.cpp) ---
    void OnBnClickedRadioGenNode();
    void OnBnClickedRadioUseDb();
    void OnBnClickedRadioUseNode();
    void LoadNodeFileFromEdit();
    void OnBnClickedButtonDb();
    void OnBnClickedButtonNode();
    void OnBnClickedRefresh();
    void OnCbnSelchangeMediaSelect();
    void OnBnClickedBranding();

    // --- launch (setup_launch.cpp) ---
    void OnBnClickedOk();
    // The DNS servers, logical id and management servers as the controls
    // show them; OK stores them only once the run is sure to start.
    void StoreTypedValues(SetupRecord& record) const;
    GeneralValues TypedGeneralValues() const;
    // Cancel closes the dialog.
    void OnCancel();

    // True once the dialog has ended (OK after a finished run, Cancel, or
    // missing installation files); `Result()` tells which.
    bool Ended() const { return m_ended; }
    int Result() const { return m_result; }

    // Dialog state besides the controls.
    Flag m_useDbActive = 0;
    Flag m_useNodeActive = 0;
    Flag m_syncOptionEnable = 1;
    Flag m_syncPartitionEnable = 1;
    Flag m_syncFieldEnable = 1;
    Flag m_usbHwListShown = 0;
    int m_usbHwSelection = 0;
    int m_vmHwSelection = 0;
    Flag m_hwForcesLegacy = 0;
    Flag m_hwForcesGpt = 0;
    Flag m_hwForcesPartitioned = 0;
    Flag m_hwForcesUefi = 0;

  private:
    void EndDialog(int result);

    // The request the form edits, and the parts that read and act on it.
    AppServices& m_services;
    SetupRecord& m_record;
    ConfigModel& m_config;
    MediaEngine& m_engine;
    StickWriterClient& m_stickWriter;
    ControlSurface& m_surface;
    DialogHost& m_host;
    bool m_ended = false;
    int m_result = 0;
};

}  // namespace flintmere::ui
