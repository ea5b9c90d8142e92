// The main dialog's start-up and the routines its handlers share: the two
// hardware lists, the media layout and the refresh of the controls from the
// record after a file was read.
#include <array>
#include <cstdint>
#include <optional>

#include "ui/control_groups.h"
#include "ui/flintmere_dlg.h"
#include "ui/hardware_lists.h"

namespace flintmere::ui {
namespace {

constexpr int kHostNameLimit = 64;
constexpr int kQmxUrlLimit = 30;
constexpr int kLogicalIdLimit = 128;
constexpr int kIpv6AddressLimit = 39;
constexpr int kIpv6PrefixLimit = 3;

// A dotted IPv4 text of the record into an address control; anything that is
// not four numbers of 0..255 leaves the control blank.
void ShowRecordAddress(ControlSurface& surface, int id, const u16& text) {
    IpFields fields{};
    std::size_t at = 0;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (at >= text.size() || text[at] != u'.') return surface.ClearAddress(id);
            ++at;
        }
        const std::size_t start = at;
        int value = 0;
        while (at < text.size() && text[at] >= u'0' && text[at] <= u'9' && at - start < 3) {
            value = value * 10 + (text[at] - u'0');
            ++at;
        }
        if (at == start || value > 255) return surface.ClearAddress(id);
        fields[i] = value;
    }
    if (at != text.size()) return surface.ClearAddress(id);
    surface.SetAddress(id, fields);
}

template <std::size_t N>
void FillList(ControlSurface& surface, const std::array<HardwareEntry, N>& list, int selection) {
    surface.ComboReset(IdHardwareType);
    for (const HardwareEntry& entry : list) surface.ComboAdd(IdHardwareType, entry.text);
    surface.ComboSelect(IdHardwareType, selection);
}

}  // namespace

CflintmereDlg::CflintmereDlg(AppParts& app, ControlSurface& surface, DialogHost& host)
    : m_services(app.services),
      m_record(app.record),
      m_config(app.config),
      m_engine(app.engine),
      m_stickWriter(app.stickWriter),
      m_surface(surface),
      m_host(host) {}

bool CflintmereDlg::OnInitDialog() {
    ControlSurface& s = m_surface;
    s.Show(IdHelp, false);

    s.Enable(IdChkPartitioned, true);
    EnableSourcePaths(s, false, false);
    s.Enable(IdChkPartitioned, true);
    s.Enable(IdChkGpt, true);
    s.Enable(IdChkLegacyBios, false);
    EnableAll(s, kOptionBoxIds, true);
    s.Enable(IdChkSingleArmed, true);
    s.Enable(IdChkInvert, true);
    s.Enable(IdChkNetBoot, false);
    s.Enable(IdChkDhcp, false);
    s.Enable(IdChkInvert, false);
    s.Enable(IdChkSingleArmed, true);

    s.SetCheck(IdRadioGenNode, true);

    s.ComboAdd(IdInterface, u"LAN Interface");
    s.ComboAdd(IdInterface, u"WAN Interface");
    s.ComboSelect(IdInterface, InterfaceLan);
    s.ComboInsert(IdInterface, InterfaceAdmin, u"ADMIN Interface");

    m_record.m_nodeFileLoaded = 0;
    m_record.m_dbFileLoaded = 0;
    m_record.ResetConfiguration(true);
    m_record.m_lanDisabled = 0;
    m_record.m_wanDisabled = 0;
    m_record.m_adminDisabled = 0;

    s.SetText(IdHostName, u"unnamed");
    s.SetTextLimit(IdHostName, kHostNameLimit);
    s.SetTextLimit(IdQmxUrl1, kQmxUrlLimit);
    s.SetTextLimit(IdQmxUrl2, kQmxUrlLimit);
    s.SetTextLimit(IdLogicalId, kLogicalIdLimit);
    s.SetTextLimit(IdIpv6Address, kIpv6AddressLimit);
    s.SetTextLimit(IdIpv6Netmask, kIpv6PrefixLimit);
    s.SetTextLimit(IdIpv6Gateway, kIpv6AddressLimit);

    s.SetCheck(IdChkPartitioned, m_record.m_partitioned != 0);
    s.SetCheck(IdChkGpt, m_record.m_gptPartition != 0);

    s.Enable(IdDisableInterface, false);
    EnableAll(s, kGeneralFieldIds, false);

    OnBnClickedRefresh();

    if (m_record.m_isoMedia) {
        FillVmHardwareList(true);
    } else {
        FillUsbHardwareList(true);
    }

    if (!m_engine.CheckPendriveSoftware()) {
        m_services.presenter().ShowMessage(
            u"Missing important installation files. Please reinstall the application.", u"Error",
            kMbWarningStyle, false);
        EndDialog(kIdCancel);
        return false;
    }
    return true;
}

void CflintmereDlg::EndDialog(int result) {
    m_ended = true;
    m_result = result;
    m_host.EndMainDialog(result);
}

void CflintmereDlg::FillVmHardwareList(bool force) {
    if (!force && !m_usbHwListShown) return;
    if (m_usbHwListShown) {
        const int selection = m_surface.ComboSelection(IdHardwareType);
        if (selection >= 0) m_usbHwSelection = selection;
    }
    m_usbHwListShown = 0;
    FillList(m_surface, kVmHardwareList, m_vmHwSelection);
}

void CflintmereDlg::FillUsbHardwareList(bool force) {
    if (!force && m_usbHwListShown) return;
    if (!m_usbHwListShown) {
        const int selection = m_surface.ComboSelection(IdHardwareType);
        if (selection >= 0) m_vmHwSelection = selection;
    }
    m_usbHwListShown = 1;
    FillList(m_surface, kUsbHardwareList, m_usbHwSelection);
}

void CflintmereDlg::ShowRecordHardware() {
    if (m_record.m_isoMedia) {
        FillVmHardwareList(false);
    } else {
        FillUsbHardwareList(false);
    }
    SelectHardwareFromPlatformText();
}

void CflintmereDlg::ShowGeneralFields(bool show) {
    for (int id : kGeneralFieldIds) m_surface.Show(id, show);
    for (int id : kGeneralLabelIds) m_surface.Show(id, show);
    m_surface.Show(IdGroupGeneral, show);
}

FormBoxes CflintmereDlg::ShownBoxes() const {
    return {Options(), Layout().boxes};
}

void CflintmereDlg::ShowBoxes(const FormBoxes& b) {
    ShowOptions(b.options);
    m_surface.SetCheck(IdChkPartitioned, b.layout.partitioned);
    m_surface.SetCheck(IdChkGpt, b.layout.gpt);
    m_surface.SetCheck(IdChkLegacyBios, b.layout.legacy);
    m_surface.SetCheck(IdChkUefi, b.layout.uefi);
}

void CflintmereDlg::ResetVmOptions() {
    EnableAll(m_surface, kPartitionBoxIds, false);
    EnableAll(m_surface, kOptionBoxIds, false);
    ShowBoxes(AfterSourceOrMediumChange(ShownBoxes(), Source(), true));
}

void CflintmereDlg::ApplyMediaLayout() {
    const bool usb = !m_record.m_isoMedia;
    for (int id : kPartitionBoxIds) m_surface.Show(id, usb);
    m_surface.Show(IdGroupUsbOptions, usb);
    for (int id : kOptionBoxIds) m_surface.Show(id, usb);
    ShowGeneralFields(usb);
}

void CflintmereDlg::SelectHardwareFromPlatformText() {
    const u16& hw = m_record.m_hwPlatformText;
    const u16& vm = m_record.m_vmPlatformText;
    if (hw.empty() && vm.empty()) {
        m_surface.ComboSelect(IdHardwareType, 0);
        m_vmHwSelection = 0;
        m_record.m_hwType = HwNone;
        return;
    }
    if (m_record.m_isoMedia) {
        const std::optional<PlatformMatch> match = MatchVmList(hw, vm);
        m_vmHwSelection = match ? match->entry : 0;
        m_record.m_hwType = match ? match->code : HwNone;
        m_surface.ComboSelect(IdHardwareType, m_vmHwSelection);
    } else {
        const std::optional<PlatformMatch> match = MatchUsbList(hw, vm);
        m_usbHwSelection = match ? match->entry : 0;
        m_record.m_hwType = match ? match->code : HwNone;
        m_surface.ComboSelect(IdHardwareType, m_usbHwSelection);
    }
}

void CflintmereDlg::ConfigureFields() {
    SetupRecord& app = m_record;
    ControlSurface& s = m_surface;
    m_services.WriteLog("ConfigureFields(): start");

    s.SetText(IdHostName, app.m_serverName);
    ShowRecordAddress(s, IdIpGateway, app.m_gateway);
    s.SetText(IdIpv6Gateway, app.m_gateway6);

    ClearGeneralTexts(s);
    if (!app.m_logicId.empty()) s.SetText(IdLogicalId, app.m_logicId);
    if (!app.m_supplyServer1.empty()) s.SetText(IdQmxUrl1, app.m_supplyServer1);
    if (!app.m_supplyServer2.empty()) s.SetText(IdQmxUrl2, app.m_supplyServer2);
    if (!app.m_dns1.empty()) ShowRecordAddress(s, IdDns1, app.m_dns1);
    if (!app.m_dns2.empty()) ShowRecordAddress(s, IdDns2, app.m_dns2);

    if (app.m_isoMedia) {
        FillVmHardwareList(false);
        m_services.WriteLog("ConfigureFields(): Virtual Machine");
        m_vmHwSelection = VmEntryForCode(app.m_hwType);
        s.ComboSelect(IdHardwareType, m_vmHwSelection);
        ResetVmOptions();
    } else {
        FillUsbHardwareList(false);
        m_services.WriteLog("ConfigureFields(): USB Sick");
        m_usbHwSelection = UsbEntryForCode(app.m_hwType);
        s.ComboSelect(IdHardwareType, m_usbHwSelection);
        s.SetCheck(IdChkPreInstall, app.m_preinstall != 0);
        s.SetCheck(IdChkAutomated, app.m_autoinstall != 0);
        s.SetCheck(IdChkNetBoot, app.m_netboot != 0);
        s.SetCheck(IdChkDhcp, app.m_dhcp != 0);
        s.SetCheck(IdChkInvert, app.m_invert != 0);
        s.SetCheck(IdChkUefi, app.m_uefi != 0);
        s.SetCheck(IdChkLegacyBios, app.m_legacyBios != 0);
        s.SetCheck(IdChkGpt, app.m_gptPartition != 0 && app.m_legacyBios == 0);
        s.SetCheck(IdChkPartitioned, app.m_partitioned != 0);
    }
    s.SetCheck(IdChkSingleArmed, app.m_singleArmed != 0);
}

}  // namespace flintmere::ui
