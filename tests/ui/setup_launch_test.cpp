// OK in the main dialog: where a request stops before any run, what it
// stores, and how the outcome of the run is reported.
#include <gtest/gtest.h>

#include <algorithm>

#include "config/setup_validation.h"
#include "support/recording_presenter.h"
#include "support/ui_harness.h"
#include "ui/hardware_lists.h"

namespace flintmere::testing {
namespace {

using namespace ui;

constexpr int kIsoEntry = 1;  // one stick listed, then the ISO entry

// A request that passes every check: host name, LAN and WAN typed.
void TypeNetwork(UiHarness& rig) {
    rig.op().Type(IdHostName, u"sbc-01");
    rig.op().TypeAddress(IdIpAddress, {192, 0, 2, 10});
    rig.op().TypeAddress(IdIpNetmask, {255, 255, 255, 0});
    rig.op().Choose(IdInterface, InterfaceWan);
    rig.op().TypeAddress(IdIpAddress, {198, 51, 100, 10});
    rig.op().TypeAddress(IdIpNetmask, {255, 255, 255, 0});
    rig.op().Choose(IdInterface, InterfaceLan);
}

void ChooseIso(UiHarness& rig) {
    rig.op().Choose(IdMediaSelect, kIsoEntry);
    rig.op().Choose(IdHardwareType, VmHwSmall);
}

const std::string kEraseQuestion =
    "WARNING: all partitions of the removable media will be deleted and a single FAT32 "
    "partition will created.\nTherefore, all data of the removable media will be erased. Do "
    "you really want to continue?";

TEST(SetupLaunch, RequestsThatStopBeforeAnyRun) {
    struct Row {
        const char* name;
        bool iso;
        bool typeNetwork;
        bool chooseSize;
        std::vector<int> answers;  // to the questions, in order
        int saveRequests;
        std::vector<std::string> boxes;
    };
    const Row rows[] = {
        {"save-as cancelled", true, true, true, {}, 1, {}},
        {"No to the erase question", false, true, true, {kIdNo}, 0, {kEraseQuestion}},
        {"No to the unnamed server",
         false,
         false,
         true,
         {kIdNo},
         0,
         {"Do you really want to continue and use \"unnamed\" as server name?"}},
        {"ISO without a size", true, true, false, {}, 0, {"Missing or invalid Hardware type"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        UiHarness rig;
        FLINTMERE_START_DIALOG(rig);
        if (row.iso) {
            rig.op().Choose(IdMediaSelect, kIsoEntry);
            if (row.chooseSize) rig.op().Choose(IdHardwareType, VmHwSmall);
        } else {
            rig.op().Click(IdChkAutomated);
        }
        if (row.typeNetwork) TypeNetwork(rig);
        rig.op().Click(IdChkInvert);
        rig.app_.presenter.ScriptAnswers(row.answers);
        rig.op().Click(IdOk);

        EXPECT_EQ(static_cast<int>(rig.host.saveRequests.size()), row.saveRequests);
        std::vector<std::string> boxes;
        for (const ShownMessage& box : rig.app_.presenter.Shown())
            boxes.push_back(ToPath(box.text));
        EXPECT_EQ(boxes, row.boxes);
        EXPECT_EQ(rig.host.progressRuns, 0) << "nothing started";
        EXPECT_EQ(rig.app().engine.m_pProgressDlg, nullptr);
        EXPECT_FALSE(rig.dialog().Ended());
        // The check boxes are stored only for a run.
        EXPECT_EQ(rig.app().record.m_invert, 0);
        EXPECT_EQ(rig.app().record.m_autoinstall, 0);
        EXPECT_EQ(rig.app().record.m_isoPath, u"");
    }
}

TEST(SetupLaunch, QuestionsAsTheOperatorSeesThem) {
    UiHarness rig;
    FLINTMERE_START_DIALOG(rig);
    TypeNetwork(rig);
    rig.app_.presenter.ScriptAnswers({kIdNo});
    rig.op().Click(IdOk);
    std::vector<ShownMessage> boxes = rig.app_.presenter.Shown();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(ToPath(boxes[0].caption), "USB Stick Setup");
    EXPECT_EQ(boxes[0].style, kMbQuestionStyle);
    EXPECT_TRUE(boxes[0].owned);

    rig.op().Choose(IdMediaSelect, kIsoEntry);
    rig.op().Choose(IdHardwareType, VmHwSmall);
    rig.op().Click(IdOk);
    ASSERT_EQ(rig.host.saveRequests.size(), 1u);
    const FileDialogRequest& save = rig.host.saveRequests[0];
    EXPECT_EQ(ToPath(save.filterName), "ISO Files (*.iso)");
    EXPECT_EQ(ToPath(save.filterPattern), "*.iso");
    EXPECT_EQ(ToPath(save.defaultExtension), "iso");
    EXPECT_TRUE(save.overwritePrompt);
    EXPECT_TRUE(save.hideReadOnly);
    EXPECT_EQ(save.owner, DialogOwner::MainDialog);
}

TEST(SetupLaunch, ResultOfTheRun) {
    struct Row {
        bool iso;
        int status;
        const char* message;  // nullptr: no box
        bool closes;
    };
    const Row rows[] = {
        {false, SetupError, "USB Stick Setup error", true},
        {false, SetupComplete, "USB Stick Setup complete", true},
        {false, SetupCanceled, "USB Stick Setup canceled by user", false},
        {false, SetupBlocked,
         "USB Stick Setup blocked by other application. Close applications that could be using "
         "resources on this device. Like Windows Explorer",
         false},
        {false, 7, nullptr, true},
        {true, SetupError, "Virtual Machine ISO image Setup error", true},
        {true, SetupComplete, "Virtual Machine ISO image Setup complete", true},
        {true, SetupCanceled, "Virtual Machine ISO image Setup canceled by user", false},
        {true, SetupBlocked, "Virtual Machine ISO image blocked", false},
        {true, -1, nullptr, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << (row.iso ? "ISO " : "USB ") << row.status);
        UiHarness rig;
        FLINTMERE_START_DIALOG(rig);
        if (row.iso) ChooseIso(rig);
        TypeNetwork(rig);
        rig.host.saveAnswers = {FromPath(rig.dir / "out.iso")};
        // Whatever the worker makes of the fake stick or the bare folder, the
        // run ends with the status under test.
        rig.host.progressScript = [&](MediaEngine& engine) {
            engine.WaitWorker();
            engine.m_setupStatus = row.status;
        };
        rig.op().Click(IdOk);
        ASSERT_EQ(rig.host.progressRuns, 1);
        EXPECT_EQ(rig.app().engine.m_pProgressDlg, nullptr)
            << "the dialog object is gone after the run";
        const std::vector<ShownMessage> boxes = rig.app_.presenter.Shown();
        const bool reported = !boxes.empty() && boxes.back().caption == u"Setup";
        if (row.message) {
            ASSERT_TRUE(reported);
            EXPECT_EQ(ToPath(boxes.back().text), row.message);
            EXPECT_EQ(boxes.back().style, kMbWarningStyle);
            EXPECT_FALSE(boxes.back().owned);
        } else {
            EXPECT_FALSE(reported);
        }
        EXPECT_EQ(rig.dialog().Ended(), row.closes);
        EXPECT_EQ(rig.host.mainDialogResult, row.closes ? kIdOk : 0);
    }
}

TEST(SetupLaunch, CancelledRunKeepsTheDialogForAnotherAttempt) {
    UiHarness rig;
    FLINTMERE_START_DIALOG(rig);
    TypeNetwork(rig);
    // Every pause of the worker really waits, so the Cancel comes first.
    rig.app_.clock.SetRealDelay(std::chrono::seconds(30));
    rig.host.progressScript = [&](MediaEngine& engine) {
        engine.CancelSetup();
        rig.app_.clock.SetRealDelay(std::chrono::milliseconds(0));
    };
    rig.op().Click(IdOk);
    std::vector<ShownMessage> boxes = rig.app_.presenter.Shown();
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(ToPath(boxes.back().text), "USB Stick Setup canceled by user");
    EXPECT_FALSE(rig.dialog().Ended());
    EXPECT_EQ(ToPath(rig.surface().GetText(IdHostName)), "sbc-01") << "the values stay";
    const std::vector<std::string> log = rig.LogMessages();
    EXPECT_NE(std::find(log.begin(), log.end(), "SetupUSB(): canceled"), log.end());

    // OK again is a new request from the start.
    rig.host.progressScript = [](MediaEngine& engine) {
        engine.WaitWorker();
        engine.m_setupStatus = SetupComplete;
    };
    rig.MarkLog();
    rig.op().Click(IdOk);
    EXPECT_EQ(rig.host.progressRuns, 2);
    EXPECT_EQ(rig.host.progressDialogs.size(), 2u);
    const std::vector<std::string> again = rig.LogMessages();
    ASSERT_FALSE(again.empty());
    EXPECT_EQ(again.front(), "OnBnClickedOk(): start");
    EXPECT_EQ(ToPath(rig.app_.presenter.Shown().back().text), "USB Stick Setup complete");
    EXPECT_TRUE(rig.dialog().Ended());
}

TEST(SetupLaunch, BlankDnsKeepsTheImportedServer) {
    const std::string db = ReadFileBytes(FLINTMERE_SOURCE_DIR "/samples/config.xml");
    if (db.empty()) GTEST_SKIP() << "samples/config.xml is missing";
    UiHarness rig;
    FLINTMERE_START_DIALOG(rig);
    WriteFileBytes(rig.dir / "site.xml", db);
    rig.op().Click(IdRadioUseDb);
    rig.host.openAnswers = {FromPath(rig.dir / "site.xml")};
    rig.op().Click(IdDbBrowse);
    ASSERT_FALSE(rig.surface().IsAddressBlank(IdDns1));
    // Switching to the virtual machine reads the database again, then hides
    // and empties the General fields.
    rig.op().Choose(IdMediaSelect, kIsoEntry);
    ASSERT_EQ(ToPath(rig.app().record.m_dns1), "198.51.100.53");
    ASSERT_TRUE(rig.surface().IsAddressBlank(IdDns1));
    rig.host.saveAnswers = {FromPath(rig.dir / "site.iso")};
    rig.host.progressScript = [](MediaEngine& engine) { engine.CancelSetup(); };
    rig.op().Click(IdOk);
    ASSERT_EQ(rig.host.progressRuns, 1) << rig.Dump();
    EXPECT_EQ(ToPath(rig.app().record.m_dns1), "198.51.100.53");
    EXPECT_EQ(ToPath(rig.app().record.m_dns2), "192.0.2.53");
    EXPECT_EQ(rig.app().record.m_configSource, ConfigFromDatabase);
    EXPECT_EQ(ToPath(rig.app().record.m_isoPath), rig.dir / "site.iso");
}

}  // namespace
}  // namespace flintmere::testing
