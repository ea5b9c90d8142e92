// A run without the rights to the stick: the operator sees the system's
// reason once, and never the text of a stick that another program holds.
#include <gtest/gtest.h>

#include "support/image_stick.h"
#include "support/recording_presenter.h"

namespace flintmere::testing {
namespace {

struct RightsCase {
    const char* name;
    bool copyOnly;      // the stick is only copied to: no open for writing
    int openError;      // what opening the disk for writing gives
    int unmountError;   // what releasing its mounts gives
    const char* shown;  // the one box
    int status;
};

class StickRights : public ImageStickTest<::testing::TestWithParam<RightsCase>> {
  protected:
    void SetUp() override {
        disks.openError = GetParam().openError;
        disks.mountError = GetParam().unmountError;
        SetUpStick(GetParam().copyOnly);
    }
};

TEST_P(StickRights, ShowsTheSystemReasonOnceAndNotTheBlockedText) {
    const RightsCase& c = GetParam();
    EXPECT_EQ(app->engine.SetupUSB(), 0);
    const std::vector<ShownMessage> shown = app.presenter.Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, Utf8ToUtf16(c.shown));
    EXPECT_EQ(shown[0].caption, u"Error");
    EXPECT_EQ(app->engine.m_setupStatus.load(), c.status);
    EXPECT_EQ(progress.CloseRequests(), 1);
    // Nothing was formatted.
    EXPECT_EQ(ReadFileBytes(app->services.m_logFile.Path()).find("Format starting"),
              std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StickRights,
    ::testing::Values(
        RightsCase{"OpenRefused", false, EACCES, 0, "Permission denied", SetupError},
        RightsCase{"OpenNotPermitted", false, EPERM, 0, "Operation not permitted", SetupError},
        RightsCase{"UnmountNotPermitted", true, EPERM, EPERM, "Operation not permitted",
                   SetupError},
        // A mount that is busy is another program's: that stays the blocked case.
        RightsCase{"UnmountBusy", true, EPERM, EBUSY, "Device or resource busy", SetupBlocked}),
    [](const ::testing::TestParamInfo<RightsCase>& info) { return info.param.name; });

}  // namespace
}  // namespace flintmere::testing
