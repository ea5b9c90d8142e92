#include "rollout/unit_check.h"

#include <cstdint>

#include "config/config_model.h"
#include "config/hardware_lists.h"
#include "config/node_cfg_parse.h"
#include "config/node_cfg_tokens.h"
#include "config/setup_validation.h"
#include "platform/clock.h"
#include "platform/system_env.h"

namespace flintmere {
namespace {

// The window's check boxes once a node.cfg is loaded.
struct Boxes {
    bool automated = false, preinstall = false, netBoot = false, dhcp = false, uefi = false;
    bool invert = false, singleArmed = false;
    bool partitioned = false, gpt = false, legacy = true;
};

// What the chosen hardware entry imposes on the stick layout.
struct Forces {
    bool legacy = false, gpt = false, partitioned = false, uefi = false;
};

// The GPT, legacy BIOS and partitioned handlers, in the order the window
// runs them after reading a node.cfg.
void RunPartitionHandlers(SetupRecord& r, Boxes& b, const Forces& f) {
    if (f.gpt) {
        b.gpt = true;
    } else if (f.legacy) {
        b.gpt = false;
    }
    r.m_gptPartition = b.gpt;
    if (r.m_gptPartition) {
        r.m_legacyBios = 0;
        r.m_partitioned = 1;
        b.partitioned = true;
        b.legacy = false;
    } else {
        r.m_legacyBios = 1;
        b.legacy = true;
    }

    if (f.legacy) {
        b.legacy = true;
    } else if (f.gpt) {
        b.legacy = false;
    }
    r.m_legacyBios = b.legacy;
    if (r.m_legacyBios) {
        r.m_gptPartition = 0;
        b.gpt = false;
    }

    if (f.partitioned || f.gpt) b.partitioned = true;
    r.m_partitioned = b.partitioned;
    if (!r.m_partitioned) {
        r.m_gptPartition = 0;
        r.m_legacyBios = 1;
    }
    b.gpt = r.m_gptPartition != 0;
    b.legacy = r.m_legacyBios != 0;
}

// The controls as the window shows them after it read the node.cfg into
// `r`: the hardware entry its platform texts pick, the boxes (cleared for
// the virtual-machine entry), the layout the hardware forces.
Boxes ShowLoadedNodeFile(SetupRecord& r, bool iso, u16& hardwareText) {
    std::optional<PlatformMatch> match;
    if (!r.m_hwPlatformText.empty() || !r.m_vmPlatformText.empty()) {
        match = iso ? MatchVmList(r.m_hwPlatformText, r.m_vmPlatformText)
                    : MatchUsbList(r.m_hwPlatformText, r.m_vmPlatformText);
    }
    const int code = match ? match->code : HwNone;
    Boxes b;
    Forces f;
    if (iso) {
        const int entry = VmEntryForCode(code);
        r.m_hwType =
            entry >= VmHwSmall && entry <= VmHwLarge ? kVmHardwareList[entry].code : HwNone;
        hardwareText = kVmHardwareList[entry].text;
    } else {
        const HardwareEntry& entry = kUsbHardwareList[UsbEntryForCode(code)];
        r.m_hwType = entry.code;
        hardwareText = entry.text;
        f = {entry.needsLegacy, entry.needsGpt, entry.needsPartitioned, entry.needsUefi};
        b.preinstall = r.m_preinstall;
        b.automated = r.m_autoinstall;
        b.netBoot = r.m_netboot;
        b.dhcp = r.m_dhcp;
        b.invert = r.m_invert;
        b.uefi = r.m_uefi;
        b.legacy = r.m_legacyBios;
        b.gpt = r.m_gptPartition && !r.m_legacyBios;
        b.partitioned = r.m_partitioned;
    }
    b.singleArmed = r.m_singleArmed;

    RunPartitionHandlers(r, b, f);
    if (f.uefi) b.uefi = true;
    r.m_uefi = b.uefi;
    RunPartitionHandlers(r, b, f);
    return b;
}

// A DNS server as the address control gives it back: four numbers of up to
// three digits are written anew ("010.1.1.1" -> "10.1.1.1"); anything else
// leaves the control blank and the text as it was.
u16 AsAddressControlGivesBack(const u16& text) {
    int parts[4] = {};
    std::size_t at = 0;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (at >= text.size() || text[at] != u'.') return text;
            ++at;
        }
        const std::size_t start = at;
        while (at < text.size() && at - start < 3 && text[at] >= u'0' && text[at] <= u'9') {
            parts[i] = parts[i] * 10 + (text[at] - u'0');
            ++at;
        }
        if (at == start || parts[i] > 255) return text;
    }
    if (at != text.size()) return text;
    return FormatW(u"%d.%d.%d.%d", parts[0], parts[1], parts[2], parts[3]);
}

class TableServices final : public SetupValidationServices {
  public:
    explicit TableServices(Presenter& boxes) : boxes_(boxes) {}
    bool CheckPendriveSoftware() override { return true; }
    bool CheckInstallImage() override { return true; }
    std::uint64_t SelectDrive(int) override { return kMinimumStickBytes; }
    void WriteLogLine(u16view) override {}
    Presenter& Boxes() override { return boxes_; }

  private:
    Presenter& boxes_;
};

bool Has(u16view text, u16view part) {
    return text.find(part) != u16view::npos;
}

// The key a message of the window is about; "" for the row as a whole.
std::string ColumnOfMessage(u16view m) {
    const bool ipv6 = Has(m, u"IPv6") || Has(m, u"IPV6");
    if (Has(m, u"Server Name") || Has(m, u"server name")) return "kestrel_label";
    if (Has(m, u"Logical ID")) return "logicid";
    if (Has(m, u"QMX URL 1")) return "supplyserver1";
    if (Has(m, u"QMX URL 2")) return "supplyserver2";
    if (Has(m, u"IPv6 gateway") || Has(m, u"IPv6 Gateway")) return "kestrel_gw6";
    if (Has(m, u"Hardware type") || Has(m, u"gateway database")) return "hw_platform";
    if (Has(m, u"for LAN interface")) return ipv6 ? "kestrel_lan6" : "kestrel_lan";
    if (Has(m, u"for WAN interface") || Has(m, u"interfaces LAN and WAN"))
        return ipv6 ? "kestrel_wan6" : "kestrel_wan";
    if (Has(m, u"interfaces ADMIN")) return "kestrel_admin";
    return "";
}

TableRefusal Refusal(const UnitRow& unit, std::string column, const u16& reason) {
    return {unit.row, std::move(column), Utf16ToUtf8(reason)};
}

std::optional<TableRefusal> CheckAsWindow(UnitRow& unit, bool iso) {
    SystemClock clock;
    LinuxSystemEnv env;
    RecordingPresenter shown;
    shown.ScriptAnswers({kIdNo});
    AppServices reports({clock, shown, env, [](std::string_view) {}});
    SetupRecord model;
    model.ResetConfiguration(true);
    model.m_isoMedia = iso ? 1 : 0;

    const std::vector<std::uint8_t> bytes(unit.nodeCfg.begin(), unit.nodeCfg.end());
    if (!ConfigModel(reports).LoadNodeFileData(model, u"node.cfg", bytes)) {
        // The reader takes no node.cfg without a host name and a LAN address.
        const char* missing =
            ParseNodeCfg(unit.nodeCfg).label.empty() ? "kestrel_label" : "kestrel_lan";
        const std::vector<ShownMessage> boxes = shown.Shown();
        const u16 text =
            boxes.empty() ? u16(u"File node.cfg is not compatible!") : boxes.front().text;
        return Refusal(unit, missing,
                       FormatW(u"there is no %s value, and the window refuses a node.cfg "
                               u"without one (\"%s\")",
                               missing, text));
    }
    model.m_nodeFileLoaded = 1;

    SetupRequestForm form;
    const Boxes b = ShowLoadedNodeFile(model, iso, form.hardwareTypeText);
    form.hostName = model.m_serverName;
    form.netBoot = b.netBoot;
    form.preinstall = b.preinstall;
    form.dhcp = b.dhcp;
    form.singleArmed = b.singleArmed;
    form.automated = b.automated;
    form.sourceNodeFile = true;
    form.logicalId = model.m_logicId;
    form.qmxUrl1 = model.m_supplyServer1;
    form.qmxUrl2 = model.m_supplyServer2;
    // One stick and the virtual-machine entry, which ends the list.
    form.mediaEntryCount = 2;
    form.selectedMediaEntry = iso ? 1 : 0;
    form.invert = b.invert;

    TableServices services(shown);
    const ValidationResult result = ValidateSetupRequest(model, form, services);
    const std::vector<ShownMessage> boxes = shown.Shown();
    if (!boxes.empty() && (boxes.front().style & 0xF) == kMbYesNo) {
        return Refusal(unit, ColumnOfMessage(boxes.front().text),
                       FormatW(u"the window asks \"%s\", which a run without it cannot answer",
                               boxes.front().text));
    }
    if (result.outcome != ValidationOutcome::Accepted) {
        const u16& text = result.outcome == ValidationOutcome::Rejected || boxes.empty()
                              ? result.message
                              : boxes.front().text;
        return Refusal(unit, ColumnOfMessage(text), text);
    }

    // OK stores the General fields as the controls give them back, then
    // refuses a value that would change what node.cfg says.
    model.m_dns1 = AsAddressControlGivesBack(model.m_dns1);
    model.m_dns2 = AsAddressControlGivesBack(model.m_dns2);
    if (const std::vector<SplittingValue> splitting = FindSplittingValues(model);
        !splitting.empty()) {
        const SplittingValue& v = splitting.front();
        return Refusal(unit, v.key,
                       FormatW(u"Invalid %s: the value %s %s and would change node.cfg (%s).",
                               v.field, QuotedForMessage(v.value), RefusalReason(v), v.key));
    }

    model.m_preinstall = b.preinstall;
    model.m_netboot = b.netBoot;
    model.m_dhcp = b.dhcp;
    model.m_autoinstall = b.automated;
    model.m_uefi = b.uefi;
    model.m_invert = form.invert;
    model.m_singleArmed = b.singleArmed;
    model.m_partitioned = b.partitioned;
    model.m_gptPartition = b.gpt;
    model.m_legacyBios = b.legacy;

    unit.record = model;
    unit.hostName = Utf16ToUtf8(model.m_serverName);
    return std::nullopt;
}

}  // namespace

UnitCheck MakeNodeCfgModeCheck(bool iso) {
    return [iso](UnitRow& unit) { return CheckAsWindow(unit, iso); };
}

}  // namespace flintmere
