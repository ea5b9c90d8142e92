// A copy-only stick over a FAT image file: the run never writes under a
// file system that stays mounted.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <functional>
#include <ostream>

#include "engine/outcome.h"
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
    EXPECT_EQ(OutcomeKindName(app->engine.m_lastOutcome.kind),
              OutcomeKindName(OutcomeKind::Blocked));
    EXPECT_EQ(app->engine.m_lastOutcome.error, EBUSY);
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
    EXPECT_EQ(OutcomeKindName(app->engine.m_lastOutcome.kind),
              OutcomeKindName(OutcomeKind::WriteError));
    EXPECT_EQ(app->engine.m_lastOutcome.error, EIO);
    ASSERT_EQ(app.presenter.Shown().size(), 1u);
    EXPECT_EQ(app.presenter.Shown()[0].text, u"Input/output error");
    EXPECT_EQ(app.presenter.Shown()[0].caption, u"Error");
    EXPECT_EQ(progress.CloseRequests(), 1);
    EXPECT_EQ(Log().find("SetupUSB(): done"), std::string::npos);
}

// Each way the stick job ends, what its outcome says, and the boxes the run
// shows for it.
struct StickOutcomeRow {
    const char* name;
    std::function<void(FakeDisks&, TestApp&, const std::string& image, const std::string& dir)>
        arrange;
    int status;
    OutcomeKind kind;
    int error;
    std::vector<u16> boxes;
    const char* toolLine = "";
    int lastPause = -1;  // ms; -1: not checked
};

void PrintTo(const StickOutcomeRow& row, std::ostream* os) {
    *os << row.name;
}

// The stick loses its copy-only marker, so the job prepares it from scratch.
void WholeRun(const std::string& image) {
    RunProgram({"mdel", "-i", image, "::/copyonly"}, {"MTOOLS_SKIP_CHECK=1"});
}

// A tool folder whose formatter fails, the other tools being the system's.
void FailingFormatter(TestApp& app, const std::string& dir) {
    const fs::path tools = fs::path(dir) / "failing" / "tools";
    fs::create_directories(tools);
    for (const char* name : {"mcopy", "mmd", "mdir", "mtype", "mattrib", "mdel", "fsck.fat"}) {
        for (const char* place : {"/usr/bin/", "/usr/sbin/", "/sbin/"}) {
            if (fs::exists(std::string(place) + name)) {
                fs::create_symlink(std::string(place) + name, tools / name);
                break;
            }
        }
    }
    WriteFileBytes(tools / "mkfs.fat", "#!/bin/sh\necho 'mkfs.fat: no room for the FAT'\nexit 1\n");
    fs::permissions(tools / "mkfs.fat", fs::perms::owner_all);
    app->engine.m_toolFolder = FromPath(tools.parent_path().string());
}

class StickOutcomes : public ImageStickTest<::testing::TestWithParam<StickOutcomeRow>> {
  protected:
    void SetUp() override { SetUpStick(true); }
};

TEST_P(StickOutcomes, TheOutcomeNamesWhatEndedTheRun) {
    const StickOutcomeRow& row = GetParam();
    row.arrange(disks, app, image, dir.Path());

    EXPECT_EQ(app->engine.SetupUSB(), row.status == SetupComplete ? 1 : 0) << Log();

    const Outcome& outcome = app->engine.m_lastOutcome;
    EXPECT_EQ(outcome.status, row.status);
    EXPECT_EQ(OutcomeKindName(outcome.kind), OutcomeKindName(row.kind));
    EXPECT_EQ(outcome.error, row.error);
    EXPECT_EQ(outcome.toolLine, row.toolLine);
    std::vector<u16> shown;
    for (const auto& box : app.presenter.Shown()) shown.push_back(box.text);
    EXPECT_EQ(shown, row.boxes);
    if (row.lastPause >= 0) {
        ASSERT_FALSE(app.clock.Pauses().empty());
        EXPECT_EQ(app.clock.Pauses().back(), row.lastPause);
    }
    if (row.status != SetupCanceled) {
        EXPECT_EQ(app->engine.m_setupStatus, row.status);
        EXPECT_EQ(progress.CloseRequests(), 1);
    }
}

const u16 kGone = u"The USB stick was removed or stopped responding.";
using D = FakeDisks;
// clang-format off
const StickOutcomeRow kStickOutcomes[] = {
    {"complete", [](auto&, auto&, auto&, auto&) {}, SetupComplete, OutcomeKind::None, 0, {}},
    {"canceled before it began", [](D&, TestApp& app, auto&, auto&) { app->engine.m_workerStop.request_stop(); },
     SetupCanceled, OutcomeKind::Canceled, 0, {}},
    {"not allowed to unmount", [](D& d, auto&, auto&, auto&) { d.mountError = EACCES; },
     SetupError, OutcomeKind::Refused, EACCES, {u"Permission denied"}},
    {"not allowed to write the disk", [](D& d, auto&, auto& image, auto&) { WholeRun(image); d.openError = EPERM; },
     SetupError, OutcomeKind::Refused, EPERM, {u"Operation not permitted"}},
    {"the formatter fails",
     [](D& d, TestApp& app, auto& image, auto& dir) { WholeRun(image); d.openError = EBUSY; FailingFormatter(app, dir); },
     SetupError, OutcomeKind::ToolFailed, EIO, {u"Device or resource busy", u"mkfs.fat: no room for the FAT"},
     "mkfs.fat: no room for the FAT"},
    {"pulled before the flush", [](D& d, auto&, auto&, auto&) { d.flushError = EIO; d.probeErrors = {ENODEV}; },
     SetupError, OutcomeKind::StickGone, EIO, {kGone}},
    {"the read-back cannot drop the cache", [](D& d, auto&, auto&, auto&) { d.dropError = EINVAL; },
     SetupError, OutcomeKind::Verification, 0, {u"Invalid argument"}},
    {"no longer listed", [](D& d, auto&, auto&, auto&) { d.disks.clear(); },
     SetupError, OutcomeKind::StickMissing, ENODEV, {u"USB Stick not found"}},
    {"a boot file cannot be copied",
     [](auto&, auto&, auto&, const std::string& dir) { fs::remove(fs::path(dir) / "inst/systemd-boot/usb.conf"); },
     SetupError, OutcomeKind::WriteError, ENOENT, {u"No such file or directory"}, "", 500},
    {"its volume never shows", [](D& d, auto&, auto&, auto&) { d.volumes.clear(); d.openError = EBUSY; },
     SetupError, OutcomeKind::StickMissing, ENODEV, {u"Device or resource busy", u"No such device"}},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Rows, StickOutcomes, ::testing::ValuesIn(kStickOutcomes),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             }
                             return name;
                         });

}  // namespace
}  // namespace flintmere::testing
