// The field, option, partition and hardware handlers as the operator drives
// them from the start-up state (a stick listed, Generate mode).
#include <gtest/gtest.h>

#include <algorithm>

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
        EXPECT_EQ(rig.app().m_hwType, row.code);
        EXPECT_EQ(rig.surface().IsChecked(IdChkPartitioned), row.partitioned);
        EXPECT_EQ(rig.surface().IsChecked(IdChkGpt), row.gpt);
        EXPECT_EQ(rig.surface().IsChecked(IdChkLegacyBios), row.dos);
        EXPECT_EQ(rig.surface().IsChecked(IdChkUefi), row.uefi);
        EXPECT_EQ(rig.surface().IsEnabled(IdChkPartitioned), row.partitionedEnabled);
        EXPECT_EQ(rig.surface().IsEnabled(IdChkGpt), row.gptEnabled);
        EXPECT_FALSE(rig.surface().IsEnabled(IdChkLegacyBios));
        // The record follows the boxes.
        EXPECT_EQ(rig.app().m_partitioned, row.partitioned ? 1 : 0);
        EXPECT_EQ(rig.app().m_gptPartition, row.gpt ? 1 : 0);
        EXPECT_EQ(rig.app().m_legacyBios, row.dos ? 1 : 0);
        EXPECT_EQ(rig.app().m_uefi, row.uefi ? 1 : 0);
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
        EXPECT_EQ(rig.app().m_hwType, codes[index]);
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
        EXPECT_EQ(rig.app().m_partitioned, row.partitioned ? 1 : 0);
        EXPECT_EQ(rig.app().m_gptPartition, row.gpt ? 1 : 0);
        EXPECT_EQ(rig.app().m_legacyBios, row.dos ? 1 : 0);
        EXPECT_EQ(rig.app().m_uefi, row.uefi ? 1 : 0);
    }
}

TEST(FieldHandlers, EachInterfaceKeepsItsOwnAddresses) {
    UiHarness rig;
    FLINTMERE_START_DIALOG(rig);
    struct Row {
        int index;
        IpFields address, netmask;
        u16 SetupRecord::*addressField;
        u16 SetupRecord::*netmaskField;
    };
    const Row rows[] = {
        {InterfaceLan,
         {192, 0, 2, 10},
         {255, 255, 255, 0},
         &SetupRecord::m_lanAddress,
         &SetupRecord::m_lanNetmask},
        {InterfaceWan,
         {198, 51, 100, 7},
         {255, 255, 0, 0},
         &SetupRecord::m_wanAddress,
         &SetupRecord::m_wanNetmask},
        {InterfaceAdmin,
         {203, 0, 113, 1},
         {255, 0, 0, 0},
         &SetupRecord::m_adminAddress,
         &SetupRecord::m_adminNetmask},
    };
    for (const Row& row : rows) {
        rig.op().Choose(IdInterface, row.index);
        rig.op().TypeAddress(IdIpAddress, row.address);
        rig.op().TypeAddress(IdIpNetmask, row.netmask);
        rig.op().Leave(IdIpNetmask);
    }
    rig.op().TypeAddress(IdIpGateway, {192, 0, 2, 1});
    rig.op().Leave(IdIpGateway);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.index);
        const SetupRecord& record = rig.app();
        const u16 dotted =
            FormatW(u"%d.%d.%d.%d", row.address[0], row.address[1], row.address[2], row.address[3]);
        EXPECT_EQ(ToPath(record.*row.addressField), ToPath(dotted));
        // Showing the interface again puts its values back into the controls.
        rig.op().Choose(IdInterface, row.index);
        EXPECT_EQ(rig.surface().GetAddress(IdIpAddress), row.address);
        EXPECT_EQ(rig.surface().GetAddress(IdIpNetmask), row.netmask);
        EXPECT_FALSE((record.*row.netmaskField).empty());
    }
    EXPECT_EQ(ToPath(rig.app().m_gateway), "192.0.2.1");
    const std::vector<std::string> log = rig.LogMessages();
    for (const char* line :
         {"changed IP for 0 to 192.0.2.10", "changed subnet for 1 to 255.255.0.0",
          "changed IP for 2 to 203.0.113.1", "changed gateway to 192.0.2.1"}) {
        EXPECT_NE(std::find(log.begin(), log.end(), line), log.end()) << line;
    }
}

TEST(FieldHandlers, ZeroAddressTypedCountsAsBlank) {
    UiHarness rig;
    FLINTMERE_START_DIALOG(rig);
    rig.op().TypeAddress(IdIpAddress, {192, 0, 2, 10});
    rig.op().Leave(IdIpAddress);
    ASSERT_EQ(ToPath(rig.app().m_lanAddress), "192.0.2.10");
    rig.op().TypeAddress(IdIpAddress, {0, 0, 0, 0});
    rig.MarkLog();
    rig.op().Leave(IdIpAddress);
    EXPECT_EQ(rig.app().m_lanAddress, u"");
    EXPECT_TRUE(rig.surface().IsAddressBlank(IdIpAddress));
    EXPECT_EQ(rig.LogMessages(), std::vector<std::string>{"changed IP for 0 to 0.0.0.0"});
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

    EXPECT_EQ(ToPath(rig.app().m_wanAddress), "192.0.2.10");
    EXPECT_EQ(ToPath(rig.app().m_wanNetmask), "255.255.255.0");
    EXPECT_EQ(ToPath(rig.app().m_wanAddress6), "2001:db8::10");
    EXPECT_EQ(ToPath(rig.app().m_wanPrefix6), "64");
    EXPECT_EQ(rig.app().m_adminDisabled, 1);
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
    EXPECT_EQ(ToPath(rig.app().m_wanAddress), "198.51.100.7");
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

    EXPECT_EQ(ToPath(rig.app().m_serverName), "unnamed");
    for (const u16* field : {&rig.app().m_lanAddress, &rig.app().m_lanNetmask, &rig.app().m_gateway,
                             &rig.app().m_gateway6}) {
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
