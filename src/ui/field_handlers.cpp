// Handlers of the single fields and check boxes of the main dialog: each
// writes the record as the operator leaves or clicks a control and brings
// the dependent controls into line.
#include <algorithm>
#include <cstdint>

#include "config/form_rules.h"
#include "ui/flintmere_dlg.h"
#include "ui/hardware_lists.h"

namespace flintmere::ui {
namespace {

constexpr int kGeneralFields[] = {IdDns1, IdDns2, IdQmxUrl1, IdQmxUrl2, IdLogicalId};
constexpr int kAddressFields[] = {IdIpAddress,   IdIpNetmask,   IdIpGateway,
                                  IdIpv6Address, IdIpv6Netmask, IdIpv6Gateway};

bool AllZero(const IpFields& f) {
    return f[0] == 0 && f[1] == 0 && f[2] == 0 && f[3] == 0;
}

u16 DottedText(const IpFields& f) {
    return FormatW(u"%d.%d.%d.%d", f[0], f[1], f[2], f[3]);
}

// An IPv4 text of the record into an IP address control: empty clears it, a
// dotted text sets it, anything that is not four numbers leaves it alone.
void ShowAddressText(ControlSurface& surface, int id, u16view text) {
    if (text.empty()) {
        surface.ClearAddress(id);
        return;
    }
    const Ipv4Text scanned = ScanIpv4(text, Ipv4Syntax::Scanf);
    if (scanned.count != 4) return;
    // Each number as a 32-bit long would hold it: out-of-range ones saturate.
    std::uint32_t n[4];
    for (int i = 0; i < 4; ++i) {
        const long long v = scanned.part[i];
        n[i] = static_cast<std::uint32_t>(std::max(std::min(v, 0xFFFFFFFFLL), -0xFFFFFFFFLL));
    }
    // The control takes one 32-bit value, first number in the highest byte.
    const std::uint32_t value = (n[0] << 24) + (n[1] << 16) + (n[2] << 8) + n[3];
    if (value == 0) {
        surface.ClearAddress(id);
        return;
    }
    surface.SetAddress(id, {static_cast<int>(value >> 24), static_cast<int>((value >> 16) & 0xFF),
                            static_cast<int>((value >> 8) & 0xFF), static_cast<int>(value & 0xFF)});
}

// Stores an IP address control into `field`; 0.0.0.0 counts as blank.
IpFields StoreAddress(ControlSurface& surface, int id, u16& field) {
    const IpFields f = surface.GetAddress(id);
    if (AllZero(f)) {
        field.clear();
        surface.ClearAddress(id);
    } else {
        field = DottedText(f);
        surface.SetAddress(id, f);
    }
    return f;
}

// Stores an IPv6 edit into `field` (null: nothing to store for ADMIN).
u16 StoreText(ControlSurface& surface, int id, u16* field) {
    u16 text = surface.GetText(id);
    if (text.empty()) {
        if (field) field->clear();
        surface.SetText(id, u16());
    } else if (field) {
        *field = text;
    }
    return text;
}

bool IsBlankGeneralField(const ControlSurface& surface, int id) {
    if (id == IdDns1 || id == IdDns2) return AllZero(surface.GetAddress(id));
    const u16 text = surface.GetText(id);
    constexpr u16view kSpace = u" \t\n\v\f\r";
    const auto first = text.find_first_not_of(kSpace);
    if (first == u16::npos) return true;
    const auto last = text.find_last_not_of(kSpace);
    return u16view(text).substr(first, last - first + 1) == u"0.0.0.0";
}

}  // namespace

// --- fields ---

void CflintmereDlg::OnEnKillfocusEditName() {
    m_record.m_serverName = m_surface.GetText(IdHostName);
    m_services.WriteLogW(u"node servername changed to %s", m_record.m_serverName);
}

void CflintmereDlg::OnEnKillfocusIpAddress() {
    const int shown = m_surface.ComboSelection(IdInterface);
    u16& field = shown == InterfaceLan   ? m_record.m_lanAddress
                 : shown == InterfaceWan ? m_record.m_wanAddress
                                         : m_record.m_adminAddress;
    const IpFields f = StoreAddress(m_surface, IdIpAddress, field);
    m_services.WriteLog("changed IP for %d to %d.%d.%d.%d", shown, f[0], f[1], f[2], f[3]);
}

void CflintmereDlg::OnEnKillfocusIpNetmask() {
    const int shown = m_surface.ComboSelection(IdInterface);
    u16& field = shown == InterfaceLan   ? m_record.m_lanNetmask
                 : shown == InterfaceWan ? m_record.m_wanNetmask
                                         : m_record.m_adminNetmask;
    const IpFields f = StoreAddress(m_surface, IdIpNetmask, field);
    m_services.WriteLog("changed subnet for %d to %d.%d.%d.%d", shown, f[0], f[1], f[2], f[3]);
}

void CflintmereDlg::OnEnKillfocusIpGateway() {
    const IpFields f = StoreAddress(m_surface, IdIpGateway, m_record.m_gateway);
    m_services.WriteLog("changed gateway to %d.%d.%d.%d", f[0], f[1], f[2], f[3]);
}

void CflintmereDlg::OnEnKillfocusIpv6Address() {
    const int shown = m_surface.ComboSelection(IdInterface);
    u16* field = shown == InterfaceLan   ? &m_record.m_lanAddress6
                 : shown == InterfaceWan ? &m_record.m_wanAddress6
                                         : nullptr;
    const u16 text = StoreText(m_surface, IdIpv6Address, field);
    m_services.WriteLogW(u"changed IPv6 for %d to %s", shown, text);
}

void CflintmereDlg::OnEnKillfocusIpv6Netmask() {
    const int shown = m_surface.ComboSelection(IdInterface);
    u16* field = shown == InterfaceLan   ? &m_record.m_lanPrefix6
                 : shown == InterfaceWan ? &m_record.m_wanPrefix6
                                         : nullptr;
    const u16 text = StoreText(m_surface, IdIpv6Netmask, field);
    m_services.WriteLogW(u"changed subnet6 for %d to %s", shown, text);
}

void CflintmereDlg::OnEnKillfocusIpv6Gateway() {
    const u16 text = StoreText(m_surface, IdIpv6Gateway, &m_record.m_gateway6);
    m_services.WriteLogW(u"changed subnet6 to %s", text);
}

// --- the interface list ---

void CflintmereDlg::OnCbnSelchangeComboIf() {
    m_services.WriteLog("OnCbnSelchangeComboIf(): start");
    int shown = m_surface.ComboSelection(IdInterface);

    u16 address, netmask, address6, prefix6;
    if (shown == InterfaceWan) {
        OnBnClickedSingleArmed();
        address = m_record.m_wanAddress;
        netmask = m_record.m_wanNetmask;
        address6 = m_record.m_wanAddress6;
        prefix6 = m_record.m_wanPrefix6;
    } else if (shown == InterfaceAdmin) {
        address = m_record.m_adminAddress;
        netmask = m_record.m_adminNetmask;
    } else {
        shown = InterfaceLan;
        m_surface.ComboSelect(IdInterface, InterfaceLan);
        address = m_record.m_lanAddress;
        netmask = m_record.m_lanNetmask;
        address6 = m_record.m_lanAddress6;
        prefix6 = m_record.m_lanPrefix6;
    }

    const bool dhcp = m_surface.IsChecked(IdChkDhcp);
    if (!dhcp) m_surface.SetCheck(IdDisableInterface, false);
    if (m_surface.IsChecked(IdRadioGenNode) && !dhcp) {
        for (int id : {IdIpAddress, IdIpNetmask, IdIpv6Address, IdIpv6Netmask})
            m_surface.Enable(id, true);
        if (shown == InterfaceLan || shown == InterfaceWan) {
            m_surface.Enable(IdDisableInterface, false);
        } else if (m_surface.IsChecked(IdChkSingleArmed)) {
            // One arm only: ADMIN is out of use and cannot be edited.
            m_surface.SetCheck(IdDisableInterface, true);
            for (int id : {IdIpNetmask, IdIpAddress, IdIpv6Netmask, IdIpv6Address})
                m_surface.Enable(id, false);
        } else {
            for (int id : {IdDisableInterface, IdIpv6Netmask, IdIpv6Address})
                m_surface.Enable(id, false);
        }
    }

    ShowAddressText(m_surface, IdIpAddress, address);
    ShowAddressText(m_surface, IdIpNetmask, netmask);
    m_surface.SetText(IdIpv6Address, address6);
    m_surface.SetText(IdIpv6Netmask, prefix6);
}

void CflintmereDlg::OnBnClickedDisableInterface() {
    const int shown = m_surface.ComboSelection(IdInterface);
    const Flag state = m_surface.IsChecked(IdDisableInterface) ? 1 : 0;
    Flag& field = shown == InterfaceLan   ? m_record.m_lanDisabled
                  : shown == InterfaceWan ? m_record.m_wanDisabled
                                          : m_record.m_adminDisabled;
    field = state;
    m_services.WriteLog("%d interface set to %d", shown, state);
    OnCbnSelchangeComboIf();
}

// --- installation options ---

void CflintmereDlg::OnBnClickedChkAutomated() {
    m_services.WriteLog("OnBnClickedChkAutomated(): start");
    const bool automated = m_surface.IsChecked(IdChkAutomated);
    const bool database = Source() == ConfigSourceChoice::Database;
    if (m_syncOptionEnable) {
        m_surface.Enable(IdChkNetBoot, automated);
        m_surface.Enable(IdChkDhcp, automated && !database);
    }
    if (automated) return;
    ShowOptions(AfterAutomatedClicked(Options(), Source()));
    if (database) {
        OnBnClickedChkNetBoot();
    } else {
        OnBnClickedChkDHCP();
    }
}

void CflintmereDlg::OnBnClickedChkPreInstall() {
    m_services.WriteLog("OnBnClickedChkPreInstall(): start");
    for (int id : {IdLogicalId, IdQmxUrl1, IdQmxUrl2}) m_surface.Enable(id, false);
    ShowOptions(AfterPreinstallClicked(Options(), Source()));
    if (m_surface.IsChecked(IdChkPreInstall)) {
        OnBnClickedChkDHCP();
        for (int id :
             {IdChkDhcp, IdDisableInterface, IdLogicalId, IdQmxUrl1, IdQmxUrl2, IdDns1, IdDns2})
            m_surface.Enable(id, false);
        m_surface.SetText(IdLogicalId, u16());
    } else {
        if (m_syncOptionEnable) m_surface.Enable(IdChkDhcp, true);
        OnBnClickedChkDHCP();
    }
}

void CflintmereDlg::OnBnClickedChkNetBoot() {
    m_services.WriteLog("OnBnClickedChkNetBoot(): start");
    const bool netBoot = m_surface.IsChecked(IdChkNetBoot);
    if (m_surface.IsChecked(IdRadioUseDb)) {
        // Fields holding a value from the database keep their state.
        for (int id : kGeneralFields) {
            if (IsBlankGeneralField(m_surface, id) && m_syncFieldEnable)
                m_surface.Enable(id, netBoot);
        }
    } else if (m_surface.IsChecked(IdRadioGenNode)) {
        if (m_syncFieldEnable) {
            for (int id : kGeneralFields) m_surface.Enable(id, netBoot);
        }
    } else if (m_surface.IsChecked(IdRadioUseNode)) {
        for (int id : kGeneralFields) m_surface.Enable(id, false);
    }
}

void CflintmereDlg::OnBnClickedChkDHCP() {
    m_services.WriteLog("OnBnClickedChkDHCP(): start");
    const bool dhcp = m_surface.IsChecked(IdChkDhcp);
    if (dhcp) {
        // The network announces the addresses: every typed value goes.
        m_record.ResetConfiguration(false);
        m_surface.SetText(IdHostName, m_record.m_serverName);
        m_surface.SetText(IdQmxUrl1, m_record.m_supplyServer1);
        m_surface.SetText(IdQmxUrl2, m_record.m_supplyServer2);
        ShowAddressText(m_surface, IdIpAddress, m_record.m_lanAddress);
        ShowAddressText(m_surface, IdIpNetmask, m_record.m_lanNetmask);
        ShowAddressText(m_surface, IdIpGateway, m_record.m_gateway);
        m_surface.SetText(IdIpv6Address, m_record.m_lanAddress6);
        m_surface.SetText(IdIpv6Netmask, m_record.m_lanPrefix6);
        m_surface.SetText(IdIpv6Gateway, m_record.m_gateway6);
        ShowAddressText(m_surface, IdDns1, m_record.m_dns1);
        ShowAddressText(m_surface, IdDns2, m_record.m_dns2);
    }
    // The file modes keep their locked fields.
    if (m_surface.IsChecked(IdRadioUseDb) || m_surface.IsChecked(IdRadioUseNode)) return;

    if (m_syncFieldEnable) {
        m_surface.Enable(IdLogicalId, !(dhcp && m_surface.IsChecked(IdChkPreInstall)));
        for (int id : kAddressFields) m_surface.Enable(id, !dhcp);
        m_surface.Enable(IdHostName, !dhcp);
    }
    ShowOptions(AfterDhcpClicked(Options(), Source()));
    if (m_surface.IsChecked(IdChkAutomated) && m_syncFieldEnable)
        m_surface.Enable(IdChkNetBoot, !dhcp);
    if (m_syncFieldEnable) m_surface.Enable(IdChkSingleArmed, !dhcp);
    OnCbnSelchangeComboIf();
    OnBnClickedChkNetBoot();
}

void CflintmereDlg::OnBnClickedUefi() {
    ShowLayout(AfterUefiClicked(Layout(), Forces()));
    m_services.WriteLog("UEFI flag changed to %d", m_record.m_uefi);
}

void CflintmereDlg::OnBnClickedChkINVERT() {
    m_services.WriteLog("OnBnClickedChkINVERT(): start");
    ShowOptions(AfterInvertClicked(Options()));
}

void CflintmereDlg::OnBnClickedSingleArmed() {
    bool invert = m_surface.IsChecked(IdChkInvert);
    setSingleArmedDefault(m_record, m_surface.IsChecked(IdChkSingleArmed), invert,
                          [this](u16view line) { m_services.WriteLogWText(line); });
    m_surface.SetCheck(IdChkInvert, invert);
}

// --- partition boxes ---

void CflintmereDlg::OnBnClickedPartitioned() {
    if (m_syncPartitionEnable) {
        const HardwareForces f = Forces();
        m_surface.Enable(IdChkPartitioned, !(f.partitioned || f.gpt));
        if (f.gpt && !f.partitioned) m_surface.Enable(IdChkGpt, false);
    }
    ShowLayout(AfterPartitionedClicked(Layout(), Forces()));
    m_services.WriteLog("partitioned flag changed to %d", m_record.m_partitioned);
}

void CflintmereDlg::OnBnClickedLegacyBios() {
    if (m_syncPartitionEnable && m_hwForcesLegacy) {
        m_surface.Enable(IdChkGpt, false);
        m_surface.Enable(IdChkPartitioned, true);
    }
    ShowLayout(AfterLegacyClicked(Layout(), Forces()));
    m_services.WriteLog("Legacy BIOS changed %d", m_record.m_legacyBios);
}

void CflintmereDlg::OnBnClickedGpt() {
    if (m_syncPartitionEnable) {
        // Whatever the hardware forces is no longer the operator's choice.
        const HardwareForces f = Forces();
        m_surface.Enable(IdChkGpt, !f.gpt && !f.legacy);
        m_surface.Enable(IdChkPartitioned, !f.gpt);
    }
    ShowLayout(AfterGptClicked(Layout(), Forces()));
    m_services.WriteLog("GPT Partition Disk flag changed to %d", m_record.m_gptPartition);
}

ConfigSourceChoice CflintmereDlg::Source() const {
    if (m_surface.IsChecked(IdRadioUseDb)) return ConfigSourceChoice::Database;
    if (m_surface.IsChecked(IdRadioUseNode)) return ConfigSourceChoice::NodeFile;
    return ConfigSourceChoice::Typed;
}

OptionBoxes CflintmereDlg::Options() const {
    const auto on = [this](int id) { return m_surface.IsChecked(id); };
    return {on(IdChkAutomated), on(IdChkPreInstall), on(IdChkNetBoot),
            on(IdChkDhcp),      on(IdChkInvert),     on(IdChkSingleArmed)};
}

void CflintmereDlg::ShowOptions(const OptionBoxes& o) {
    m_surface.SetCheck(IdChkAutomated, o.automated);
    m_surface.SetCheck(IdChkPreInstall, o.preinstall);
    m_surface.SetCheck(IdChkNetBoot, o.netBoot);
    m_surface.SetCheck(IdChkDhcp, o.dhcp);
    m_surface.SetCheck(IdChkInvert, o.invert);
    m_surface.SetCheck(IdChkSingleArmed, o.singleArmed);
}

HardwareForces CflintmereDlg::Forces() const {
    return {m_hwForcesLegacy != 0, m_hwForcesGpt != 0, m_hwForcesPartitioned != 0,
            m_hwForcesUefi != 0};
}

LayoutState CflintmereDlg::Layout() const {
    const SetupRecord& r = m_record;
    return {{r.m_partitioned != 0, r.m_gptPartition != 0, r.m_legacyBios != 0, r.m_uefi != 0},
            {m_surface.IsChecked(IdChkPartitioned), m_surface.IsChecked(IdChkGpt),
             m_surface.IsChecked(IdChkLegacyBios), m_surface.IsChecked(IdChkUefi)}};
}

void CflintmereDlg::ShowLayout(const LayoutState& s) {
    m_record.m_partitioned = s.record.partitioned;
    m_record.m_gptPartition = s.record.gpt;
    m_record.m_legacyBios = s.record.legacy;
    m_record.m_uefi = s.record.uefi;
    m_surface.SetCheck(IdChkPartitioned, s.boxes.partitioned);
    m_surface.SetCheck(IdChkGpt, s.boxes.gpt);
    m_surface.SetCheck(IdChkLegacyBios, s.boxes.legacy);
    m_surface.SetCheck(IdChkUefi, s.boxes.uefi);
}

// --- hardware type ---

void CflintmereDlg::OnCbnSelchangeHardwareType() {
    const int index = m_surface.ComboSelection(IdHardwareType);
    if (index < 0) return;
    const HardwareChoice choice = ChooseHardware(!m_usbHwListShown, index);
    m_record.m_hwType = choice.code;
    m_hwForcesLegacy = choice.forces.legacy;
    m_hwForcesGpt = choice.forces.gpt;
    m_hwForcesPartitioned = choice.forces.partitioned;
    m_hwForcesUefi = choice.forces.uefi;

    OnBnClickedGpt();
    OnBnClickedLegacyBios();
    OnBnClickedPartitioned();

    ShowLayout(AfterUefiClicked(Layout(), Forces()));
    m_services.WriteLog("UEFI flag changed to %d", m_record.m_uefi);
}

}  // namespace flintmere::ui
