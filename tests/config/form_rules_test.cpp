#include "config/form_rules.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace flintmere {
namespace {

using Src = ConfigSourceChoice;

enum class Step { Hardware, Gpt, Legacy, Partitioned, Dhcp, Preinstall, Automated, Invert, Change, Load, Ok };

// Answers the one question No, as a run without an operator does.
class Services final : public SetupValidationServices, public Presenter {
  public:
    bool CheckPendriveSoftware() override { return true; }
    bool CheckInstallImage() override { return true; }
    std::uint64_t SelectDrive(int) override { return kMinimumStickBytes; }
    void WriteLogLine(u16view) override {}
    Presenter& Boxes() override { return *this; }
    int ShowMessage(const u16&, const u16&, unsigned style, bool) override {
        ++questions;
        return (style & 0xF) == kMbYesNo ? kIdNo : kIdOk;
    }
    int questions = 0;
};

struct Stored {
    const char16_t* dns1 = u"";
    const char16_t* dns2 = u"";
    const char16_t* logicId = u"";
    const char16_t* qmx1 = u"";
    const char16_t* qmx2 = u"";
};

struct Case {
    const char* name;
    Src source = Src::Typed;
    bool iso = false;
    int hw = 0;  // the entry of the shown list
    Step step = Step::Ok;
    OptionBoxes options{};
    LayoutFlags layout{};
    OptionBoxes wantOptions{};
    LayoutFlags wantLayout{};
    // Ok and Load: changes to an accepted request, or a node.cfg's values.
    std::function<void(SetupRecord&, SetupRequestForm&, GeneralValues&)> edit{};
    FormField wantField = FormField::Form;
    const char* wantKey = nullptr;  // null: accepted
    const char16_t* wantText = u"";
    Stored want{};
    int wantCode = HwNone;
};

constexpr LayoutFlags kLegacyOnly{};
constexpr LayoutFlags kGpt{true, true, false, false};
constexpr LayoutFlags kGptUefi{true, true, false, true};
constexpr LayoutFlags kPartitionedLegacy{true, false, true, false};
constexpr OptionBoxes kArmed{.singleArmed = true};
constexpr OptionBoxes kAutoArmed{.automated = true, .singleArmed = true};

// clang-format off
const Case kCases[] = {
    // What the hardware entry forces, and what it leaves to the operator.
    {.name = "uefi bios", .hw = UsbHwUefiBios, .step = Step::Hardware, .wantLayout = kGptUefi, .wantCode = HwUefiBios},
    {.name = "legacy bios takes gpt away", .hw = UsbHwLegacyBios, .step = Step::Hardware, .layout = kGpt,
     .wantLayout = kPartitionedLegacy, .wantCode = HwLegacyBios},
    {.name = "x3250", .hw = UsbHwX3250, .step = Step::Hardware, .wantLayout = kPartitionedLegacy, .wantCode = HwX3250},
    {.name = "sr630: gpt, no uefi", .hw = UsbHwSr630, .step = Step::Hardware, .wantLayout = kGpt, .wantCode = HwSr630},
    {.name = "kontron", .hw = UsbHwKontron550, .step = Step::Hardware, .wantLayout = kGptUefi, .wantCode = HwKontron550},
    {.name = "no entry frees gpt", .hw = UsbHwEmpty, .step = Step::Hardware, .layout = kGpt, .wantLayout = kGpt},
    {.name = "iso list forces nothing", .iso = true, .hw = VmHwMedium, .step = Step::Hardware,
     .wantLayout = kLegacyOnly, .wantCode = HwVirtual6000},
    {.name = "gpt cleared under sr630 returns", .hw = UsbHwSr630, .step = Step::Gpt,
     .layout = {true, false, false, false}, .wantLayout = kGpt},
    {.name = "free gpt partitions", .step = Step::Gpt, .layout = {false, true, true, false}, .wantLayout = kGpt},
    {.name = "legacy under uefi bios goes", .hw = UsbHwUefiBios, .step = Step::Legacy,
     .layout = {true, false, true, true}, .wantLayout = {true, false, false, true}},
    {.name = "unpartitioned is legacy only", .step = Step::Partitioned,
     .layout = {false, true, false, false}, .wantLayout = kLegacyOnly},
    // What the medium and the source clear or keep.
    {.name = "database clears", .source = Src::Database, .step = Step::Change, .options = kAutoArmed,
     .layout = kGptUefi},
    {.name = "iso clears", .iso = true, .step = Step::Change, .options = kAutoArmed, .layout = kGpt},
    {.name = "typed stick keeps", .step = Step::Change, .options = kAutoArmed, .layout = kGpt,
     .wantOptions = kAutoArmed, .wantLayout = kGpt},
    {.name = "node.cfg stick keeps", .source = Src::NodeFile, .step = Step::Change, .options = kArmed,
     .layout = kGpt, .wantOptions = kArmed, .wantLayout = kGpt},
    // DHCP with single armed.
    {.name = "dhcp drops single armed", .step = Step::Dhcp, .options = {.automated = true, .dhcp = true, .singleArmed = true},
     .wantOptions = {.automated = true, .netBoot = true, .dhcp = true}},
    {.name = "no dhcp, no net boot", .step = Step::Dhcp, .options = {.automated = true, .netBoot = true, .singleArmed = true},
     .wantOptions = kAutoArmed},
    {.name = "node.cfg keeps dhcp and single armed", .source = Src::NodeFile, .step = Step::Dhcp,
     .options = {.dhcp = true, .singleArmed = true}, .wantOptions = {.dhcp = true, .singleArmed = true}},
    {.name = "preinstall", .step = Step::Preinstall, .options = {.preinstall = true, .singleArmed = true},
     .wantOptions = {.automated = true, .preinstall = true, .netBoot = true, .dhcp = true}},
    {.name = "manual install drops the network boxes", .step = Step::Automated,
     .options = {.preinstall = true, .netBoot = true, .dhcp = true, .singleArmed = true}, .wantOptions = kArmed},
    {.name = "database keeps preinstall", .source = Src::Database, .step = Step::Automated,
     .options = {.preinstall = true, .netBoot = true, .dhcp = true}, .wantOptions = {.preinstall = true}},
    {.name = "invert drops single armed", .step = Step::Invert, .options = {.invert = true, .singleArmed = true},
     .wantOptions = {.invert = true}},
    // What a loaded node.cfg sets.
    {.name = "node.cfg stick", .source = Src::NodeFile, .step = Step::Load,
     .wantOptions = {.automated = true, .dhcp = true, .singleArmed = true}, .wantLayout = kGptUefi,
     .edit = [](auto& r, auto&, auto&) { r.m_hwPlatformText = u"UEFI"; r.m_autoinstall = r.m_dhcp = r.m_singleArmed = 1; },
     .wantCode = HwUefiBios},
    {.name = "node.cfg iso", .source = Src::NodeFile, .iso = true, .step = Step::Load, .wantOptions = kArmed,
     .wantLayout = kLegacyOnly, .edit = [](auto& r, auto&, auto&) {
         r.m_vmPlatformText = u"Vhw_Large";
         r.m_autoinstall = r.m_singleArmed = r.m_gptPartition = r.m_partitioned = 1;
         r.m_legacyBios = 0; },
     .wantCode = HwVirtual20000},
    // What OK checks and stores from each field group.
    {.name = "general values stored", .edit = [](auto&, auto&, auto& g) {
         g.dns1 = AsAddressControlGivesBack(u"010.001.2.3");
         g.dns2 = AsAddressControlGivesBack(u"1.2.3.256");
         g.logicalId = u"L-7";
         g.qmxUrl1 = u"qmx.example.net"; },
     .want = {u"10.1.2.3", u"1.2.3.256", u"L-7", u"qmx.example.net"}},
    {.name = "dns the control cannot take", .edit = [](auto&, auto&, auto& g) {
         g.dns1 = AsAddressControlGivesBack(u"+1.2.3.4");
         g.dns2 = AsAddressControlGivesBack(u"1.2.3.0004"); },
     .want = {u"+1.2.3.4", u"1.2.3.0004"}},
    {.name = "blank dns keeps the database's", .source = Src::Database,
     .edit = [](auto& r, auto&, auto& g) { r.m_dns1 = u"9.9.9.9"; g.qmxUrl2 = u"10.0.0.9"; },
     .want = {u"9.9.9.9", u"", u"", u"", u"10.0.0.9"}},
    {.name = "lan", .edit = [](auto& r, auto&, auto&) { r.m_lanAddress = u"127.0.0.1"; },
     .wantField = FormField::LanIpv4, .wantKey = "kestrel_lan", .wantText = u"Invalid IPv4 configuration for LAN interface"},
    {.name = "wan6", .edit = [](auto& r, auto&, auto&) { r.m_wanAddress6 = u"fd00::5"; r.m_wanPrefix6 = u"129"; },
     .wantField = FormField::WanIpv6, .wantKey = "kestrel_wan6",
     .wantText = u"Invalid IPv6 Subnet mask configuration for WAN interface"},
    {.name = "admin", .edit = [](auto& r, auto&, auto&) { r.m_adminAddress = u"10.0.0.9"; },
     .wantField = FormField::AdminIpv4, .wantKey = "kestrel_admin",
     .wantText = u"Invalid configuration (interfaces ADMIN and LAN must not be in the same subnet)"},
    {.name = "gw6", .edit = [](auto& r, auto&, auto&) { r.m_lanAddress6 = u"fd00::1"; r.m_lanPrefix6 = u"64"; },
     .wantField = FormField::Ipv6Gateway, .wantKey = "kestrel_gw6", .wantText = u"Missing/Invalid IPv6 gateway configuration"},
    {.name = "logical id", .edit = [](auto&, auto& f, auto&) { f.netBoot = true; },
     .wantField = FormField::LogicalId, .wantKey = "logicid", .wantText = u"Missing Logical ID"},
    {.name = "qmx 2", .edit = [](auto&, auto& f, auto&) {
         f.netBoot = true; f.logicalId = u"7"; f.qmxUrl1 = u"10.0.0.7"; f.qmxUrl2 = u"-bad-"; },
     .wantField = FormField::QmxUrl2, .wantKey = "supplyserver2",
     .wantText = u"Invalid QMX URL 2: enter a valid IP address or FQDN."},
    {.name = "unnamed answered no", .edit = [](auto&, auto& f, auto&) { f.hostName = u"unnamed"; },
     .wantField = FormField::HostName, .wantKey = "kestrel_label"},
    {.name = "iso without hardware", .iso = true, .hw = VmHwEmpty, .wantField = FormField::HardwareType,
     .wantKey = "hw_platform", .wantText = u"Missing or invalid Hardware type"},
    {.name = "iso with hardware", .iso = true, .hw = VmHwSmall},
    {.name = "node.cfg not loaded", .source = Src::NodeFile,
     .edit = [](auto& r, auto&, auto&) { r.m_nodeFileLoaded = 0; }, .wantKey = "", .wantText = u"node.cfg file not found"},
    {.name = "logical id splitting node.cfg", .edit = [](auto&, auto&, auto& g) { g.logicalId = u"id 7"; }, .wantKey = "logicid",
     .wantText = u"Invalid logical id: the value \"id 7\" holds a blank or control character and would change node.cfg (logicid)."},
};
// clang-format on

// An OK every rule accepts: a generated node.cfg on the smallest stick.
SetupRecord AcceptedRecord(const Case& c) {
    SetupRecord r;
    r.ResetConfiguration(true);
    r.m_lanAddress = u"10.0.0.5";
    r.m_lanNetmask = u"255.255.255.0";
    r.m_wanAddress = u"192.168.1.5";
    r.m_wanNetmask = u"255.255.255.0";
    r.m_adminAddress = u"172.16.0.5";
    r.m_adminNetmask = u"255.255.0.0";
    r.m_companyName = u"Corvane Networks";
    r.m_isoMedia = c.iso;
    r.m_dbFileLoaded = r.m_nodeFileLoaded = 1;
    return r;
}

TEST(FormRules, EachSourceMediumAndHardware) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const HardwareChoice hw = ChooseHardware(c.iso, c.hw);
        OptionBoxes options = c.options;
        LayoutFlags layout = c.layout;
        switch (c.step) {
            case Step::Hardware:
                layout = AfterHardwareChosen({c.layout, c.layout}, hw.forces).boxes;
                EXPECT_EQ(hw.code, c.wantCode);
                break;
            case Step::Gpt:
                layout = AfterGptClicked({c.layout, c.layout}, hw.forces).boxes;
                break;
            case Step::Legacy:
                layout = AfterLegacyClicked({c.layout, c.layout}, hw.forces).boxes;
                break;
            case Step::Partitioned:
                layout = AfterPartitionedClicked({c.layout, c.layout}, hw.forces).boxes;
                break;
            case Step::Dhcp:
                options = AfterDhcpClicked(c.options, c.source);
                break;
            case Step::Preinstall:
                options = AfterPreinstallClicked(c.options, c.source);
                break;
            case Step::Automated:
                options = AfterAutomatedClicked(c.options, c.source);
                break;
            case Step::Invert:
                options = AfterInvertClicked(c.options);
                break;
            case Step::Change: {
                const FormBoxes b =
                    AfterSourceOrMediumChange({c.options, c.layout}, c.source, c.iso);
                options = b.options;
                layout = b.layout;
                break;
            }
            case Step::Load: {
                SetupRecord r;
                r.ResetConfiguration(true);
                SetupRequestForm unusedForm;
                GeneralValues unusedGeneral;
                c.edit(r, unusedForm, unusedGeneral);
                const LoadedNodeForm loaded = ShowLoadedNodeFile(r, c.iso);
                options = loaded.options;
                layout = loaded.layout;
                EXPECT_EQ(r.m_hwType, c.wantCode);
                EXPECT_EQ(r.m_gptPartition != 0, layout.gpt);
                EXPECT_EQ(r.m_legacyBios != 0, layout.legacy);
                break;
            }
            case Step::Ok: {
                SetupRecord r = AcceptedRecord(c);
                SetupRequestForm form;
                form.hostName = u"sbc1";
                form.sourceGenerate = c.source == Src::Typed;
                form.sourceDatabase = c.source == Src::Database;
                form.sourceNodeFile = c.source == Src::NodeFile;
                form.hardwareTypeText = hw.text;
                form.mediaEntryCount = 2;
                form.selectedMediaEntry = 0;
                GeneralValues general;
                if (c.edit) c.edit(r, form, general);
                Services services;
                const OkDecision d = DecideOk(r, form, general, services);
                if (!c.wantKey) {
                    ASSERT_TRUE(d.request) << Utf16ToUtf8(d.refusal->text);
                    EXPECT_EQ(d.request->m_dns1, c.want.dns1);
                    EXPECT_EQ(d.request->m_dns2, c.want.dns2);
                    EXPECT_EQ(d.request->m_logicId, c.want.logicId);
                    EXPECT_EQ(d.request->m_supplyServer1, c.want.qmx1);
                    EXPECT_EQ(d.request->m_supplyServer2, c.want.qmx2);
                    EXPECT_EQ(d.request->m_serverName, u"sbc1");
                    continue;
                }
                ASSERT_FALSE(d.request);
                ASSERT_TRUE(d.refusal);
                EXPECT_EQ(d.refusal->field, c.wantField);
                EXPECT_EQ(d.refusal->key, c.wantKey);
                EXPECT_EQ(d.declined, services.questions == 1);
                if (!d.declined) {
                    EXPECT_EQ(Utf16ToUtf8(d.refusal->text), Utf16ToUtf8(c.wantText));
                }
                continue;
            }
        }
        EXPECT_EQ(options, c.wantOptions);
        EXPECT_EQ(layout, c.wantLayout);
    }
}

}  // namespace
}  // namespace flintmere
