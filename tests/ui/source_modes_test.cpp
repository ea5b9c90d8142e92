// The main dialog's modes: configuration source and media kind, as the
// operator switches them, and the files they read.
#include <gtest/gtest.h>

#include <filesystem>

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

constexpr int kStick = 0;
constexpr int kIsoEntry = 1;  // with one stick listed

// Log lines of the mode handlers.
const std::vector<std::string> kModeLog = {"OnBnClickedRadio",   "OnCbnSelchangeMediaSelect",
                                           "OnBnClickedRefresh", "OnBnClickedButton",
                                           "generate node.cfg",  "use ",
                                           "database edit",      "node.cfg edit",
                                           "ConfigureFields"};

using Act = testing::UiAct;
using testing::Play;

struct ModeCase {
    const char* name;
    std::vector<Act> acts;
    const char* states;
    std::vector<std::string> log;
};

void PrintTo(const ModeCase& c, std::ostream* os) {
    *os << c.name;
}

class ModeStates : public ::testing::TestWithParam<ModeCase> {};

TEST_P(ModeStates, LeaveTheDescribedControlStates) {
    const ModeCase& c = GetParam();
    UiHarness h;
    if (!h.SkipReason().empty()) GTEST_SKIP() << h.SkipReason();
    ASSERT_TRUE(h.Start());
    h.MarkLog();
    Play(h, c.acts);
    SCOPED_TRACE(h.Dump());

    EXPECT_EQ(CheckStates(h.surface(), kStateColumns, c.states), "");
    EXPECT_TRUE(h.surface().IsChecked(IdChkLegacyBios));
    for (int id : kCheckBoxesButLegacy) EXPECT_FALSE(h.surface().IsChecked(id)) << id;
    EXPECT_EQ(Filtered(h.LogMessages(), kModeLog), c.log);
    EXPECT_TRUE(h.app_.presenter.Shown().empty());
    EXPECT_TRUE(h.Problems().empty());
}

const Act kToIso{Act::Choose, IdMediaSelect, kIsoEntry};
const Act kUseDb{Act::Click, IdRadioUseDb};
const Act kUseNode{Act::Click, IdRadioUseNode};

const std::vector<std::string> kToIsoLog = {"OnCbnSelchangeMediaSelect(): start",
                                            "OnCbnSelchangeMediaSelect(): Virtual Machine"};

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const std::vector<std::string> kDbUsbLog = {"OnBnClickedRadioUseDb(): start",
                                            "database edit set to \"\"", "ConfigureFields(): start",
                                            "ConfigureFields(): USB Sick"};
const std::vector<std::string> kDbVmLog = {"OnBnClickedRadioUseDb(): start",
                                           "database edit set to \"\"", "ConfigureFields(): start",
                                           "ConfigureFields(): Virtual Machine"};
const std::vector<std::string> kNodeUsbLog = {
    "OnBnClickedRadioUseNode(): start", "node.cfg edit set to \"\"", "ConfigureFields(): start",
    "ConfigureFields(): USB Sick"};
const std::vector<std::string> kNodeVmLog = {
    "OnBnClickedRadioUseNode(): start", "node.cfg edit set to \"\"", "ConfigureFields(): start",
    "ConfigureFields(): Virtual Machine"};

// Columns: options | Single Armed, Invert | Partitioned, GPT, DOS | host name |
// IPv4 address, netmask, gateway | IPv6 x3 | Disable interface | hardware |
// General x5 | database path, "..." | node.cfg path, "...".
INSTANTIATE_TEST_SUITE_P(
    SourceAndMedia, ModeStates,
    ::testing::Values(
        ModeCase{"GenerateUsb", {}, "EEEEE EE EE- E EEE EEE - E ----- -- --", {}},
        ModeCase{"GenerateVm", {kToIso}, "HHHHH EE HHH E EEE EEE - E HHHHH -- --", kToIsoLog},
        ModeCase{"DatabaseUsb", {kUseDb}, "EE--E -- EE- - --E --- - - ----- EE --", kDbUsbLog},
        ModeCase{"DatabaseVm",
                 {kToIso, kUseDb},
                 "HHHHH -- HHH - --E --- - - HHHHH EE --",
                 Concat(kToIsoLog, kDbVmLog)},
        ModeCase{"NodeUsb", {kUseNode}, "----- EE --- - --- --- - - ----- -- EE", kNodeUsbLog},
        ModeCase{"NodeVm",
                 {kToIso, kUseNode},
                 "HHHHH EE HHH - --- --- - - HHHHH -- EE",
                 Concat(kToIsoLog, kNodeVmLog)},
        // The same modes with the media changed after the source.
        ModeCase{"DatabaseThenVm",
                 {kUseDb, kToIso},
                 "HHHHH -- HHH - --E --- - - HHHHH EE --",
                 Concat(kDbUsbLog, Concat(kToIsoLog, kDbVmLog))},
        ModeCase{"NodeThenVm",
                 {kUseNode, kToIso},
                 "HHHHH EE HHH - --- --- - - HHHHH -- EE",
                 Concat(kNodeUsbLog, Concat(kToIsoLog, kNodeVmLog))}),
    [](const auto& info) { return std::string(info.param.name); });

// --- the files the modes read ---

std::string Sample(const char* name) {
    return std::string(FLINTMERE_SOURCE_DIR) + "/samples/" + name;
}

struct DbReadCase {
    const char* name;
    bool readable;
};

void PrintTo(const DbReadCase& c, std::ostream* os) {
    *os << c.name;
}

class DatabaseChoice : public ::testing::TestWithParam<DbReadCase> {};

// The button reads the chosen file, then the radio handler reads it again:
// whatever reading shows, it shows twice.
TEST_P(DatabaseChoice, ReadsTheFileTwice) {
    const DbReadCase& c = GetParam();
    UiHarness h;
    if (!h.SkipReason().empty()) GTEST_SKIP() << h.SkipReason();
    ASSERT_TRUE(h.Start());
    const std::string path = c.readable ? Sample("config.xml") : h.dir / "missing.xml";
    h.host.openAnswers = {FromPath(path)};
    h.op().Click(IdRadioUseDb);
    h.MarkLog();
    h.op().Click(IdDbBrowse);
    SCOPED_TRACE(h.Dump());

    ASSERT_EQ(h.host.openRequests.size(), 1u);
    const FileDialogRequest& request = h.host.openRequests[0];
    EXPECT_EQ(request.filterName, u"database files");
    EXPECT_EQ(request.filterPattern, u"*.xml");
    EXPECT_TRUE(request.mustExist);
    EXPECT_EQ(request.owner, DialogOwner::MainDialog);

    EXPECT_EQ(h.LogCount("OpenDbFile(): open " + path), 2);
    const auto shown = h.app_.presenter.Shown();
    ASSERT_EQ(shown.size() % 2, 0u);
    for (std::size_t i = 0; i < shown.size() / 2; ++i)
        EXPECT_EQ(shown[i].text, shown[i + shown.size() / 2].text);

    const std::vector<std::string> log = Filtered(h.LogMessages(), kModeLog);
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[0], "OnBnClickedButtonDb(): start");
    EXPECT_EQ(log[1], "OnBnClickedRadioUseDb(): start");
    if (c.readable) {
        EXPECT_TRUE(shown.empty());
        EXPECT_EQ(h.surface().GetText(IdDbPath), FromPath(path));
        EXPECT_EQ(h.app().record.m_dbFileLoaded, 1);
        EXPECT_EQ(log[2], "use database selected");
        // The fields show the imported record.
        EXPECT_EQ(h.surface().GetText(IdHostName), h.app().record.m_serverName);
        EXPECT_NE(h.app().record.m_serverName, u"unnamed");
    } else {
        ASSERT_EQ(shown.size(), 2u);
        EXPECT_EQ(shown[0].text, FromPath("Can't open file " + path + "!"));
        EXPECT_EQ(h.surface().GetText(IdDbPath), u"");
        EXPECT_EQ(h.app().record.m_dbFileLoaded, 0);
        EXPECT_EQ(h.app().record.m_serverName, u"unnamed");
        // OK then names the missing database.
        h.op().Click(IdOk);
        const auto after = h.app_.presenter.Shown();
        ASSERT_EQ(after.size(), 3u);
        EXPECT_EQ(after[2].text, u"database file not found");
    }

    // Refresh sets the database mode up again, so the file is read once more.
    h.MarkLog();
    h.op().Click(IdRefresh);
    EXPECT_EQ(h.LogCount("OpenDbFile(): open " + path), c.readable ? 1 : 0);
    EXPECT_EQ(h.LogCount("OnBnClickedRadioUseDb(): start"), 1);
}

INSTANTIATE_TEST_SUITE_P(MainDialog, DatabaseChoice,
                         ::testing::Values(DbReadCase{"Unreadable", false},
                                           DbReadCase{"Readable", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DatabaseRadio, SecondClickOnlyLogsItsStartTwice) {
    UiHarness h;
    if (!h.SkipReason().empty()) GTEST_SKIP() << h.SkipReason();
    ASSERT_TRUE(h.Start());
    h.host.openAnswers = {FromPath(Sample("config.xml"))};
    h.op().Click(IdRadioUseDb);
    h.op().Click(IdDbBrowse);
    // The click moves the focus; only that may differ.
    h.surface().SetFocus(IdRadioUseDb);
    const std::string before = h.WindowDump();
    const u16 serverName = h.app().record.m_serverName;
    h.MarkLog();

    h.op().Click(IdRadioUseDb);
    EXPECT_EQ(h.WindowDump(), before);
    EXPECT_EQ(h.app().record.m_serverName, serverName);
    EXPECT_EQ(h.LogMessages(), (std::vector<std::string>{"OnBnClickedRadioUseDb(): start",
                                                         "OnBnClickedRadioUseDb(): start"}));
}

TEST(NodeFileChoice, UnreadableFileReadsTheEarlierOneAgain) {
    UiHarness h;
    if (!h.SkipReason().empty()) GTEST_SKIP() << h.SkipReason();
    ASSERT_TRUE(h.Start());
    const std::string good = h.dir / "node.cfg";
    std::filesystem::copy_file(Sample("node.cfg"), good);
    const std::string missing = h.dir / "gone.cfg";
    h.host.openAnswers = {FromPath(good), FromPath(missing)};
    h.op().Click(IdRadioUseNode);
    h.op().Click(IdNodeBrowse);
    ASSERT_EQ(h.surface().GetText(IdNodePath), FromPath(good)) << h.Dump();
    ASSERT_EQ(h.surface().GetText(IdHostName), u"sbc-site1");
    ASSERT_EQ(h.host.openRequests.size(), 1u);
    EXPECT_EQ(h.host.openRequests[0].filterName, u"config files");
    EXPECT_EQ(h.host.openRequests[0].filterPattern, u"*.cfg");
    EXPECT_TRUE(h.host.openRequests[0].mustExist);

    h.MarkLog();
    h.op().Click(IdNodeBrowse);
    SCOPED_TRACE(h.Dump());
    const auto shown = h.app_.presenter.Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, FromPath("Can't open file " + missing + "!"));
    EXPECT_EQ(Filtered(h.LogMessages(),
                       {"OnBnClickedButtonNode", "OpenNodeFile(): open", "node.cfg edit"}),
              (std::vector<std::string>{
                  "OnBnClickedButtonNode(): start", "OpenNodeFile(): open " + missing,
                  "node.cfg edit set to \"" + good + "\"", "OpenNodeFile(): open " + good}));
    EXPECT_EQ(h.surface().GetText(IdNodePath), FromPath(good));
    EXPECT_EQ(h.app().record.m_nodeFileLoaded, 1);
    EXPECT_EQ(h.app().record.m_serverName, u"sbc-site1");
    EXPECT_EQ(h.surface().GetText(IdHostName), u"sbc-site1");
    // hw_platform "sr630" of the file.
    EXPECT_EQ(h.surface().ComboSelection(IdHardwareType), UsbHwSr630);
    EXPECT_EQ(h.app().record.m_hwType, HwSr630);
}

// --- a chosen file fills the fields and locks them ---

struct FileModeCase {
    const char* name;
    int radio;
    int browse;
    const char* sample;
    const char* states;
    int hardwareEntry;
    // Host name, then the LAN, gateway and General values as shown.
    std::vector<u16> texts;
    IpFields lan, lanMask, gateway, dns1, dns2, wan, wanMask;
};

void PrintTo(const FileModeCase& c, std::ostream* os) {
    *os << c.name;
}

class FileModes : public ::testing::TestWithParam<FileModeCase> {};

TEST_P(FileModes, ShowTheFileAndLockItsFields) {
    const FileModeCase& c = GetParam();
    UiHarness h;
    if (!h.SkipReason().empty()) GTEST_SKIP() << h.SkipReason();
    ASSERT_TRUE(h.Start());
    h.host.openAnswers = {FromPath(Sample(c.sample))};
    h.op().Click(c.radio);
    h.op().Click(c.browse);
    ControlSurface& s = h.surface();
    SCOPED_TRACE(h.Dump());

    EXPECT_TRUE(h.app_.presenter.Shown().empty());
    EXPECT_EQ(CheckStates(s, kStateColumns, c.states), "");
    EXPECT_EQ(s.ComboSelection(IdHardwareType), c.hardwareEntry);
    const int textIds[] = {IdHostName,  IdIpv6Address, IdIpv6Netmask, IdIpv6Gateway,
                           IdLogicalId, IdQmxUrl1,     IdQmxUrl2};
    ASSERT_EQ(c.texts.size(), std::size(textIds));
    for (std::size_t i = 0; i < c.texts.size(); ++i)
        EXPECT_EQ(s.GetText(textIds[i]), c.texts[i]) << textIds[i];
    EXPECT_EQ(s.GetAddress(IdIpAddress), c.lan);
    EXPECT_EQ(s.GetAddress(IdIpNetmask), c.lanMask);
    EXPECT_EQ(s.GetAddress(IdIpGateway), c.gateway);
    EXPECT_EQ(s.GetAddress(IdDns1), c.dns1);
    EXPECT_EQ(s.GetAddress(IdDns2), c.dns2);

    // The interface list stays usable to look at the other interfaces.
    h.op().Choose(IdInterface, InterfaceWan);
    EXPECT_EQ(s.GetAddress(IdIpAddress), c.wan);
    EXPECT_EQ(s.GetAddress(IdIpNetmask), c.wanMask);
    EXPECT_FALSE(s.IsEnabled(IdIpAddress));
}

INSTANTIATE_TEST_SUITE_P(
    MainDialog, FileModes,
    ::testing::Values(FileModeCase{"NodeCfg",
                                   IdRadioUseNode,
                                   IdNodeBrowse,
                                   "node.cfg",
                                   "----- EE --- - --- --- - - ----- -- EE",
                                   UsbHwSr630,
                                   {u"sbc-site1", u"fd00:10::20", u"64", u"fd00:10::1", u"1001",
                                    u"qmx1.example.net", u"qmx2.example.net"},
                                   {192, 168, 10, 20},
                                   {255, 255, 255, 0},
                                   {192, 168, 10, 1},
                                   {192, 168, 10, 2},
                                   {192, 168, 10, 3},
                                   {203, 0, 113, 10},
                                   {255, 255, 255, 240}},
                      FileModeCase{"Database",
                                   IdRadioUseDb,
                                   IdDbBrowse,
                                   "config.xml",
                                   "EE--E -- EE- - --E --- - - ----- EE --",
                                   UsbHwAdvantech,  // product 16 seen from a stick
                                   {u"sbc-branch-01", u"2001:db8:10::10", u"64", u"2001:db8:20::1",
                                    u"4711", u"qmx1.example.net", u"198.51.100.80"},
                                   {192, 0, 2, 10},
                                   {255, 255, 255, 0},
                                   {198, 51, 100, 1},
                                   {198, 51, 100, 53},
                                   {192, 0, 2, 53},
                                   {198, 51, 100, 20},
                                   {255, 255, 255, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- media switches ---

TEST(MediaSwitch, GenerateModeKeepsTheStickSelectionAndEmptiesTheVmOne) {
    UiHarness h;
    if (!h.SkipReason().empty()) GTEST_SKIP() << h.SkipReason();
    ASSERT_TRUE(h.Start());
    ControlSurface& s = h.surface();
    h.op().Choose(IdHardwareType, UsbHwUefiBios);
    ASSERT_EQ(h.app().record.m_hwType, HwUefiBios);

    h.MarkLog();
    h.op().Choose(IdMediaSelect, kIsoEntry);
    EXPECT_EQ(s.ComboCount(IdHardwareType), 4);
    EXPECT_EQ(s.ComboSelection(IdHardwareType), VmHwEmpty);
    EXPECT_TRUE(s.IsEnabled(IdHardwareType));
    EXPECT_EQ(Filtered(h.LogMessages(), kModeLog), kToIsoLog);
    h.op().Choose(IdHardwareType, VmHwSmall);
    EXPECT_EQ(h.app().record.m_hwType, HwVirtual250);

    h.MarkLog();
    h.op().Choose(IdMediaSelect, kStick);
    SCOPED_TRACE(h.Dump());
    EXPECT_EQ(s.ComboCount(IdHardwareType), 12);
    EXPECT_EQ(s.ComboSelection(IdHardwareType), UsbHwUefiBios);
    EXPECT_EQ(Filtered(h.LogMessages(), kModeLog),
              (std::vector<std::string>{"OnCbnSelchangeMediaSelect(): start",
                                        "OnCbnSelchangeMediaSelect(): USB Stick"}));
    // The record and the layout follow the entry shown again.
    EXPECT_EQ(h.app().record.m_hwType, HwUefiBios);
    EXPECT_TRUE(s.IsChecked(IdChkGpt));
    EXPECT_TRUE(s.IsChecked(IdChkPartitioned));
    EXPECT_TRUE(s.IsChecked(IdChkUefi));
    EXPECT_FALSE(s.IsChecked(IdChkLegacyBios));
    EXPECT_TRUE(s.IsShown(IdChkGpt));

    // In the Generate mode the VM list always comes back empty; OK says so.
    h.op().Choose(IdMediaSelect, kIsoEntry);
    EXPECT_EQ(s.ComboSelection(IdHardwareType), VmHwEmpty);
    h.op().Type(IdHostName, u"sbc1");
    h.op().TypeAddress(IdIpAddress, {192, 168, 1, 10});
    h.op().TypeAddress(IdIpNetmask, {255, 255, 255, 0});
    h.op().Choose(IdInterface, InterfaceWan);
    h.op().TypeAddress(IdIpAddress, {10, 0, 0, 10});
    h.op().TypeAddress(IdIpNetmask, {255, 0, 0, 0});
    h.op().Click(IdOk);
    const auto shown = h.app_.presenter.Shown();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back().text, u"Missing or invalid Hardware type");
    EXPECT_TRUE(h.host.saveRequests.empty());
}

TEST(MediaSwitch, NodeModeSelectsEachListFromTheFile) {
    UiHarness h;
    if (!h.SkipReason().empty()) GTEST_SKIP() << h.SkipReason();
    ASSERT_TRUE(h.Start());
    ControlSurface& s = h.surface();
    h.host.openAnswers = {FromPath(Sample("node.cfg"))};
    h.op().Click(IdRadioUseNode);
    h.op().Click(IdNodeBrowse);
    ASSERT_EQ(s.ComboSelection(IdHardwareType), UsbHwSr630) << h.Dump();

    for (int round = 0; round < 2; ++round) {
        h.op().Choose(IdMediaSelect, kIsoEntry);
        EXPECT_EQ(s.ComboSelection(IdHardwareType), VmHwLarge) << h.Dump();
        EXPECT_EQ(h.app().record.m_hwType, HwVirtual20000);
        EXPECT_FALSE(s.IsEnabled(IdHardwareType));
        h.op().Choose(IdMediaSelect, kStick);
        EXPECT_EQ(s.ComboSelection(IdHardwareType), UsbHwSr630) << h.Dump();
        EXPECT_EQ(h.app().record.m_hwType, HwSr630);
        EXPECT_EQ(s.GetText(IdNodePath), FromPath(Sample("node.cfg")));
    }
    EXPECT_TRUE(h.app_.presenter.Shown().empty());
}

TEST(MediaSwitch, RefreshFindingAStickFollowsTheStickList) {
    UiHarness h(testing::UiHarnessOptions{.sticks = 0});
    if (!h.SkipReason().empty()) GTEST_SKIP() << h.SkipReason();
    ASSERT_TRUE(h.Start());
    ControlSurface& s = h.surface();
    h.op().Choose(IdHardwareType, VmHwSmall);
    ASSERT_EQ(h.app().record.m_hwType, HwVirtual250);

    h.disks.disks.push_back(testing::MakeStick(0));
    h.MarkLog();
    h.op().Click(IdRefresh);
    SCOPED_TRACE(h.Dump());
    EXPECT_EQ(h.app().record.m_isoMedia, 0);
    ASSERT_EQ(s.ComboCount(IdMediaSelect), 2);
    EXPECT_EQ(s.ComboSelection(IdMediaSelect), 0);
    EXPECT_EQ(s.ComboCount(IdHardwareType), 12);
    EXPECT_EQ(s.ComboSelection(IdHardwareType), UsbHwEmpty);
    EXPECT_EQ(h.app().record.m_hwType, HwNone);
    EXPECT_EQ(CheckStates(s, kStateColumns, "EEEEE EE EE- E EEE EEE - E ----- -- --"), "");
    EXPECT_EQ(Filtered(h.LogMessages(), kModeLog),
              (std::vector<std::string>{
                  "OnBnClickedRefresh(): start", "OnBnClickedRadioGenNode(): start",
                  "generate node.cfg selected", "OnBnClickedRadioGenNode(): USB Disk",
                  "OnBnClickedRadioGenNode(): end", "OnBnClickedRefresh(): end"}));
}

}  // namespace
}  // namespace flintmere::ui
