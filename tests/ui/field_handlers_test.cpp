// The field, option, partition and hardware handlers as the operator drives
// them from the start-up state (a stick listed, Generate mode).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "platform/media_root.h"
#include "support/ui_harness.h"
#include "ui/hardware_lists.h"

namespace flintmere::testing {
namespace {

using namespace ui;

using Action = UiAct;

// One expected control state: E enabled, D disabled, C checked, U unchecked,
// B blank address, T text.
struct Expect {
    int id;
    char what;
    u16 text = {};
};

void Check(UiHarness& rig, const std::vector<Expect>& expects) {
    for (const Expect& e : expects) {
        SCOPED_TRACE(::testing::Message() << "control " << e.id << " '" << e.what << "'");
        switch (e.what) {
            case 'E':
            case 'D':
                EXPECT_EQ(rig.surface().IsEnabled(e.id), e.what == 'E');
                break;
            case 'C':
            case 'U':
                EXPECT_EQ(rig.surface().IsChecked(e.id), e.what == 'C');
                break;
            case 'B':
                EXPECT_TRUE(rig.surface().IsAddressBlank(e.id));
                break;
            case 'T':
                EXPECT_EQ(ToPath(rig.surface().GetText(e.id)), ToPath(e.text));
                break;
            default:
                ADD_FAILURE() << "unknown expectation";
        }
    }
}

std::vector<Expect> All(std::initializer_list<int> ids, char what) {
    std::vector<Expect> out;
    for (int id : ids) out.push_back({id, what});
    return out;
}

std::vector<Expect> Join(std::initializer_list<std::vector<Expect>> parts) {
    std::vector<Expect> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

const std::initializer_list<int> kAddress = {IdIpAddress,   IdIpNetmask,   IdIpGateway,
                                             IdIpv6Address, IdIpv6Netmask, IdIpv6Gateway};
const std::initializer_list<int> kGeneral = {IdDns1, IdDns2, IdLogicalId, IdQmxUrl1, IdQmxUrl2};

// Host name "unnamed" and every address field empty.
std::vector<Expect> NetworkBlank() {
    return Join({{{IdHostName, 'T', u"unnamed"}},
                 All({IdIpAddress, IdIpNetmask, IdIpGateway}, 'B'),
                 {{IdIpv6Address, 'T'}, {IdIpv6Netmask, 'T'}, {IdIpv6Gateway, 'T'}}});
}

TEST(FieldHandlers, ResultingStatesOfTheOptionClicks) {
    struct Row {
        const char* clicks;
        std::vector<Action> actions;
        std::vector<Expect> expects;
    };
    const Action automated{Action::Click, IdChkAutomated};
    const Action dhcp{Action::Click, IdChkDhcp};
    const Action preinstall{Action::Click, IdChkPreInstall};
    const std::vector<Row> rows = {
        {"DHCP",
         {dhcp},
         Join({NetworkBlank(),
               All(kAddress, 'D'),
               {{IdHostName, 'D'}},
               {{IdChkSingleArmed, 'U'}, {IdChkSingleArmed, 'D'}},
               All(kGeneral, 'D')})},
        {"Automated, Net boot", {automated, {Action::Click, IdChkNetBoot}}, All(kGeneral, 'E')},
        {"Automated, DHCP",
         {automated, dhcp},
         Join({{{IdChkNetBoot, 'C'}, {IdChkNetBoot, 'D'}},
               All(kGeneral, 'E'),
               NetworkBlank(),
               All(kAddress, 'D'),
               {{IdHostName, 'D'}},
               {{IdChkSingleArmed, 'U'}, {IdChkSingleArmed, 'D'}}})},
        {"PreInstall",
         {preinstall},
         Join({All({IdChkAutomated, IdChkNetBoot, IdChkDhcp}, 'C'),
               All({IdChkNetBoot, IdChkDhcp}, 'D'),
               NetworkBlank(),
               All(kAddress, 'D'),
               {{IdHostName, 'D'}},
               {{IdChkSingleArmed, 'U'}, {IdChkSingleArmed, 'D'}},
               All(kGeneral, 'D'),
               {{IdLogicalId, 'T'}}})},
        {"PreInstall twice",
         {preinstall, preinstall},
         Join({{{IdChkAutomated, 'C'}},
               All({IdChkNetBoot, IdChkDhcp}, 'U'),
               All({IdChkNetBoot, IdChkDhcp}, 'E'),
               NetworkBlank(),
               All(kAddress, 'E'),
               {{IdHostName, 'E'}},
               {{IdChkSingleArmed, 'E'}},
               All(kGeneral, 'D')})},
        {"interface list to ADMIN",
         {{Action::Choose, IdInterface, InterfaceAdmin}},
         All({IdIpv6Address, IdIpv6Netmask}, 'D')},
        {"Single Armed, then ADMIN",
         {{Action::Click, IdChkSingleArmed}, {Action::Choose, IdInterface, InterfaceAdmin}},
         Join({{{IdDisableInterface, 'C'}, {IdDisableInterface, 'D'}},
               All({IdIpAddress, IdIpNetmask, IdIpv6Address, IdIpv6Netmask}, 'D'),
               All({IdHostName, IdIpGateway, IdIpv6Gateway}, 'E')})},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.clicks);
        UiHarness rig;
        FLINTMERE_START_DIALOG(rig);
        Play(rig, row.actions);
        Check(rig, row.expects);
        if (::testing::Test::HasFailure()) {
            std::cerr << rig.Dump();
            return;
        }
    }
}

// Every interface with addresses of its own, the gateways and a host name.
void TypeNetworkBase(UiHarness& rig) {
    rig.op().Type(IdHostName, u"sbc-01");
    const struct {
        int index;
        IpFields address;
        const char16_t* address6;
    } interfaces[] = {{InterfaceWan, {198, 51, 100, 10}, u"2001:db8:1::10"},
                      {InterfaceAdmin, {203, 0, 113, 10}, nullptr},
                      {InterfaceLan, {192, 0, 2, 10}, u"2001:db8::10"}};
    for (const auto& i : interfaces) {
        rig.op().Choose(IdInterface, i.index);
        rig.op().TypeAddress(IdIpAddress, i.address);
        rig.op().TypeAddress(IdIpNetmask, {255, 255, 255, 0});
        if (i.address6) {
            rig.op().Type(IdIpv6Address, i.address6);
            rig.op().Type(IdIpv6Netmask, u"64");
        }
        rig.op().Leave(IdIpNetmask);
    }
    rig.op().TypeAddress(IdIpGateway, {192, 0, 2, 1});
    rig.op().Type(IdIpv6Gateway, u"2001:db8::1");
    rig.op().Leave(IdIpv6Gateway);
}

using RecordValue = std::function<std::string(const SetupRecord&)>;
RecordValue Text(u16 SetupRecord::*field) {
    return [field](const SetupRecord& r) { return ToPath(r.*field); };
}
RecordValue Number(Flag SetupRecord::*field) {
    return [field](const SetupRecord& r) { return std::to_string(r.*field); };
}

// Each record field the window writes, typed into its control over a whole
// network: stored and logged as the focus leaves the control (or stored by
// OK, for the fields OK stores), shown again when its interface is, kept
// through OK, and written into node.cfg.
TEST(FieldHandlers, EveryFieldReachesTheRecordAndNodeCfg) {
    struct Row {
        const char* name;
        std::vector<Action> before;
        int id;                // typed into; 0: the clicks alone
        const char16_t* text;  // nullptr: an address control
        IpFields address;
        RecordValue stored;
        const char* value;
        const char* line;              // of node.cfg
        const char* logged = nullptr;  // on leaving; nullptr: stored by OK
    };
    const Action lan{Action::Choose, IdInterface, InterfaceLan};
    const Action wan{Action::Choose, IdInterface, InterfaceWan};
    const Action admin{Action::Choose, IdInterface, InterfaceAdmin};
    const std::vector<Action> general = {{Action::Click, IdChkAutomated},
                                         {Action::Click, IdChkNetBoot}};
    using R = SetupRecord;
    // clang-format off
    const Row rows[] = {
        {"host name", {}, IdHostName, u"sbc-07", {}, Text(&R::m_serverName), "sbc-07",
         "kestrel_label: sbc-07", "node servername changed to sbc-07"},
        {"LAN address", {lan}, IdIpAddress, nullptr, {192, 0, 2, 20}, Text(&R::m_lanAddress),
         "192.0.2.20", "kestrel_lan: 192.0.2.20 255.255.255.0", "changed IP for 0 to 192.0.2.20"},
        {"LAN netmask", {lan}, IdIpNetmask, nullptr, {255, 255, 0, 0}, Text(&R::m_lanNetmask),
         "255.255.0.0", "kestrel_lan: 192.0.2.10 255.255.0.0", "changed subnet for 0 to 255.255.0.0"},
        {"WAN address", {wan}, IdIpAddress, nullptr, {198, 51, 100, 20}, Text(&R::m_wanAddress),
         "198.51.100.20", "kestrel_wan: 198.51.100.20 255.255.255.0",
         "changed IP for 1 to 198.51.100.20"},
        {"WAN netmask", {wan}, IdIpNetmask, nullptr, {255, 255, 0, 0}, Text(&R::m_wanNetmask),
         "255.255.0.0", "kestrel_wan: 198.51.100.10 255.255.0.0",
         "changed subnet for 1 to 255.255.0.0"},
        {"ADMIN address", {admin}, IdIpAddress, nullptr, {203, 0, 113, 20},
         Text(&R::m_adminAddress), "203.0.113.20", "kestrel_admin: 203.0.113.20 255.255.255.0",
         "changed IP for 2 to 203.0.113.20"},
        {"ADMIN netmask", {admin}, IdIpNetmask, nullptr, {255, 255, 0, 0},
         Text(&R::m_adminNetmask), "255.255.0.0", "kestrel_admin: 203.0.113.10 255.255.0.0",
         "changed subnet for 2 to 255.255.0.0"},
        {"gateway", {}, IdIpGateway, nullptr, {192, 0, 2, 254}, Text(&R::m_gateway),
         "192.0.2.254", "kestrel_gw: 192.0.2.254", "changed gateway to 192.0.2.254"},
        {"gateway 0.0.0.0, blank", {}, IdIpGateway, nullptr, {0, 0, 0, 0}, Text(&R::m_gateway),
         "", "kestrel_gw: 0.0.0.0", "changed gateway to 0.0.0.0"},
        {"LAN IPv6 address", {lan}, IdIpv6Address, u"2001:db8::20", {}, Text(&R::m_lanAddress6),
         "2001:db8::20", "kestrel_lan6: 2001:db8::20 64", "changed IPv6 for 0 to 2001:db8::20"},
        {"LAN IPv6 prefix", {lan}, IdIpv6Netmask, u"48", {}, Text(&R::m_lanPrefix6),
         "48", "kestrel_lan6: 2001:db8::10 48", "changed subnet6 for 0 to 48"},
        {"WAN IPv6 address", {wan}, IdIpv6Address, u"2001:db8:1::20", {}, Text(&R::m_wanAddress6),
         "2001:db8:1::20", "kestrel_wan6: 2001:db8:1::20 64",
         "changed IPv6 for 1 to 2001:db8:1::20"},
        {"WAN IPv6 prefix", {wan}, IdIpv6Netmask, u"56", {}, Text(&R::m_wanPrefix6),
         "56", "kestrel_wan6: 2001:db8:1::10 56", "changed subnet6 for 1 to 56"},
        {"IPv6 gateway", {}, IdIpv6Gateway, u"2001:db8::fe", {}, Text(&R::m_gateway6),
         "2001:db8::fe", "kestrel_gw6: 2001:db8::fe", "changed subnet6 to 2001:db8::fe"},
        {"DNS 1", general, IdDns1, nullptr, {192, 0, 2, 53}, Text(&R::m_dns1),
         "192.0.2.53", "dns1: 192.0.2.53"},
        {"DNS 2", general, IdDns2, nullptr, {192, 0, 2, 54}, Text(&R::m_dns2),
         "192.0.2.54", "dns2: 192.0.2.54"},
        {"logical id, untrimmed", general, IdLogicalId, u" 4711 ", {}, Text(&R::m_logicId),
         " 4711 ", "logicid:  4711 "},
        {"QMX URL 1", general, IdQmxUrl1, u"qmx1.example.net", {}, Text(&R::m_supplyServer1),
         "qmx1.example.net", "supplyserver1: qmx1.example.net"},
        {"QMX URL 2", general, IdQmxUrl2, u"qmx2.example.net", {}, Text(&R::m_supplyServer2),
         "qmx2.example.net", "supplyserver2: qmx2.example.net"},
        {"Automated", {general[0]}, 0, nullptr, {}, Number(&R::m_autoinstall), "1",
         "autoinstall: 1"},
        {"Net boot", general, 0, nullptr, {}, Number(&R::m_netboot), "1", "netboot: 1"},
        {"UEFI", {{Action::Click, IdChkUefi}}, 0, nullptr, {}, Number(&R::m_uefi), "1", "uefi: 1"},
        {"Invert", {{Action::Click, IdChkInvert}}, 0, nullptr, {}, Number(&R::m_invert), "1",
         "invert: 1"},
        {"Single Armed, WAN in the LAN's subnet", {{Action::Click, IdChkSingleArmed}, wan},
         IdIpAddress, nullptr, {192, 0, 2, 11}, Number(&R::m_singleArmed), "1", "singlearmed: 1"},
        {"Partitioned", {{Action::Click, IdChkPartitioned}}, 0, nullptr, {},
         Number(&R::m_partitioned), "1", "usb_stick_partitioned: 1"},
        {"GPT", {{Action::Click, IdChkGpt}}, 0, nullptr, {}, Number(&R::m_gptPartition), "1",
         "gpt_partition: 1"},
        {"GPT clears the legacy layout", {{Action::Click, IdChkGpt}}, 0, nullptr, {},
         Number(&R::m_legacyBios), "0", "legacy_bios: 0"},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        UiHarness rig;
        FLINTMERE_START_DIALOG(rig);
        TypeNetworkBase(rig);
        Play(rig, row.before);
        if (rig.surface().IsChecked(IdChkNetBoot)) {
            // A net boot asks for these; the rows change them.
            rig.op().Type(IdLogicalId, u"1001");
            rig.op().Type(IdQmxUrl1, u"qmx0.example.net");
        }
        if (row.id != 0) {
            if (row.text) {
                rig.op().Type(row.id, row.text);
            } else {
                rig.op().TypeAddress(row.id, row.address);
            }
            rig.MarkLog();
            rig.op().Leave(row.id);
            if (row.logged) {
                EXPECT_EQ(row.stored(rig.app().record), row.value) << "on leaving";
                EXPECT_EQ(rig.LogMessages(), std::vector<std::string>{row.logged});
            }
        }
        if (!row.before.empty() && row.before[0].id == IdInterface) {
            // Another interface shown, then this one again: its values come back.
            rig.op().Choose(IdInterface, (row.before[0].index + 1) % 3);
            rig.op().Choose(IdInterface, row.before[0].index);
            if (row.text) {
                EXPECT_EQ(ToPath(rig.surface().GetText(row.id)), ToPath(row.text));
            } else {
                EXPECT_EQ(rig.surface().GetAddress(row.id), row.address);
            }
        }
        rig.host.progressScript = [](MediaEngine& engine) { engine.CancelSetup(); };
        rig.op().Click(IdOk);
        ASSERT_EQ(rig.host.progressRuns, 1) << rig.Dump();
        EXPECT_EQ(row.stored(rig.app().record), row.value) << "after OK";
        EXPECT_EQ(rig.app().record.m_configSource, ConfigGenerateNodeFile);
        EXPECT_EQ(rig.app().engine.m_selectedDrive, 0);

        const std::string folder = rig.dir / "cfg";
        std::filesystem::create_directories(folder);
        LocalFolderRoot out(folder);
        ASSERT_TRUE(rig.app().config.CreateNodeCfgFile(rig.app().record, out, false));
        const std::string cfg = "\n" + ReadFileBytes(folder + "/node.cfg");
        EXPECT_NE(cfg.find(std::string("\n") + row.line + "\n"), std::string::npos) << cfg;
    }
}

struct HardwareRow {
    int index;
    int code;
    // Partitioned, GPT, DOS, UEFI check states; Partitioned and GPT enabled.
    bool partitioned, gpt, dos, uefi;
    bool partitionedEnabled, gptEnabled;
};

TEST(FieldHandlers, UsbHardwareTypeForcesItsNeeds) {
    const HardwareRow rows[] = {
        {UsbHwEmpty, HwNone, false, false, true, false, true, true},
        {UsbHwLegacyBios, HwLegacyBios, false, false, true, false, true, false},
        {UsbHwUefiBios, HwUefiBios, true, true, false, true, false, false},
        {UsbHwAdvantech, HwAdvantech, false, false, true, false, true, false},
        {UsbHwX3250, HwX3250, true, false, true, false, false, false},
        {UsbHwX3550, HwX3550, true, false, true, false, false, false},
        {UsbHwRx330, HwRx330, true, false, true, false, false, false},
        {UsbHwRx200, HwRx200, true, false, true, false, false, false},
        {UsbHwSr530, HwSr530, true, false, true, false, false, false},
        {UsbHwSr250, HwSr250, true, false, true, false, false, false},
        {UsbHwSr630, HwSr630, true, true, false, false, false, false},
        {UsbHwKontron550, HwKontron550, true, true, false, true, false, false},
    };
    for (const HardwareRow& row : rows) {
        SCOPED_TRACE(ToPath(kUsbHardwareList[row.index].text));
        UiHarness rig;
        FLINTMERE_START_DIALOG(rig);
        rig.MarkLog();
        rig.op().Choose(IdHardwareType, row.index);
        EXPECT_EQ(rig.app().record.m_hwType, row.code);
        EXPECT_EQ(rig.surface().IsChecked(IdChkPartitioned), row.partitioned);
        EXPECT_EQ(rig.surface().IsChecked(IdChkGpt), row.gpt);
        EXPECT_EQ(rig.surface().IsChecked(IdChkLegacyBios), row.dos);
        EXPECT_EQ(rig.surface().IsChecked(IdChkUefi), row.uefi);
        EXPECT_EQ(rig.surface().IsEnabled(IdChkPartitioned), row.partitionedEnabled);
        EXPECT_EQ(rig.surface().IsEnabled(IdChkGpt), row.gptEnabled);
        EXPECT_FALSE(rig.surface().IsEnabled(IdChkLegacyBios));
        // The record follows the boxes.
        EXPECT_EQ(rig.app().record.m_partitioned, row.partitioned ? 1 : 0);
        EXPECT_EQ(rig.app().record.m_gptPartition, row.gpt ? 1 : 0);
        EXPECT_EQ(rig.app().record.m_legacyBios, row.dos ? 1 : 0);
        EXPECT_EQ(rig.app().record.m_uefi, row.uefi ? 1 : 0);
        const auto flag = [](bool b) { return b ? 1 : 0; };
        EXPECT_EQ(rig.LogMessages(),
                  (std::vector<std::string>{
                      FormatA("GPT Partition Disk flag changed to %d", flag(row.gpt)),
                      FormatA("Legacy BIOS changed %d", flag(row.dos)),
                      FormatA("partitioned flag changed to %d", flag(row.partitioned)),
                      FormatA("UEFI flag changed to %d", flag(row.uefi)),
                  }));
    }
}

TEST(FieldHandlers, VirtualMachineSizesSetTheirCodes) {
    const int codes[] = {HwNone, HwVirtual250, HwVirtual6000, HwVirtual20000};
    for (int index = 0; index < 4; ++index) {
        SCOPED_TRACE(index);
        UiHarness rig({.sticks = 0});  // only the ISO entry: the dialog starts on the VM list
        FLINTMERE_START_DIALOG(rig);
        rig.op().Choose(IdHardwareType, index);
        EXPECT_EQ(rig.app().record.m_hwType, codes[index]);
        EXPECT_FALSE(rig.surface().IsChecked(IdChkGpt));
        EXPECT_TRUE(rig.surface().IsChecked(IdChkLegacyBios));
    }
}

TEST(FieldHandlers, PartitionBoxesByHand) {
    struct Row {
        const char* clicks;
        std::vector<Action> actions;
        bool partitioned, gpt, dos, uefi;
        bool partitionedEnabled, gptEnabled;
    };
    const Action gpt{Action::Click, IdChkGpt};
    const Action partitioned{Action::Click, IdChkPartitioned};
    const Action uefiBios{Action::Choose, IdHardwareType, UsbHwUefiBios};
    const Row rows[] = {
        {"GPT", {gpt}, true, true, false, false, true, true},
        {"GPT twice", {gpt, gpt}, true, false, true, false, true, true},
        {"Partitioned", {partitioned}, true, false, true, false, true, true},
        {"GPT, then Partitioned off", {gpt, partitioned}, false, false, true, false, true, true},
        {"UEFI BIOS, then the empty entry",
         {uefiBios, {Action::Choose, IdHardwareType, UsbHwEmpty}},
         true,
         true,
         false,
         true,
         true,
         true},
        {"UEFI BIOS, then ADVANTECH",
         {uefiBios, {Action::Choose, IdHardwareType, UsbHwAdvantech}},
         true,
         false,
         true,
         true,
         true,
         false},
        {"UEFI BIOS, then UEFI Bootloader off",
         {uefiBios, {Action::Click, IdChkUefi}},
         true,
         true,
         false,
         true,
         false,
         false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.clicks);
        UiHarness rig;
        FLINTMERE_START_DIALOG(rig);
        Play(rig, row.actions);
        EXPECT_EQ(rig.surface().IsChecked(IdChkPartitioned), row.partitioned);
        EXPECT_EQ(rig.surface().IsChecked(IdChkGpt), row.gpt);
        EXPECT_EQ(rig.surface().IsChecked(IdChkLegacyBios), row.dos);
        EXPECT_EQ(rig.surface().IsChecked(IdChkUefi), row.uefi);
        EXPECT_EQ(rig.surface().IsEnabled(IdChkPartitioned), row.partitionedEnabled);
        EXPECT_EQ(rig.surface().IsEnabled(IdChkGpt), row.gptEnabled);
        EXPECT_EQ(rig.app().record.m_partitioned, row.partitioned ? 1 : 0);
        EXPECT_EQ(rig.app().record.m_gptPartition, row.gpt ? 1 : 0);
        EXPECT_EQ(rig.app().record.m_legacyBios, row.dos ? 1 : 0);
        EXPECT_EQ(rig.app().record.m_uefi, row.uefi ? 1 : 0);
    }
}

TEST(FieldHandlers, SingleArmedCopiesLanIntoEmptyWanWhenWanIsShown) {
    UiHarness rig;
    FLINTMERE_START_DIALOG(rig);
    rig.op().TypeAddress(IdIpAddress, {192, 0, 2, 10});
    rig.op().TypeAddress(IdIpNetmask, {255, 255, 255, 0});
    rig.op().Type(IdIpv6Address, u"2001:db8::10");
    rig.op().Type(IdIpv6Netmask, u"64");
    rig.op().Leave(IdIpv6Netmask);
    rig.op().Click(IdChkInvert);
    rig.op().Click(IdChkSingleArmed);
    EXPECT_FALSE(rig.surface().IsChecked(IdChkInvert)) << "Single Armed clears Invert";
    rig.MarkLog();
    rig.op().Choose(IdInterface, InterfaceWan);

    EXPECT_EQ(ToPath(rig.app().record.m_wanAddress), "192.0.2.10");
    EXPECT_EQ(ToPath(rig.app().record.m_wanNetmask), "255.255.255.0");
    EXPECT_EQ(ToPath(rig.app().record.m_wanAddress6), "2001:db8::10");
    EXPECT_EQ(ToPath(rig.app().record.m_wanPrefix6), "64");
    EXPECT_EQ(rig.app().record.m_adminDisabled, 1);
    EXPECT_EQ(rig.surface().GetAddress(IdIpAddress), (IpFields{192, 0, 2, 10}));
    EXPECT_EQ(rig.surface().GetAddress(IdIpNetmask), (IpFields{255, 255, 255, 0}));
    EXPECT_EQ(ToPath(rig.surface().GetText(IdIpv6Address)), "2001:db8::10");
    EXPECT_EQ(ToPath(rig.surface().GetText(IdIpv6Netmask)), "64");
    EXPECT_EQ(rig.LogMessages(), (std::vector<std::string>{"OnCbnSelchangeComboIf(): start",
                                                           "setSingleArmedDefault(): start"}));

    // A WAN address of its own stays.
    rig.op().TypeAddress(IdIpAddress, {198, 51, 100, 7});
    rig.op().Leave(IdIpAddress);
    rig.op().Choose(IdInterface, InterfaceLan);
    rig.op().Choose(IdInterface, InterfaceWan);
    EXPECT_EQ(ToPath(rig.app().record.m_wanAddress), "198.51.100.7");
    EXPECT_EQ(rig.surface().GetAddress(IdIpAddress), (IpFields{198, 51, 100, 7}));

    // Invert and Single Armed exclude each other both ways.
    rig.op().Click(IdChkInvert);
    EXPECT_FALSE(rig.surface().IsChecked(IdChkSingleArmed));
}

TEST(FieldHandlers, DhcpDiscardsTypedValues) {
    UiHarness rig;
    FLINTMERE_START_DIALOG(rig);
    rig.op().Type(IdHostName, u"sbc-01");
    rig.op().TypeAddress(IdIpAddress, {192, 0, 2, 10});
    rig.op().TypeAddress(IdIpNetmask, {255, 255, 255, 0});
    rig.op().TypeAddress(IdIpGateway, {192, 0, 2, 1});
    rig.op().Type(IdIpv6Gateway, u"2001:db8::1");
    rig.op().Click(IdChkDhcp);  // the focus leaves the gateway edit first

    EXPECT_EQ(ToPath(rig.app().record.m_serverName), "unnamed");
    for (const u16* field : {&rig.app().record.m_lanAddress, &rig.app().record.m_lanNetmask,
                             &rig.app().record.m_gateway, &rig.app().record.m_gateway6}) {
        EXPECT_EQ(ToPath(*field), "");
    }
    Check(rig, Join({NetworkBlank(), All(kAddress, 'D')}));

    // Clearing DHCP unlocks the fields, still blank.
    rig.op().Click(IdChkDhcp);
    Check(rig, Join({NetworkBlank(), All(kAddress, 'E'), {{IdHostName, 'E'}}}));
    const std::vector<std::string> log = rig.LogMessages();
    EXPECT_NE(std::find(log.begin(), log.end(), "node servername changed to sbc-01"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "changed subnet6 to 2001:db8::1"), log.end());
}

}  // namespace
}  // namespace flintmere::testing
