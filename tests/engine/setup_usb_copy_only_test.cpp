// A copy-only stick over a FAT image file: the run never writes under a
// file system that stays mounted.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/image_stick.h"

namespace flintmere::testing {
namespace {

namespace fs = std::filesystem;

class CopyOnlyStick : public ImageStickTest<> {
  protected:
    void SetUp() override { SetUpStick(true); }

    // Every file on the image with its size, as mtools lists them.
    std::string Listing() {
        return RunProgram({"mdir", "-/", "-a", "-i", image, "::/"}, {"MTOOLS_SKIP_CHECK=1"}).out;
    }
};

TEST_F(CopyOnlyStick, AStickThatStaysMountedIsBlockedAndUntouched) {
    const std::string before = ReadFileBytes(image);
    disks.mountError = EBUSY;

    EXPECT_EQ(app->engine.SetupUSB(), 0);

    EXPECT_EQ(app->engine.m_setupStatus, SetupBlocked);
    EXPECT_EQ(disks.releaseCalls, 1);
    ASSERT_EQ(app.presenter.Shown().size(), 1u);
    EXPECT_EQ(app.presenter.Shown()[0].text, u"Device or resource busy");
    EXPECT_EQ(app.presenter.Shown()[0].caption, u"Error");
    EXPECT_EQ(progress.CloseRequests(), 1);
    EXPECT_TRUE(ReadFileBytes(image) == before) << "nothing is written to a mounted stick";
}

TEST_F(CopyOnlyStick, AReleasedStickGetsItsFiles) {
    EXPECT_EQ(app->engine.SetupUSB(), 1);

    EXPECT_EQ(app->engine.m_setupStatus, SetupComplete);
    EXPECT_EQ(disks.releaseCalls, 1);
    EXPECT_TRUE(app.presenter.Shown().empty());
    ProgramResult listed = RunProgram({"mdir", "-b", "-i", image, "::/"}, {"MTOOLS_SKIP_CHECK=1"});
    EXPECT_NE(listed.out.find("node.cfg"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("copyonly"), std::string::npos) << listed.out;
}

// The operator pulls the stick as soon as it says done: the run flushes it
// once, after the last file and before it reports complete.
TEST_F(CopyOnlyStick, FlushFollowsTheLastFileAndPrecedesComplete) {
    std::string listingAtFlush, logAtFlush;
    int statusAtFlush = -1, closesAtFlush = -1;
    disks.onFlush = [&] {
        listingAtFlush = Listing();
        logAtFlush = Log();
        statusAtFlush = app->engine.m_setupStatus;
        closesAtFlush = progress.CloseRequests();
    };

    ASSERT_EQ(app->engine.SetupUSB(), 1) << Log();

    EXPECT_EQ(disks.flushed, std::vector<std::string>{"sdz"});
    EXPECT_NE(statusAtFlush, SetupComplete);
    EXPECT_EQ(closesAtFlush, 0);
    EXPECT_EQ(app->engine.m_setupStatus, SetupComplete);
    // Every file, the image tar last of all, was written before the flush.
    EXPECT_NE(listingAtFlush.find("image_zev-1"), std::string::npos) << listingAtFlush;
    EXPECT_EQ(listingAtFlush, Listing()) << "nothing is written after the flush";
    EXPECT_NE(logAtFlush.find("CopyFiles(): done"), std::string::npos);
    EXPECT_EQ(logAtFlush.find("SetupUSB(): done"), std::string::npos);
}

TEST_F(CopyOnlyStick, AFailedFlushEndsTheRunWithItsError) {
    disks.flushError = EIO;

    EXPECT_EQ(app->engine.SetupUSB(), 0);

    EXPECT_EQ(disks.flushed.size(), 1u);
    EXPECT_EQ(app->engine.m_setupStatus, SetupError);
    ASSERT_EQ(app.presenter.Shown().size(), 1u);
    EXPECT_EQ(app.presenter.Shown()[0].text, u"Input/output error");
    EXPECT_EQ(app.presenter.Shown()[0].caption, u"Error");
    EXPECT_EQ(progress.CloseRequests(), 1);
    EXPECT_EQ(Log().find("SetupUSB(): done"), std::string::npos);
}

}  // namespace
}  // namespace flintmere::testing
