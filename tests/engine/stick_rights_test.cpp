// A run without the rights to the stick: the operator sees the system's
// reason once, and never the text of a stick that another program holds.
#include <gtest/gtest.h>

#include "support/fake_disks.h"
#include "support/fakes.h"
#include "support/install_folder.h"
#include "support/recording_progress.h"
#include "support/run_program.h"

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

class StickRights : public ::testing::TestWithParam<RightsCase> {
  protected:
    void SetUp() override {
        inst = dir / "inst";
        FLINTMERE_REQUIRE_INSTALL_FOLDER(inst, false);
        image = dir / "stick.img";
        std::string make = "mkfs.fat -F 32 -n tvq -C " + image + " 131072 >/dev/null";
        if (GetParam().copyOnly) make += " && echo keep | mcopy -i " + image + " - ::/copyonly";
        ProgramResult fat = RunProgram({"sh", "-c", make}, {"MTOOLS_SKIP_CHECK=1"});
        if (fat.exitStatus == 127) GTEST_SKIP() << "mkfs.fat or mtools is not installed";
        ASSERT_EQ(fat.exitStatus, 0) << fat.err;

        RemovableDisk stick;
        stick.name = "sdz";
        stick.devicePath = "/dev/sdz";
        stick.identity = "sdz:7";
        stick.deviceNumber = (8u << 8) | 250;
        stick.lengthBytes = 128ull << 20;
        stick.geometry = DiskGeometry::FromLength(stick.lengthBytes, 512);
        disks.disks = {stick};
        disks.volumes["sdz"] = image;
        disks.tables["sdz"] = PartitionEntry{};
        disks.openError = GetParam().openError;
        disks.mountError = GetParam().unmountError;

        app->SetDiskService(&disks);
        app->m_pProgressDlg = &progress;
        app.env.tempFolder = FromPath(dir.Path() + "/");
        app->OpenLog();
        app->m_exeFolder = FromPath(inst);
        app->m_distFolder = FromPath(inst + "/kx/");
        app->m_driveVolumeName[0] = u"sdz:7";
        app->m_selectedDrive = 0;
        app->ResetConfiguration(true);
        app->m_serverName = u"sbc1";
        app->m_configSource = ConfigGenerateNodeFile;
    }

    TempDir dir;
    TestApp app;
    FakeDisks disks;
    RecordingProgress progress;
    std::string inst, image;
};

TEST_P(StickRights, ShowsTheSystemReasonOnceAndNotTheBlockedText) {
    const RightsCase& c = GetParam();
    EXPECT_EQ(app->SetupUSB(), 0);
    const std::vector<ShownMessage> shown = app.presenter.Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, Utf8ToUtf16(c.shown));
    EXPECT_EQ(shown[0].caption, u"Error");
    EXPECT_EQ(app->m_setupStatus.load(), c.status);
    EXPECT_EQ(progress.CloseRequests(), 1);
    // Nothing was formatted.
    EXPECT_EQ(ReadFileBytes(app->m_logFile.Path()).find("Format starting"), std::string::npos);
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
