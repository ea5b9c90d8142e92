// Handlers that switch the main dialog between its modes: where the
// configuration comes from (generated, a database, a node.cfg) and which
// medium is built (a stick or the ISO image).
#include "ui/control_groups.h"
#include "ui/flintmere_dlg.h"

namespace flintmere::ui {
namespace {

void ClearSyncFlags(CflintmereDlg& dlg) {
    dlg.m_syncOptionEnable = 0;
    dlg.m_syncPartitionEnable = 0;
    dlg.m_syncFieldEnable = 0;
}

void SetSyncFlags(CflintmereDlg& dlg) {
    dlg.m_syncOptionEnable = 1;
    dlg.m_syncPartitionEnable = 1;
    dlg.m_syncFieldEnable = 1;
}

// Brings check states and record fields in line after a mode change; the
// caller has cleared the sync flags, so enabled states stay as it set them.
void RunFiveHandlers(CflintmereDlg& dlg) {
    dlg.OnCbnSelchangeComboIf();
    dlg.OnBnClickedChkAutomated();
    dlg.OnBnClickedChkNetBoot();
    dlg.OnBnClickedGpt();
    dlg.OnBnClickedLegacyBios();
}

FileDialogRequest SourceFileRequest(u16 filterName, u16 filterPattern) {
    FileDialogRequest request;
    request.filterName = std::move(filterName);
    request.filterPattern = std::move(filterPattern);
    request.mustExist = true;
    request.owner = DialogOwner::MainDialog;
    return request;
}

bool SelectedMediaIsIso(const ControlSurface& surface) {
    return surface.ComboEntry(IdMediaSelect, surface.ComboSelection(IdMediaSelect)) ==
           kIsoMediaEntry;
}

}  // namespace

void CflintmereDlg::OnBnClickedRadioGenNode() {
    ControlSurface& s = m_surface;
    m_services.WriteLog("OnBnClickedRadioGenNode(): start");
    m_useDbActive = 0;
    m_useNodeActive = 0;
    m_services.WriteLog("generate node.cfg selected");

    EnableSourcePaths(s, false, false);

    EnableAll(s, kOptionBoxIds, true);
    s.Enable(IdChkSingleArmed, true);
    s.Enable(IdChkInvert, true);
    s.Enable(IdChkPartitioned, true);
    s.Enable(IdChkGpt, true);
    s.Enable(IdChkLegacyBios, false);
    s.Enable(IdHostName, true);
    s.Enable(IdDisableInterface, true);
    EnableAll(s, kAddressFieldIds, true);
    s.Enable(IdHardwareType, true);

    if (m_record.m_isoMedia) {
        m_services.WriteLog("OnBnClickedRadioGenNode(): Virtual Machine");
        FillVmHardwareList(false);
        ResetVmOptions();
        EnableAll(s, kGeneralFieldIds, false);
        ClearGeneralTexts(s);
    } else {
        m_services.WriteLog("OnBnClickedRadioGenNode(): USB Disk");
        FillUsbHardwareList(false);
    }

    ClearSyncFlags(*this);
    RunFiveHandlers(*this);
    SetSyncFlags(*this);
    m_services.WriteLog("OnBnClickedRadioGenNode(): end");
}

void CflintmereDlg::OnBnClickedRadioUseDb() {
    ControlSurface& s = m_surface;
    m_services.WriteLog("OnBnClickedRadioUseDb(): start");
    if (m_useDbActive) {
        m_services.WriteLog("OnBnClickedRadioUseDb(): start");
        return;
    }
    m_useDbActive = 1;
    m_useNodeActive = 0;

    if (!s.GetText(IdDbPath).empty()) {
        m_services.WriteLog("use database selected");
        m_record.ResetConfiguration(true);
    } else {
        m_record.m_hwType = HwNone;
    }

    EnableSourcePaths(s, true, false);
    ClearGeneralTexts(s);

    s.Enable(IdChkAutomated, true);
    s.Enable(IdChkPreInstall, true);
    s.Enable(IdChkUefi, true);
    s.Enable(IdChkDhcp, false);
    s.Enable(IdChkNetBoot, false);
    s.Enable(IdChkSingleArmed, false);
    s.Enable(IdChkInvert, false);
    s.Enable(IdChkPartitioned, true);
    s.Enable(IdChkGpt, true);
    s.Enable(IdChkLegacyBios, false);
    ShowBoxes(AfterSourceOrMediumChange(ShownBoxes(), ConfigSourceChoice::Database,
                                        m_record.m_isoMedia != 0));

    // The IPv4 gateway keeps its state: usable when Generate came before.
    for (int id : {IdHostName, IdDisableInterface, IdIpAddress, IdIpNetmask, IdIpv6Address,
                   IdIpv6Netmask, IdIpv6Gateway, IdHardwareType}) {
        s.Enable(id, false);
    }

    ShowRecordHardware();

    if (m_record.m_isoMedia) {
        ResetVmOptions();
        EnableAll(s, kGeneralFieldIds, false);
        ClearGeneralTexts(s);
    }

    ClearSyncFlags(*this);
    RunFiveHandlers(*this);

    const u16 path = s.GetText(IdDbPath);
    m_services.WriteLogW(u"database edit set to \"%s\"", path);
    if (!path.empty()) m_record.m_dbFileLoaded = m_config.OpenDbFile(m_record, path) ? 1 : 0;
    if (path.empty() || !m_record.m_dbFileLoaded) {
        s.SetText(IdDbPath, u16());
        m_record.ResetConfiguration(true);
    }

    ConfigureFields();
    OnCbnSelchangeComboIf();
    OnCbnSelchangeHardwareType();

    // With a hardware type from the database the partition handlers keep
    // forcing its needs but leave the boxes' enabled state alone.
    m_syncFieldEnable = 1;
    m_syncOptionEnable = 1;
    if (m_record.m_hwType == HwNone) m_syncPartitionEnable = 1;
}

void CflintmereDlg::OnBnClickedRadioUseNode() {
    ControlSurface& s = m_surface;
    m_services.WriteLog("OnBnClickedRadioUseNode(): start");
    if (m_useNodeActive) return;
    m_useNodeActive = 1;
    m_useDbActive = 0;

    if (!s.GetText(IdNodePath).empty()) {
        m_services.WriteLog("use already existent node.cfg selected");
        m_record.ResetConfiguration(true);
    } else {
        m_record.m_hwType = HwNone;
    }

    EnableSourcePaths(s, false, true);

    EnableAll(s, kPartitionBoxIds, false);
    EnableAll(s, kOptionBoxIds, false);
    s.Enable(IdHostName, false);
    EnableAll(s, kAddressFieldIds, false);
    s.Enable(IdDisableInterface, false);
    EnableAll(s, kGeneralFieldIds, false);
    s.Enable(IdHardwareType, false);

    ShowRecordHardware();
    if (m_record.m_isoMedia) {
        ResetVmOptions();
        ClearGeneralTexts(s);
    }

    ClearSyncFlags(*this);
    RunFiveHandlers(*this);
    m_syncFieldEnable = 1;
    m_syncOptionEnable = 1;

    LoadNodeFileFromEdit();
}

void CflintmereDlg::LoadNodeFileFromEdit() {
    ControlSurface& s = m_surface;
    const u16 path = s.GetText(IdNodePath);
    m_services.WriteLogW(u"node.cfg edit set to \"%s\"", path);
    if (!path.empty()) m_record.m_nodeFileLoaded = m_config.OpenNodeFile(m_record, path) ? 1 : 0;
    if (path.empty() || !m_record.m_nodeFileLoaded) {
        s.SetText(IdNodePath, u16());
        m_record.ResetConfiguration(true);
    }

    ClearSyncFlags(*this);
    ShowRecordHardware();
    ConfigureFields();
    OnCbnSelchangeComboIf();
    OnCbnSelchangeHardwareType();
    OnBnClickedGpt();
    OnBnClickedLegacyBios();
    OnBnClickedPartitioned();
    SetSyncFlags(*this);
}

void CflintmereDlg::OnBnClickedButtonDb() {
    m_services.WriteLog("OnBnClickedButtonDb(): start");
    if (const std::optional<u16> path =
            m_host.OpenFile(SourceFileRequest(u"database files", u"*.xml"))) {
        m_surface.SetText(IdDbPath, *path);
        m_record.m_dbFileLoaded = m_config.OpenDbFile(m_record, *path) ? 1 : 0;
        if (!m_record.m_dbFileLoaded) m_record.ResetConfiguration(true);
    }
    // The radio handler reads the file in the edit once more.
    m_useDbActive = 0;
    OnBnClickedRadioUseDb();
}

void CflintmereDlg::OnBnClickedButtonNode() {
    m_services.WriteLog("OnBnClickedButtonNode(): start");
    if (const std::optional<u16> path =
            m_host.OpenFile(SourceFileRequest(u"config files", u"*.cfg"))) {
        m_record.m_nodeFileLoaded = m_config.OpenNodeFile(m_record, *path) ? 1 : 0;
        if (m_record.m_nodeFileLoaded) {
            m_surface.SetText(IdNodePath, *path);
        } else {
            // The edit keeps the earlier file, which is read again below.
            m_record.ResetConfiguration(true);
        }
    }
    LoadNodeFileFromEdit();
}

void CflintmereDlg::OnBnClickedRefresh() {
    ControlSurface& s = m_surface;
    m_services.WriteLog("OnBnClickedRefresh(): start");
    MediaList list;
    m_engine.RefreshDevices(list);
    s.ComboReset(IdMediaSelect);
    for (const u16& entry : list.entries) s.ComboAdd(IdMediaSelect, entry);
    s.ComboSelect(IdMediaSelect, list.selected);

    const bool wasIso = m_record.m_isoMedia != 0;
    m_record.m_isoMedia = SelectedMediaIsIso(s) ? 1 : 0;
    if (s.IsChecked(IdRadioUseDb)) {
        m_useDbActive = 0;
        OnBnClickedRadioUseDb();
    } else if (s.IsChecked(IdRadioUseNode)) {
        m_useNodeActive = 0;
        OnBnClickedRadioUseNode();
    } else {
        OnBnClickedRadioGenNode();
        // The stick list came back with its remembered entry: the record's
        // hardware type and the layout it needs follow that entry again.
        if (wasIso && !m_record.m_isoMedia) OnCbnSelchangeHardwareType();
    }
    ApplyMediaLayout();
    m_services.WriteLog("OnBnClickedRefresh(): end");
}

void CflintmereDlg::OnCbnSelchangeMediaSelect() {
    ControlSurface& s = m_surface;
    m_services.WriteLog("OnCbnSelchangeMediaSelect(): start");
    m_record.m_isoMedia = SelectedMediaIsIso(s) ? 1 : 0;
    const bool useDb = s.IsChecked(IdRadioUseDb);
    const bool useNode = !useDb && s.IsChecked(IdRadioUseNode);

    if (m_record.m_isoMedia) {
        m_services.WriteLog("OnCbnSelchangeMediaSelect(): Virtual Machine");
        FillVmHardwareList(false);
        ResetVmOptions();
        if (useDb) {
            SelectHardwareFromPlatformText();
            m_useDbActive = 0;
            OnBnClickedRadioUseDb();
        } else if (useNode) {
            SelectHardwareFromPlatformText();
            m_useNodeActive = 0;
            OnBnClickedRadioUseNode();
        } else {
            s.Enable(IdHardwareType, true);
            m_vmHwSelection = 0;
            s.ComboSelect(IdHardwareType, 0);
        }
        EnableAll(s, kGeneralFieldIds, false);
        ClearGeneralTexts(s);
    } else {
        FillUsbHardwareList(false);
        SelectHardwareFromPlatformText();
        m_services.WriteLog("OnCbnSelchangeMediaSelect(): USB Stick");
        if (useNode) {
            EnableAll(s, kOptionBoxIds, false);
            EnableAll(s, kPartitionBoxIds, false);
        } else if (useDb) {
            EnableAll(s, kOptionBoxIds, false);
            s.Enable(IdChkPartitioned, true);
            s.Enable(IdChkGpt, true);
            s.Enable(IdChkLegacyBios, false);
        } else {
            EnableAll(s, kOptionBoxIds, true);
            s.Enable(IdChkSingleArmed, true);
            s.Enable(IdChkInvert, true);
            s.Enable(IdChkPartitioned, true);
            s.Enable(IdChkGpt, true);
            s.Enable(IdChkLegacyBios, false);
        }
        s.ComboSelect(IdHardwareType, m_usbHwSelection);
        if (useDb) {
            SelectHardwareFromPlatformText();
            ConfigureFields();
            m_useDbActive = 0;
            OnBnClickedRadioUseDb();
            s.Enable(IdChkAutomated, true);
            s.Enable(IdChkPreInstall, true);
            s.Enable(IdChkUefi, true);
            if (m_record.m_hwType != HwNone) {
                s.Enable(IdChkGpt, false);
                s.Enable(IdChkPartitioned, false);
            }
        } else if (useNode) {
            SelectHardwareFromPlatformText();
            ConfigureFields();
            m_useNodeActive = 0;
            OnBnClickedRadioUseNode();
        } else {
            // The remembered stick entry is shown again: the record's hardware
            // type and the layout it needs follow it.
            OnCbnSelchangeHardwareType();
        }
    }
    ApplyMediaLayout();
}

}  // namespace flintmere::ui
