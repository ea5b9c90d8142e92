// The main dialog's start-up state, and the rules that pick a hardware list
// entry from a file's platform texts or from a hardware code.
#include <gtest/gtest.h>

#include "support/ui_harness.h"
#include "ui/control_ids.h"
#include "ui/hardware_lists.h"

namespace flintmere::ui {
namespace {

using testing::CheckStates;
using testing::Filtered;
using testing::kCheckBoxesButLegacy;
using testing::kStateColumns;
using testing::UiHarness;
using testing::UiHarnessOptions;

const char kGenerateUsb[] = "EEEEE EE EE- E EEE EEE - E ----- -- --";
const char kGenerateVm[] = "HHHHH EE HHH E EEE EEE - E HHHHH -- --";

struct StartCase {
    const char* name;
    int sticks;
    const char* states;
    bool iso;
    std::vector<u16> hardwareEntries;
    std::vector<std::string> log;
};

void PrintTo(const StartCase& c, std::ostream* os) {
    *os << c.name;
}

class StartUp : public ::testing::TestWithParam<StartCase> {};

TEST_P(StartUp, LeavesTheDescribedState) {
    const StartCase& c = GetParam();
    UiHarness h(UiHarnessOptions{.sticks = c.sticks});
    if (!h.SkipReason().empty()) GTEST_SKIP() << h.SkipReason();
    ASSERT_TRUE(h.Start()) << h.Dump();
    ControlSurface& s = h.surface();
    SCOPED_TRACE(h.Dump());

    EXPECT_EQ(CheckStates(s, kStateColumns, c.states), "");
    EXPECT_FALSE(h.dialog().Ended());
    EXPECT_TRUE(h.app_.presenter.Shown().empty());

    // Media list: one entry per stick, then the ISO image; the first selected.
    ASSERT_EQ(s.ComboCount(IdMediaSelect), c.sticks + 1);
    EXPECT_EQ(s.ComboEntry(IdMediaSelect, c.sticks), u"Virtual Machine ISO image");
    EXPECT_EQ(s.ComboSelection(IdMediaSelect), 0);
    EXPECT_EQ(h.app().record.m_isoMedia, c.iso ? 1 : 0);

    EXPECT_TRUE(s.IsChecked(IdRadioGenNode));
    EXPECT_FALSE(s.IsChecked(IdRadioUseDb));
    EXPECT_FALSE(s.IsChecked(IdRadioUseNode));
    EXPECT_TRUE(s.IsChecked(IdChkLegacyBios));
    for (int id : kCheckBoxesButLegacy) EXPECT_FALSE(s.IsChecked(id)) << id;

    EXPECT_EQ(s.GetText(IdHostName), u"unnamed");
    for (int id : {IdIpAddress, IdIpNetmask, IdIpGateway, IdDns1, IdDns2})
        EXPECT_TRUE(s.IsAddressBlank(id)) << id;
    for (int id : {IdIpv6Address, IdIpv6Netmask, IdIpv6Gateway, IdLogicalId, IdQmxUrl1, IdQmxUrl2})
        EXPECT_EQ(s.GetText(id), u"") << id;
    const std::pair<int, int> limits[] = {
        {IdHostName, 64},    {IdQmxUrl1, 30},    {IdQmxUrl2, 30},    {IdLogicalId, 128},
        {IdIpv6Address, 39}, {IdIpv6Netmask, 3}, {IdIpv6Gateway, 39}};
    for (auto [id, limit] : limits) EXPECT_EQ(s.TextLimit(id), limit) << id;

    ASSERT_EQ(s.ComboCount(IdInterface), 3);
    EXPECT_EQ(s.ComboEntry(IdInterface, 0), u"LAN Interface");
    EXPECT_EQ(s.ComboEntry(IdInterface, 1), u"WAN Interface");
    EXPECT_EQ(s.ComboEntry(IdInterface, 2), u"ADMIN Interface");
    EXPECT_EQ(s.ComboSelection(IdInterface), 0);

    std::vector<u16> entries;
    for (int i = 0; i < s.ComboCount(IdHardwareType); ++i)
        entries.push_back(s.ComboEntry(IdHardwareType, i));
    EXPECT_EQ(entries, c.hardwareEntries);
    EXPECT_EQ(s.ComboSelection(IdHardwareType), 0);

    // The layout: USB-only groups and labels follow the media kind.
    for (int id : {IdGroupUsbOptions, IdGroupGeneral, IdLabelDns1, IdLabelDns2, IdLabelLogicalId,
                   IdLabelQmxUrl1, IdLabelQmxUrl2})
        EXPECT_EQ(s.IsShown(id), !c.iso) << id;
    EXPECT_FALSE(s.IsShown(IdHelp));

    // The record as the operator first sees it: reset, all interfaces in use.
    const AppParts& app = h.app();
    EXPECT_EQ(app.record.m_serverName, u"unnamed");
    EXPECT_EQ(app.record.m_lanDisabled + app.record.m_wanDisabled + app.record.m_adminDisabled, 0);
    EXPECT_EQ(app.record.m_hwType, HwNone);
    EXPECT_EQ(app.record.m_legacyBios, 1);
    EXPECT_EQ(app.record.m_partitioned + app.record.m_gptPartition + app.record.m_uefi, 0);

    EXPECT_EQ(Filtered(h.LogMessages(), {"OnBnClickedRefresh", "OnBnClickedRadio", "generate"}),
              c.log);
    EXPECT_TRUE(h.Problems().empty());
}

const std::vector<u16> kUsbEntries = {u"",      u"LEGACY BIOS", u"UEFI BIOS", u"ADVANTECH",
                                      u"X3250", u"X3550",       u"RX330",     u"RX200",
                                      u"SR530", u"SR250",       u"SR630",     u"KONTRON550"};
const std::vector<u16> kVmEntries = {u"", u"Virtual 250", u"Virtual 6000", u"Virtual 20000"};

INSTANTIATE_TEST_SUITE_P(
    MainDialog, StartUp,
    ::testing::Values(
        StartCase{"TwoSticks",
                  2,
                  kGenerateUsb,
                  false,
                  kUsbEntries,
                  {"OnBnClickedRefresh(): start", "OnBnClickedRadioGenNode(): start",
                   "generate node.cfg selected", "OnBnClickedRadioGenNode(): USB Disk",
                   "OnBnClickedRadioGenNode(): end", "OnBnClickedRefresh(): end"}},
        StartCase{"NoStick",
                  0,
                  kGenerateVm,
                  true,
                  kVmEntries,
                  {"OnBnClickedRefresh(): start", "OnBnClickedRadioGenNode(): start",
                   "generate node.cfg selected", "OnBnClickedRadioGenNode(): Virtual Machine",
                   "OnBnClickedRadioGenNode(): end", "OnBnClickedRefresh(): end"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MainDialogStartUp, MissingInstallationFilesCloseTheDialogAtOnce) {
    UiHarness h(UiHarnessOptions{.sticks = 1, .installFolder = false});
    EXPECT_FALSE(h.Start());
    const auto shown = h.app_.presenter.Shown();
    ASSERT_EQ(shown.size(), 1u) << h.Dump();
    EXPECT_EQ(shown[0].text,
              u"Missing important installation files. Please reinstall the application.");
    EXPECT_EQ(shown[0].caption, u"Error");
    EXPECT_EQ(shown[0].style, static_cast<unsigned>(kMbWarningStyle));
    EXPECT_TRUE(h.dialog().Ended());
    EXPECT_EQ(h.dialog().Result(), kIdCancel);
    EXPECT_EQ(h.host.mainDialogResult, kIdCancel);
    EXPECT_EQ(h.host.mainDialogEnds, 1);

    // The operator gets no chance to act on the closed dialog.
    h.MarkLog();
    h.op().Click(IdChkDhcp);
    EXPECT_FALSE(h.surface().IsChecked(IdChkDhcp) && h.app().record.m_dhcp);
    EXPECT_EQ(h.LogCount("OnBnClickedChkDHCP(): start"), 0);
}

// --- hardware entry from the platform texts of a node.cfg ---

struct PlatformCase {
    bool iso;
    const char16_t* hw;
    const char16_t* vm;
    int entry;
    int code;
};

void PrintTo(const PlatformCase& c, std::ostream* os) {
    *os << (c.iso ? "iso" : "usb") << " hw \"" << Utf16ToUtf8(c.hw) << "\" vm \""
        << Utf16ToUtf8(c.vm) << "\"";
}

class PlatformText : public ::testing::TestWithParam<PlatformCase> {};

TEST_P(PlatformText, SelectsTheEntryAndCode) {
    const PlatformCase& c = GetParam();
    UiHarness h;
    if (!h.SkipReason().empty()) GTEST_SKIP() << h.SkipReason();
    ASSERT_TRUE(h.Start());
    if (c.iso) h.op().Choose(IdMediaSelect, 1);
    ASSERT_EQ(h.app().record.m_isoMedia, c.iso ? 1 : 0);
    // Something else remembered first, so that a reset to 0 shows.
    h.dialog().m_usbHwSelection = 7;
    h.dialog().m_vmHwSelection = 2;
    h.app().record.m_hwType = HwSr630;

    h.app().record.m_hwPlatformText = c.hw;
    h.app().record.m_vmPlatformText = c.vm;
    h.dialog().SelectHardwareFromPlatformText();

    SCOPED_TRACE(
        FormatA("hw \"%s\" vm \"%s\"", Utf16ToUtf8(c.hw).c_str(), Utf16ToUtf8(c.vm).c_str()));
    EXPECT_EQ(h.surface().ComboSelection(IdHardwareType), c.entry);
    EXPECT_EQ(h.app().record.m_hwType, c.code);
    const bool bothEmpty = u16view(c.hw).empty() && u16view(c.vm).empty();
    if (bothEmpty) {
        EXPECT_EQ(h.dialog().m_vmHwSelection, 0);
    } else if (c.iso) {
        EXPECT_EQ(h.dialog().m_vmHwSelection, c.entry);
        EXPECT_EQ(h.dialog().m_usbHwSelection, 7);
    } else {
        EXPECT_EQ(h.dialog().m_usbHwSelection, c.entry);
        EXPECT_EQ(h.dialog().m_vmHwSelection, 2);
    }
}

INSTANTIATE_TEST_SUITE_P(
    UsbList, PlatformText,
    ::testing::Values(
        PlatformCase{false, u"", u"", UsbHwEmpty, HwNone},
        PlatformCase{false, u"advantech250", u"", UsbHwAdvantech, HwAdvantech},
        PlatformCase{false, u"my-advantech", u"", UsbHwAdvantech, HwAdvantech},
        PlatformCase{false, u"kontron550", u"", UsbHwKontron550, HwKontron550},
        PlatformCase{false, u"ibm-x3250", u"", UsbHwX3250, HwX3250},
        PlatformCase{false, u"lenovo-sr250", u"", UsbHwSr250, HwSr250},
        PlatformCase{false, u"x3550m5", u"", UsbHwX3550, HwX3550},
        PlatformCase{false, u"ibm-x3550", u"", UsbHwEmpty, HwNone},  // not at the start
        PlatformCase{false, u"rx200", u"", UsbHwRx200, HwRx200},
        PlatformCase{false, u"rx330", u"", UsbHwRx330, HwRx330},
        PlatformCase{false, u"sr530", u"", UsbHwSr530, HwSr530},
        PlatformCase{false, u"sr630", u"", UsbHwSr630, HwSr630},
        PlatformCase{false, u"UEFI_BIOS", u"", UsbHwUefiBios, HwUefiBios},
        PlatformCase{false, u"LEGACY_BIOS", u"", UsbHwLegacyBios, HwLegacyBios},
        PlatformCase{false, u"uefi_bios", u"", UsbHwEmpty, HwNone},  // case matters
        PlatformCase{false, u"", u"Vhw_Small", UsbHwAdvantech, HwAdvantech250},
        PlatformCase{false, u"", u"Vhw_Medium", UsbHwSr250, HwSr250},
        PlatformCase{false, u"", u"Vhw_Large", UsbHwSr630, HwSr630},
        PlatformCase{false, u"", u"Vhw_ExtraLarge", UsbHwSr630, HwSr630},
        PlatformCase{false, u"sr630", u"Vhw_Small", UsbHwSr630, HwSr630},  // hardware first
        PlatformCase{false, u"unknown", u"", UsbHwEmpty, HwNone}));

INSTANTIATE_TEST_SUITE_P(
    VmList, PlatformText,
    ::testing::Values(PlatformCase{true, u"", u"", VmHwEmpty, HwNone},
                      PlatformCase{true, u"", u"Vhw_Small", VmHwSmall, HwVirtual250},
                      PlatformCase{true, u"", u"Vhw_Medium", VmHwMedium, HwVirtual6000},
                      PlatformCase{true, u"", u"Vhw_Large", VmHwLarge, HwVirtual20000},
                      PlatformCase{true, u"", u"Vhw_ExtraLarge", VmHwLarge, HwVirtual20000},
                      PlatformCase{true, u"advantech250", u"", VmHwSmall, HwVirtual250},
                      PlatformCase{true, u"kontron", u"", VmHwSmall, HwVirtual250},
                      PlatformCase{true, u"x3250", u"", VmHwMedium, HwVirtual6000},
                      PlatformCase{true, u"sr250", u"", VmHwMedium, HwVirtual6000},
                      PlatformCase{true, u"x3550", u"", VmHwLarge, HwVirtual20000},
                      PlatformCase{true, u"lenovo-sr630", u"", VmHwLarge, HwVirtual20000},
                      PlatformCase{true, u"rx330", u"", VmHwLarge, HwVirtual20000},
                      // The VM text is tried first.
                      PlatformCase{true, u"sr630", u"Vhw_Medium", VmHwMedium, HwVirtual6000},
                      PlatformCase{true, u"UEFI_BIOS", u"", VmHwEmpty, HwNone}));

// --- ConfigureFields: the entry that shows a hardware code ---

TEST(ConfigureFields, ChoosesTheEntryForEveryCode) {
    // code, USB entry, VM entry; codes without a list entry fall back as shown.
    const int table[][3] = {
        {-1, 0, 1}, {0, 3, 1},   {1, 4, 2},   {2, 5, 3},   {3, 6, 3},   {4, 0, 1},
        {5, 3, 1},  {6, 7, 3},   {7, 3, 1},   {8, 3, 1},   {9, 3, 1},   {10, 8, 3},
        {11, 9, 2}, {12, 9, 1},  {13, 11, 1}, {14, 11, 1}, {15, 10, 3}, {16, 3, 1},
        {17, 9, 2}, {18, 10, 3}, {19, 10, 3}, {20, 1, 1},  {21, 2, 1},  {22, 0, 1},
    };
    UiHarness h;
    if (!h.SkipReason().empty()) GTEST_SKIP() << h.SkipReason();
    ASSERT_TRUE(h.Start());
    for (bool iso : {false, true}) {
        h.op().Choose(IdMediaSelect, iso ? 1 : 0);
        ASSERT_EQ(h.app().record.m_isoMedia, iso ? 1 : 0);
        for (const auto& row : table) {
            h.app().record.m_hwType = row[0];
            h.dialog().ConfigureFields();
            const int expected = iso ? row[2] : row[1];
            EXPECT_EQ(h.surface().ComboSelection(IdHardwareType), expected)
                << "code " << row[0] << (iso ? " on the VM list" : " on the USB list");
            EXPECT_EQ(iso ? h.dialog().m_vmHwSelection : h.dialog().m_usbHwSelection, expected);
            EXPECT_EQ(h.app().record.m_hwType, row[0]) << "the code itself stays";
        }
    }
}

TEST(ConfigureFields, CopiesTheRecordIntoTheControls) {
    UiHarness h;
    if (!h.SkipReason().empty()) GTEST_SKIP() << h.SkipReason();
    ASSERT_TRUE(h.Start());
    AppParts& app = h.app();
    ControlSurface& s = h.surface();
    // Leftovers the routine must clear when the record has nothing.
    s.SetText(IdQmxUrl2, u"old");
    s.SetAddress(IdDns2, {9, 9, 9, 9});

    app.record.m_serverName = u"sbc-site1";
    app.record.m_gateway = u"192.168.10.1";
    app.record.m_gateway6 = u"fd00::1";
    app.record.m_logicId = u"1001";
    app.record.m_supplyServer1 = u"qmx1.example.net";
    app.record.m_supplyServer2 = u"";
    app.record.m_dns1 = u"192.168.10.2";
    app.record.m_dns2 = u"";
    app.record.m_preinstall = 0;
    app.record.m_autoinstall = 1;
    app.record.m_netboot = 1;
    app.record.m_dhcp = 0;
    app.record.m_invert = 1;
    app.record.m_uefi = 1;
    app.record.m_singleArmed = 1;
    app.record.m_legacyBios = 1;
    app.record.m_gptPartition = 1;  // GPT shows only without the legacy layout
    app.record.m_partitioned = 1;
    app.record.m_hwType = HwSr630;
    h.MarkLog();
    h.dialog().ConfigureFields();

    EXPECT_EQ(s.GetText(IdHostName), u"sbc-site1");
    EXPECT_EQ(s.GetAddress(IdIpGateway), (IpFields{192, 168, 10, 1}));
    EXPECT_EQ(s.GetText(IdIpv6Gateway), u"fd00::1");
    EXPECT_EQ(s.GetText(IdLogicalId), u"1001");
    EXPECT_EQ(s.GetText(IdQmxUrl1), u"qmx1.example.net");
    EXPECT_EQ(s.GetText(IdQmxUrl2), u"");
    EXPECT_EQ(s.GetAddress(IdDns1), (IpFields{192, 168, 10, 2}));
    EXPECT_TRUE(s.IsAddressBlank(IdDns2));
    EXPECT_EQ(s.ComboSelection(IdHardwareType), UsbHwSr630);

    const std::pair<int, bool> checks[] = {
        {IdChkPreInstall, false}, {IdChkAutomated, true}, {IdChkNetBoot, true},
        {IdChkDhcp, false},       {IdChkInvert, true},    {IdChkUefi, true},
        {IdChkLegacyBios, true},  {IdChkGpt, false},      {IdChkPartitioned, true},
        {IdChkSingleArmed, true},
    };
    for (auto [id, checked] : checks) EXPECT_EQ(s.IsChecked(id), checked) << id << "\n" << h.Dump();
    EXPECT_EQ(h.LogMessages(), (std::vector<std::string>{"ConfigureFields(): start",
                                                         "ConfigureFields(): USB Sick"}));

    // On the ISO the options are reset whatever the record says; Single Armed stays.
    h.op().Choose(IdMediaSelect, 1);
    app.record.m_preinstall = 1;
    app.record.m_singleArmed = 1;
    h.MarkLog();
    h.dialog().ConfigureFields();
    for (int id : {IdChkPreInstall, IdChkAutomated, IdChkNetBoot, IdChkDhcp, IdChkUefi, IdChkInvert,
                   IdChkGpt, IdChkPartitioned})
        EXPECT_FALSE(s.IsChecked(id)) << id;
    EXPECT_TRUE(s.IsChecked(IdChkLegacyBios));
    EXPECT_TRUE(s.IsChecked(IdChkSingleArmed));
    EXPECT_EQ(h.LogMessages(), (std::vector<std::string>{"ConfigureFields(): start",
                                                         "ConfigureFields(): Virtual Machine"}));
}

}  // namespace
}  // namespace flintmere::ui
