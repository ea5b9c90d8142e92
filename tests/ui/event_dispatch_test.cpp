// Each operator event reaches its handler, seen by the line the handler logs.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/ui_harness.h"

namespace flintmere::testing {
namespace {

using namespace ui;

TEST(EventDispatch, EachEventReachesItsHandler) {
    struct Row {
        const char* action;
        std::function<void(ScriptedOperator&)> act;
        std::string logged;  // the first line its handler writes
    };
    const std::vector<Row> rows = {
        {"Automated", [](ScriptedOperator& op) { op.Click(IdChkAutomated); },
         "OnBnClickedChkAutomated(): start"},
        {"PreInstall", [](ScriptedOperator& op) { op.Click(IdChkPreInstall); },
         "OnBnClickedChkPreInstall(): start"},
        {"Net boot", [](ScriptedOperator& op) { op.Click(IdChkNetBoot); },
         "OnBnClickedChkNetBoot(): start"},
        {"DHCP", [](ScriptedOperator& op) { op.Click(IdChkDhcp); }, "OnBnClickedChkDHCP(): start"},
        {"UEFI Bootloader", [](ScriptedOperator& op) { op.Click(IdChkUefi); },
         "UEFI flag changed to 1"},
        {"Invert", [](ScriptedOperator& op) { op.Click(IdChkInvert); },
         "OnBnClickedChkINVERT(): start"},
        {"Single Armed", [](ScriptedOperator& op) { op.Click(IdChkSingleArmed); },
         "setSingleArmedDefault(): start"},
        {"Partitioned", [](ScriptedOperator& op) { op.Click(IdChkPartitioned); },
         "partitioned flag changed to 1"},
        {"GPT", [](ScriptedOperator& op) { op.Click(IdChkGpt); },
         "GPT Partition Disk flag changed to 1"},
        // The lost-focus handlers: FieldHandlers.EveryFieldReachesTheRecordAndNodeCfg.
        {"interface list", [](ScriptedOperator& op) { op.Choose(IdInterface, InterfaceWan); },
         "OnCbnSelchangeComboIf(): start"},
        {"hardware type", [](ScriptedOperator& op) { op.Choose(IdHardwareType, 1); },
         "GPT Partition Disk flag changed to 0"},
        {"Refresh", [](ScriptedOperator& op) { op.Click(IdRefresh); },
         "OnBnClickedRefresh(): start"},
        {"Generate radio", [](ScriptedOperator& op) { op.Click(IdRadioGenNode); },
         "OnBnClickedRadioGenNode(): start"},
        {"database radio", [](ScriptedOperator& op) { op.Click(IdRadioUseDb); },
         "OnBnClickedRadioUseDb(): start"},
        {"node.cfg radio", [](ScriptedOperator& op) { op.Click(IdRadioUseNode); },
         "OnBnClickedRadioUseNode(): start"},
        {"media list", [](ScriptedOperator& op) { op.Choose(IdMediaSelect, 1); },
         "OnCbnSelchangeMediaSelect(): start"},
        {"OK", [](ScriptedOperator& op) { op.Click(IdOk); }, "OnBnClickedOk(): start"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.action);
        UiHarness h;
        if (!h.SkipReason().empty()) GTEST_SKIP() << h.SkipReason();
        ASSERT_TRUE(h.Start());
        h.app_.presenter.ScriptAnswers({kIdNo, kIdNo});
        h.MarkLog();
        row.act(h.op());
        const std::vector<std::string> log = h.LogMessages();
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.front(), row.logged);
    }
}

TEST(EventDispatch, CancelEndsTheDialogAndNothingFollows) {
    UiHarness h;
    if (!h.SkipReason().empty()) GTEST_SKIP() << h.SkipReason();
    ASSERT_TRUE(h.Start());
    h.op().Click(IdCancel);
    EXPECT_TRUE(h.dialog().Ended());
    EXPECT_EQ(h.dialog().Result(), kIdCancel);
    EXPECT_EQ(h.host.mainDialogResult, kIdCancel);
    h.MarkLog();
    h.op().Click(IdChkDhcp);
    h.op().Click(IdOk);
    EXPECT_TRUE(h.LogMessages().empty()) << "an ended dialog takes no events";
    EXPECT_EQ(h.host.mainDialogEnds, 1);
}

TEST(EventDispatch, BrandingButtonOpensTheBrandingDialog) {
    UiHarness h;
    if (!h.SkipReason().empty()) GTEST_SKIP() << h.SkipReason();
    ASSERT_TRUE(h.Start());
    h.op().Click(IdBranding);
    EXPECT_EQ(h.host.brandingRuns, 1);
}

}  // namespace
}  // namespace flintmere::testing
