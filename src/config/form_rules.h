// The decisions the main dialog takes after input, free of any toolkit, so
// the window and the rollout's check follow one copy: the layout boxes the
// hardware forces, what a medium or source change clears, what a loaded
// node.cfg sets, and the IPv4 text scanner the address readers share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "config/hardware_lists.h"
#include "config/setup_record.h"
#include "config/setup_validation.h"
#include "platform/text.h"

namespace flintmere {

// --- IPv4 text ---

enum class Ipv4Syntax {
    Scanf,    // "%lld.%lld.%lld.%lld": blanks and a sign before each number
    Control,  // what an address control takes: 1-3 digits up to 255 each
    Inet,     // inet_aton's numbers: decimal, octal after 0, hex after 0x
};

struct Ipv4Text {
    int count = 0;           // numbers read before the first that did not fit
    long long part[4] = {};  // Scanf values are capped far above 32 bits
    std::size_t end = 0;     // where reading stopped
};

Ipv4Text ScanIpv4(u16view text, Ipv4Syntax syntax);

// A text as an address control gives it back: a strict dotted quad is
// written anew ("010.1.1.1" -> "10.1.1.1"), anything else stays as it was.
u16 AsAddressControlGivesBack(const u16& text);

// --- partition and boot boxes ---

struct HardwareForces {
    bool legacy = false, gpt = false, partitioned = false, uefi = false;
};

HardwareForces ForcesOf(const HardwareEntry& entry);

struct LayoutFlags {
    bool partitioned = false, gpt = false, legacy = true, uefi = false;
    bool operator==(const LayoutFlags&) const = default;
};

// The record's layout flags and the boxes that show them: a handler reads
// one box, and the record can briefly disagree with the others.
struct LayoutState {
    LayoutFlags record;
    LayoutFlags boxes;
};

LayoutState AfterGptClicked(LayoutState s, const HardwareForces& f);
LayoutState AfterLegacyClicked(LayoutState s, const HardwareForces& f);
LayoutState AfterPartitionedClicked(LayoutState s, const HardwareForces& f);
LayoutState AfterUefiClicked(LayoutState s, const HardwareForces& f);
// A hardware entry chosen: GPT, legacy, partitioned, then UEFI.
LayoutState AfterHardwareChosen(LayoutState s, const HardwareForces& f);

// The hardware entry a list shows for `code`; the ISO list knows only the
// virtual sizes.
struct HardwareChoice {
    int entry = 0;
    int code = HwNone;
    const char16_t* text = u"";
    HardwareForces forces;
};
HardwareChoice ChooseHardware(bool iso, int entry);

// --- option boxes ---

struct OptionBoxes {
    bool automated = false, preinstall = false, netBoot = false, dhcp = false;
    bool invert = false, singleArmed = false;
    bool operator==(const OptionBoxes&) const = default;
};

enum class ConfigSourceChoice { Typed, Database, NodeFile };

// DHCP announces the addresses, so single armed cannot go with it; with
// automated installation net boot follows DHCP.
OptionBoxes AfterDhcpClicked(OptionBoxes o, ConfigSourceChoice source);
OptionBoxes AfterPreinstallClicked(OptionBoxes o, ConfigSourceChoice source);
// Without automated installation nothing is booted from the network: net
// boot and DHCP go, and preinstall too where the operator types the values.
OptionBoxes AfterAutomatedClicked(OptionBoxes o, ConfigSourceChoice source);
// Invert clears single armed.
OptionBoxes AfterInvertClicked(OptionBoxes o);

// The boxes after switching the medium or the source: the ISO image and a
// database start from cleared options and the legacy-only layout.
struct FormBoxes {
    OptionBoxes options;
    LayoutFlags layout;
};
FormBoxes AfterSourceOrMediumChange(FormBoxes b, ConfigSourceChoice source, bool iso);

// --- a node.cfg read into the record ---

// The hardware entry the node.cfg's platform texts pick, the boxes as the
// window fills them (cleared for the virtual-machine entry) and the layout
// the hardware forces; the record's flags and type are brought in line.
struct LoadedNodeForm {
    HardwareChoice hardware;
    OptionBoxes options;
    LayoutFlags layout;
};
LoadedNodeForm ShowLoadedNodeFile(SetupRecord& r, bool iso);

// --- OK ---

// What OK stores from the General group; a blank DNS control (nullopt)
// keeps the record's value, which a database may have given.
struct GeneralValues {
    std::optional<u16> dns1, dns2;
    u16 logicalId, qmxUrl1, qmxUrl2;
};
void StoreGeneralValues(SetupRecord& record, const GeneralValues& general);

struct FormRefusal {
    FormField field = FormField::Form;
    std::string key;  // the node.cfg key the field writes; "" for the whole form
    u16 text;
    u16 caption;
    bool ownedByDialog = false;
};

// Either the request OK runs with (the record with the General values
// stored) or why not: a refusal, or the operator declined a question
// (`declined`, its field in `refusal.field`). `record` keeps what the
// validation writes on the way.
struct OkDecision {
    std::optional<SetupRecord> request;
    std::optional<FormRefusal> refusal;
    bool declined = false;
};
OkDecision DecideOk(SetupRecord& record, SetupRequestForm& form, const GeneralValues& general,
                    SetupValidationServices& services);

// The node.cfg key a form field writes.
std::string NodeKeyOf(FormField field);

}  // namespace flintmere
