#include "config/form_rules.h"

#include <algorithm>
#include <optional>

#include "config/node_cfg_tokens.h"

namespace flintmere {

namespace {

bool IsCSpace(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}
int DigitValue(char16_t c, int base) {
    if (c >= u'0' && c <= u'9' && c - u'0' < base) return c - u'0';
    if (base == 16 && c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (base == 16 && c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// No caller looks past 32 bits; the cap only keeps long texts from overflowing.
constexpr long long kScanCap = 1'000'000'000'000'000LL;

}  // namespace

Ipv4Text ScanIpv4(u16view text, Ipv4Syntax syntax) {
    const bool control = syntax == Ipv4Syntax::Control;
    Ipv4Text out;
    std::size_t at = 0;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (at >= text.size() || text[at] != u'.') break;
            ++at;
        }
        bool negative = false;
        int base = 10;
        if (syntax == Ipv4Syntax::Inet) {
            if (at + 1 < text.size() && text[at] == u'0') {
                const bool hex = (text[at + 1] == u'x' || text[at + 1] == u'X') &&
                                 at + 2 < text.size() && DigitValue(text[at + 2], 16) >= 0;
                base = hex ? 16 : 8;
                if (hex) at += 2;
            }
        } else if (!control) {
            while (at < text.size() && IsCSpace(text[at])) ++at;
            if (at < text.size() && (text[at] == u'+' || text[at] == u'-')) {
                negative = text[at] == u'-';
                ++at;
            }
        }
        const std::size_t start = at;
        long long value = 0;
        for (; at < text.size() && DigitValue(text[at], base) >= 0; ++at) {
            if (control && at - start == 3) break;
            value = std::min(value * base + DigitValue(text[at], base), kScanCap);
        }
        if (at == start || (control && value > 255)) break;
        out.part[i] = negative ? -value : value;
        out.count = i + 1;
        out.end = at;
    }
    return out;
}

u16 AsAddressControlGivesBack(const u16& text) {
    const Ipv4Text v = ScanIpv4(text, Ipv4Syntax::Control);
    if (v.count != 4 || v.end != text.size()) return text;
    return FormatW(u"%d.%d.%d.%d", static_cast<int>(v.part[0]), static_cast<int>(v.part[1]),
                   static_cast<int>(v.part[2]), static_cast<int>(v.part[3]));
}

HardwareForces ForcesOf(const HardwareEntry& entry) {
    return {entry.needsLegacy, entry.needsGpt, entry.needsPartitioned, entry.needsUefi};
}

LayoutState AfterGptClicked(LayoutState s, const HardwareForces& f) {
    if (f.gpt) {
        s.boxes.gpt = true;
    } else if (f.legacy) {
        s.boxes.gpt = false;
    }
    s.record.gpt = s.boxes.gpt;
    if (s.record.gpt) {
        // GPT means a partitioned stick without the legacy layout.
        s.record.legacy = false;
        s.record.partitioned = true;
        s.boxes.partitioned = true;
        s.boxes.legacy = false;
    } else {
        s.record.legacy = true;
        s.boxes.legacy = true;
    }
    return s;
}

LayoutState AfterLegacyClicked(LayoutState s, const HardwareForces& f) {
    if (f.legacy) {
        s.boxes.legacy = true;
    } else if (f.gpt) {
        s.boxes.legacy = false;
    }
    s.record.legacy = s.boxes.legacy;
    if (s.record.legacy) {
        s.record.gpt = false;
        s.boxes.gpt = false;
    }
    return s;
}

LayoutState AfterPartitionedClicked(LayoutState s, const HardwareForces& f) {
    if (f.partitioned || f.gpt) s.boxes.partitioned = true;
    s.record.partitioned = s.boxes.partitioned;
    if (!s.record.partitioned) {
        // An unpartitioned stick boots the legacy way only.
        s.record.gpt = false;
        s.record.legacy = true;
    }
    s.boxes.gpt = s.record.gpt;
    s.boxes.legacy = s.record.legacy;
    return s;
}

LayoutState AfterUefiClicked(LayoutState s, const HardwareForces& f) {
    if (f.uefi) s.boxes.uefi = true;
    s.record.uefi = s.boxes.uefi;
    return s;
}

LayoutState AfterHardwareChosen(LayoutState s, const HardwareForces& f) {
    s = AfterGptClicked(s, f);
    s = AfterLegacyClicked(s, f);
    s = AfterPartitionedClicked(s, f);
    return AfterUefiClicked(s, f);
}

HardwareChoice ChooseHardware(bool iso, int entry) {
    HardwareChoice c;
    c.entry = entry;
    if (iso) {
        if (entry >= 0 && entry < static_cast<int>(kVmHardwareList.size()))
            c.text = kVmHardwareList[entry].text;
        if (entry >= VmHwSmall && entry <= VmHwLarge) c.code = kVmHardwareList[entry].code;
    } else if (entry >= 0 && entry < static_cast<int>(kUsbHardwareList.size())) {
        const HardwareEntry& e = kUsbHardwareList[entry];
        c.code = e.code;
        c.text = e.text;
        c.forces = ForcesOf(e);
    }
    return c;
}

OptionBoxes AfterDhcpClicked(OptionBoxes o, ConfigSourceChoice source) {
    // The file modes keep what the file said.
    if (source != ConfigSourceChoice::Typed) return o;
    if (o.dhcp) o.singleArmed = false;
    if (o.automated) o.netBoot = o.dhcp;
    return o;
}

OptionBoxes AfterPreinstallClicked(OptionBoxes o, ConfigSourceChoice source) {
    if (o.preinstall) {
        // A preinstalled appliance boots from the network and asks it for addresses.
        o.automated = o.netBoot = o.dhcp = true;
    } else {
        o.dhcp = false;
    }
    return AfterDhcpClicked(o, source);
}

OptionBoxes AfterAutomatedClicked(OptionBoxes o, ConfigSourceChoice source) {
    if (o.automated) return o;
    o.netBoot = o.dhcp = false;
    if (source != ConfigSourceChoice::Database) o.preinstall = false;
    return o;
}

OptionBoxes AfterInvertClicked(OptionBoxes o) {
    if (o.invert) o.singleArmed = false;
    return o;
}

FormBoxes AfterSourceOrMediumChange(FormBoxes b, ConfigSourceChoice source, bool iso) {
    if (iso || source == ConfigSourceChoice::Database) {
        b.options = {};
        b.layout = {};
    }
    return b;
}

LoadedNodeForm ShowLoadedNodeFile(SetupRecord& r, bool iso) {
    std::optional<PlatformMatch> match;
    if (!r.m_hwPlatformText.empty() || !r.m_vmPlatformText.empty()) {
        match = iso ? MatchVmList(r.m_hwPlatformText, r.m_vmPlatformText)
                    : MatchUsbList(r.m_hwPlatformText, r.m_vmPlatformText);
    }
    const int code = match ? match->code : HwNone;
    LoadedNodeForm form;
    form.hardware = ChooseHardware(iso, iso ? VmEntryForCode(code) : UsbEntryForCode(code));
    r.m_hwType = form.hardware.code;
    LayoutState s;
    if (!iso) {
        form.options = {r.m_autoinstall != 0, r.m_preinstall != 0, r.m_netboot != 0,
                        r.m_dhcp != 0,        r.m_invert != 0,     false};
        s.boxes = {r.m_partitioned != 0, r.m_gptPartition && !r.m_legacyBios, r.m_legacyBios != 0,
                   r.m_uefi != 0};
    }
    form.options.singleArmed = r.m_singleArmed;
    s.record = {r.m_partitioned != 0, r.m_gptPartition != 0, r.m_legacyBios != 0, r.m_uefi != 0};
    // The window runs the layout handlers once for the hardware entry and
    // once more after the file is shown.
    s = AfterHardwareChosen(s, form.hardware.forces);
    s = AfterHardwareChosen(s, form.hardware.forces);
    form.layout = s.boxes;
    r.m_partitioned = s.record.partitioned;
    r.m_gptPartition = s.record.gpt;
    r.m_legacyBios = s.record.legacy;
    r.m_uefi = s.record.uefi;
    return form;
}

void StoreGeneralValues(SetupRecord& record, const GeneralValues& general) {
    if (general.dns1) record.m_dns1 = *general.dns1;
    if (general.dns2) record.m_dns2 = *general.dns2;
    record.m_logicId = general.logicalId;
    record.m_supplyServer1 = general.qmxUrl1;
    record.m_supplyServer2 = general.qmxUrl2;
}

std::string NodeKeyOf(FormField field) {
    switch (field) {
        case FormField::HostName:
            return "kestrel_label";
        case FormField::LogicalId:
            return "logicid";
        case FormField::QmxUrl1:
            return "supplyserver1";
        case FormField::QmxUrl2:
            return "supplyserver2";
        case FormField::LanIpv4:
            return "kestrel_lan";
        case FormField::LanIpv6:
            return "kestrel_lan6";
        case FormField::WanIpv4:
            return "kestrel_wan";
        case FormField::WanIpv6:
            return "kestrel_wan6";
        case FormField::AdminIpv4:
            return "kestrel_admin";
        case FormField::Ipv6Gateway:
            return "kestrel_gw6";
        case FormField::HardwareType:
            return "hw_platform";
        case FormField::Form:
            break;
    }
    return "";
}

OkDecision DecideOk(SetupRecord& record, SetupRequestForm& form, const GeneralValues& general,
                    SetupValidationServices& services) {
    const ValidationResult result = ValidateSetupRequest(record, form, services);
    OkDecision d;
    if (result.outcome != ValidationOutcome::Accepted) {
        d.declined = result.outcome == ValidationOutcome::Declined;
        d.refusal = FormRefusal{result.field, NodeKeyOf(result.field), result.message,
                                result.caption, result.ownedByDialog};
        return d;
    }
    SetupRecord toWrite = record;
    StoreGeneralValues(toWrite, general);
    // A value that would change what node.cfg says is refused as batch mode refuses it.
    if (const std::vector<SplittingValue> refused = FindSplittingValues(toWrite);
        !refused.empty()) {
        const SplittingValue& v = refused.front();
        d.refusal =
            FormRefusal{FormField::Form, v.key,
                        FormatW(u"Invalid %s: the value %s %s and would change node.cfg (%s).",
                                v.field, QuotedForMessage(v.value), RefusalReason(v), v.key),
                        u"Error", true};
        return d;
    }
    d.request = std::move(toWrite);
    return d;
}

}  // namespace flintmere
