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

bool ConfigModel::CreateNodeCfgFile(SetupRecord& record, MediaRoot& target, bool forceAutoinstall) {
    const bool written = WriteNodeCfg(record, target, forceAutoinstall);
    // The record keeps the forced flag, written or not.
    if (forceAutoinstall) record.m_autoinstall = 1;
    return written;
}

bool ConfigModel::CreateNodeCfgFile(const SetupRecord& record, MediaRoot& target) {
    return WriteNodeCfg(record, target, false);
}

bool ConfigModel::WriteNodeCfg(const SetupRecord& record, MediaRoot& target,
                               bool forceAutoinstall) {
    services_.WriteLog("CreateNodeCfgFile(): start");

    // The whole file is built first and written in one go; the lines that the
    // log shows are only logged once the file is really there.
    std::string file;
    std::vector<std::string> logged;
    auto add = [&](const u16& line, bool log) {
        std::string ansi = Utf16ToAnsi(line);
        if (log) logged.push_back(ansi);
        file += ansi;
    };

    const bool iso = record.m_isoMedia != 0;
    const bool wanUp = !record.m_wanDisabled;

    add(record.m_serverName.empty() ? u16(u"kestrel_label: unnamed\n")
                                    : FormatW(u"kestrel_label: %s\n", OneLine(record.m_serverName)),
        true);
    add(record.m_dhcp ? u16(u"kestrel_lan: 0.0.0.0 0.0.0.0\n")
                      : FormatW(u"kestrel_lan: %s %s\n", OneLine(record.m_lanAddress),
                                OneLine(record.m_lanNetmask)),
        true);
    add(!record.m_dhcp && !record.m_lanAddress6.empty()
            ? FormatW(u"kestrel_lan6: %s %s\n", OneLine(record.m_lanAddress6),
                      OneLine(record.m_lanPrefix6))
            : u16(u"kestrel_lan6: 0 0\n"),
        true);
    add(wanUp && IsValidHostAddress(record.m_wanAddress) && IsValidNetmask(record.m_wanNetmask)
            ? FormatW(u"kestrel_wan: %s %s\n", OneLine(record.m_wanAddress),
                      OneLine(record.m_wanNetmask))
            : u16(u"kestrel_wan: 0.0.0.0 0.0.0.0\n"),
        true);
    add(wanUp && IsValidIPv6PrefixLength(record.m_wanPrefix6)
            ? FormatW(u"kestrel_wan6: %s %s\n", OneLine(record.m_wanAddress6),
                      OneLine(record.m_wanPrefix6))
            : u16(u"kestrel_wan6: 0 0\n"),
        true);
    if (!record.m_adminDisabled && IsValidHostAddress(record.m_adminAddress) &&
        IsValidNetmask(record.m_adminNetmask)) {
        add(FormatW(u"kestrel_admin: %s %s\n", OneLine(record.m_adminAddress),
                    OneLine(record.m_adminNetmask)),
            true);
    }
    add(IsValidHostAddress(record.m_gateway)
            ? FormatW(u"kestrel_gw: %s\n", OneLine(record.m_gateway))
            : u16(u"kestrel_gw: 0.0.0.0\n"),
        true);
    add(!record.m_gateway6.empty() ? FormatW(u"kestrel_gw6: %s\n", OneLine(record.m_gateway6))
                                   : u16(u"kestrel_gw6: 0\n"),
        true);

    // ISO images install virtual machines: no stick options, servers or DNS.
    const Flag autoinstall = forceAutoinstall ? 1 : record.m_autoinstall;
    auto stickFlag = [iso](Flag value) { return !iso && value ? 1 : 0; };
    auto stickText = [iso](const u16& value) { return iso ? u16() : OneLine(value); };
    add(FormatW(u"usb_stick_partitioned: %d\n", stickFlag(record.m_partitioned)), false);
    add(FormatW(u"preinstall: %d\n", stickFlag(record.m_preinstall)), false);
    add(FormatW(u"autoinstall: %d\n", stickFlag(autoinstall)), false);
    add(FormatW(u"netboot: %d\n", stickFlag(record.m_netboot)), false);
    add(FormatW(u"dhcp: %d\n", stickFlag(record.m_dhcp)), false);
    add(FormatW(u"uefi: %d\n", stickFlag(record.m_uefi)), false);
    add(FormatW(u"legacy_bios: %d\n", stickFlag(record.m_legacyBios)), false);
    add(FormatW(u"gpt_partition: %d\n", stickFlag(record.m_gptPartition)), false);
    add(FormatW(u"supplyserver1: %s\n", stickText(record.m_supplyServer1)), false);
    add(FormatW(u"supplyserver2: %s\n", stickText(record.m_supplyServer2)), false);
    add(FormatW(u"logicid: %s\n", stickText(record.m_logicId)), false);
    add(FormatW(u"dns1: %s\n", stickText(record.m_dns1)), false);
    add(FormatW(u"dns2: %s\n", stickText(record.m_dns2)), false);
    // Invert and single armed exclude each other; both set means neither.
    add(FormatW(u"invert: %d\n", record.m_singleArmed ? 0 : (record.m_invert ? 1 : 0)), false);
    add(FormatW(u"singlearmed: %d\n", record.m_invert ? 0 : (record.m_singleArmed ? 1 : 0)), false);

    const bool missingIsoHardware = iso && record.m_hwType == HwNone;
    if (!missingIsoHardware) {
        if (auto hardware = NodeCfgHardwareLines(record.m_hwType)) add(u16(*hardware), false);
    }

    const auto* bytes = reinterpret_cast<const std::uint8_t*>(file.data());
    if (!target.WriteFile("node.cfg", {bytes, file.size()})) {
        services_.PrintStdout("Could not open file (error %d)\n", target.LastError());
        return false;
    }
    for (const std::string& line : logged) {
        services_.WriteLog("CreateNodeCfgFile(): written: \"%s\"", line.c_str());
    }

    if (missingIsoHardware) {
        // The file stays with the lines so far; the caller goes on regardless.
        u16 text = FormatW(u"Wrong ISO hardware type: %ls / %ls\n", record.m_hwPlatformText,
                           record.m_vmPlatformText);
        services_.PrintStdout("%s", Utf16ToUtf8(text).c_str());
        return false;
    }
    services_.WriteLog("CreateNodeCfgFile(): done");
    return true;
}

}  // namespace flintmere
