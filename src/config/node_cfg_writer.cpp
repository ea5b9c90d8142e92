#include <string>
#include <vector>

#include "config/address_checks.h"
#include "config/config_model.h"
#include "config/node_cfg_hardware.h"

namespace flintmere {
namespace {

// A value is one line: a CR or LF inside it (a database text, say) would
// otherwise start a line of its own and tell the appliance something else.
u16 OneLine(u16 value) {
    for (char16_t& c : value) {
        if (c == u'\r' || c == u'\n') c = u' ';
    }
    return value;
}

}  // namespace

bool ConfigModel::CreateNodeCfgFile(MediaRoot& target, bool forceAutoinstall) {
    WriteLog("CreateNodeCfgFile(): start");

    // The whole file is built first and written in one go; the lines that the
    // log shows are only logged once the file is really there.
    std::string file;
    std::vector<std::string> logged;
    auto add = [&](const u16& line, bool log) {
        std::string ansi = Utf16ToAnsi(line);
        if (log) logged.push_back(ansi);
        file += ansi;
    };

    const bool iso = m_isoMedia != 0;
    const bool wanUp = !m_wanDisabled;

    add(m_serverName.empty() ? u16(u"kestrel_label: unnamed\n")
                             : FormatW(u"kestrel_label: %s\n", OneLine(m_serverName)),
        true);
    add(m_dhcp ? u16(u"kestrel_lan: 0.0.0.0 0.0.0.0\n")
               : FormatW(u"kestrel_lan: %s %s\n", OneLine(m_lanAddress), OneLine(m_lanNetmask)),
        true);
    add(!m_dhcp && !m_lanAddress6.empty()
            ? FormatW(u"kestrel_lan6: %s %s\n", OneLine(m_lanAddress6), OneLine(m_lanPrefix6))
            : u16(u"kestrel_lan6: 0 0\n"),
        true);
    add(wanUp && IsValidHostAddress(m_wanAddress) && IsValidNetmask(m_wanNetmask)
            ? FormatW(u"kestrel_wan: %s %s\n", OneLine(m_wanAddress), OneLine(m_wanNetmask))
            : u16(u"kestrel_wan: 0.0.0.0 0.0.0.0\n"),
        true);
    add(wanUp && IsValidIPv6PrefixLength(m_wanPrefix6)
            ? FormatW(u"kestrel_wan6: %s %s\n", OneLine(m_wanAddress6), OneLine(m_wanPrefix6))
            : u16(u"kestrel_wan6: 0 0\n"),
        true);
    if (!m_adminDisabled && IsValidHostAddress(m_adminAddress) && IsValidNetmask(m_adminNetmask)) {
        add(FormatW(u"kestrel_admin: %s %s\n", OneLine(m_adminAddress), OneLine(m_adminNetmask)),
            true);
    }
    add(IsValidHostAddress(m_gateway) ? FormatW(u"kestrel_gw: %s\n", OneLine(m_gateway))
                                      : u16(u"kestrel_gw: 0.0.0.0\n"),
        true);
    add(!m_gateway6.empty() ? FormatW(u"kestrel_gw6: %s\n", OneLine(m_gateway6))
                            : u16(u"kestrel_gw6: 0\n"),
        true);

    // ISO images install virtual machines: no stick options, servers or DNS.
    const Flag autoinstall = forceAutoinstall ? 1 : m_autoinstall;
    auto stickFlag = [iso](Flag value) { return !iso && value ? 1 : 0; };
    auto stickText = [iso](const u16& value) { return iso ? u16() : OneLine(value); };
    add(FormatW(u"usb_stick_partitioned: %d\n", stickFlag(m_partitioned)), false);
    add(FormatW(u"preinstall: %d\n", stickFlag(m_preinstall)), false);
    add(FormatW(u"autoinstall: %d\n", stickFlag(autoinstall)), false);
    add(FormatW(u"netboot: %d\n", stickFlag(m_netboot)), false);
    add(FormatW(u"dhcp: %d\n", stickFlag(m_dhcp)), false);
    add(FormatW(u"uefi: %d\n", stickFlag(m_uefi)), false);
    add(FormatW(u"legacy_bios: %d\n", stickFlag(m_legacyBios)), false);
    add(FormatW(u"gpt_partition: %d\n", stickFlag(m_gptPartition)), false);
    add(FormatW(u"supplyserver1: %s\n", stickText(m_supplyServer1)), false);
    add(FormatW(u"supplyserver2: %s\n", stickText(m_supplyServer2)), false);
    add(FormatW(u"logicid: %s\n", stickText(m_logicId)), false);
    add(FormatW(u"dns1: %s\n", stickText(m_dns1)), false);
    add(FormatW(u"dns2: %s\n", stickText(m_dns2)), false);
    // Invert and single armed exclude each other; both set means neither.
    add(FormatW(u"invert: %d\n", m_singleArmed ? 0 : (m_invert ? 1 : 0)), false);
    add(FormatW(u"singlearmed: %d\n", m_invert ? 0 : (m_singleArmed ? 1 : 0)), false);

    const bool missingIsoHardware = iso && m_hwType == HwNone;
    if (!missingIsoHardware) {
        if (auto hardware = NodeCfgHardwareLines(m_hwType)) add(u16(*hardware), false);
    }

    const auto* bytes = reinterpret_cast<const std::uint8_t*>(file.data());
    if (!target.WriteFile("node.cfg", {bytes, file.size()})) {
        PrintStdout("Could not open file (error %d)\n", target.LastError());
        return false;
    }
    for (const std::string& line : logged) {
        WriteLog("CreateNodeCfgFile(): written: \"%s\"", line.c_str());
    }
    if (forceAutoinstall) m_autoinstall = 1;

    if (missingIsoHardware) {
        // The file stays with the lines so far; the caller goes on regardless.
        u16 text =
            FormatW(u"Wrong ISO hardware type: %ls / %ls\n", m_hwPlatformText, m_vmPlatformText);
        PrintStdout("%s", Utf16ToUtf8(text).c_str());
        return false;
    }
    WriteLog("CreateNodeCfgFile(): done");
    return true;
}

}  // namespace flintmere
