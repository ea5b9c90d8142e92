// ISO builds that run out of disk space: the tree's folder fills up during the
// distribution copy, or the image does not fit where it is to be written.
// Each must end as an error, remove its tree (a window run) and never hang.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <sstream>
#include <thread>

#include "support/fakes.h"
#include "support/install_folder.h"
#include "support/recording_presenter.h"
#include "support/recording_progress.h"
#include "support/run_program.h"
#include "support/small_tmpfs.h"

namespace flintmere::testing {
namespace {

namespace fs = std::filesystem;

// More than the small file system holds.
constexpr std::size_t kPayloadBytes = 12u << 20;
constexpr char kSmall[] = "8m";

std::vector<std::string> Folders(const std::string& parent, const std::string& prefix) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(parent, ec)) {
        const std::string name = e.path().filename().string();
        if (e.is_directory() && name.rfind(prefix, 0) == 0) out.push_back(e.path().string());
    }
    return out;
}

class IsoFullDisk : public ::testing::Test {
  public:  // the cases' arrange steps work on it
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a small tmpfs";
        inst = dir / "inst";
        FLINTMERE_REQUIRE_INSTALL_FOLDER(inst, false);
        // Sorted last, so the small files are copied before the disk fills.
        WriteFileBytes(inst + "/kx/zz_payload.bin", std::string(kPayloadBytes, '\x5a'));

        temp = dir / "tmp";
        fs::create_directories(temp);
        // The log stays on a roomy disk so that it can tell what happened.
        app.env.tempFolder = FromPath(temp + "/");
        app->services.OpenLog();
        app->record.m_exeFolder = FromPath(inst);
        app->record.m_distFolder = FromPath(inst + "/kx/");
        app->record.m_isoPath = FromPath(dir / "out.iso");
        app->record.ResetConfiguration(true);
        app->record.m_serverName = u"vm1";
        app->record.m_lanDisabled = 0;
        app->record.m_lanAddress = u"192.0.2.10";
        app->record.m_lanNetmask = u"255.255.255.0";
        app->record.m_hwType = HwVirtual250;
        app->record.m_isoMedia = 1;
        app->record.m_configSource = ConfigGenerateNodeFile;
        app->engine.m_pProgressDlg = &progress;
    }

    // SetupISO on the worker thread, given a bounded time to end.
    int RunBounded() {
        std::atomic<int> result{-1};
        if (!app->engine.StartWorker([this, &result] {
                result = app->engine.SetupISO();
                return result.load();
            })) {
            ADD_FAILURE() << "the worker could not be started";
            return -1;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (app->engine.WorkerRunning() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (app->engine.WorkerRunning()) {
            ADD_FAILURE() << "SetupISO did not end within 60 s";
            app->engine.CancelWorker();
        }
        app->engine.WaitWorker();
        return result;
    }

    std::string Log() { return ReadFileBytes(app->services.m_logFile.Path()); }

    TempDir dir;
    TestApp app;
    RecordingProgress progress;
    std::string inst, temp;
};

TEST_F(IsoFullDisk, TreeFolderFillsDuringTheDistributionCopy) {
    SmallTmpfs small(dir / "small", kSmall);
    if (!small.Mounted()) GTEST_SKIP() << small.Error();
    app.env.tempFolder = FromPath(small.Folder() + "/");

    EXPECT_EQ(RunBounded(), 0);
    EXPECT_EQ(app->engine.m_setupStatus, SetupError);
    const std::string log = Log();
    EXPECT_NE(log.find("CopyDirFiles(): file zz_payload.bin"), std::string::npos) << log;
    EXPECT_EQ(log.find("SetupISO(): isolinux.bin file"), std::string::npos)
        << "nothing after the failed copy";
    EXPECT_EQ(log.find("SetupISO(): creating ISO file"), std::string::npos);
    EXPECT_EQ(log.find("SetupISO(): done"), std::string::npos);

    // The copy engine's box, then the builder's, both with the system's text.
    const std::vector<ShownMessage> shown = app.presenter.Shown();
    ASSERT_EQ(shown.size(), 2u);
    for (const ShownMessage& m : shown) {
        EXPECT_EQ(m.caption, u"Error");
        EXPECT_EQ(ToPath(m.text), AppServices::SystemErrorText(ENOSPC));
        EXPECT_EQ(m.style, kMbWarningStyle);
    }
    EXPECT_EQ(progress.CloseRequests(), 1);

    // The window's run takes its tree with it: the full folder is free again.
    EXPECT_TRUE(fs::is_empty(small.Folder()));
    EXPECT_NE(log.find("SetupISO(): removed the temporary folder"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "out.iso"));
}

// A file the writers make (node.cfg, config.xml, branding) that the tree's
// folder cannot take: the writer says so, then one box per file, and the
// window's run ends as an error, before the image.
struct WriterFileCase {
    const char* name;
    int inodes;  // of the small file system; 0: tmpfs's own limit
    std::function<void(IsoFullDisk&, const std::string& folder)> arrange;
    const char* file;
    std::size_t boxes;
    const char* writerLine;  // on standard output
    const char* notInLog;
};

class IsoFullDiskWriters : public IsoFullDisk,
                           public ::testing::WithParamInterface<WriterFileCase> {};

TEST_P(IsoFullDiskWriters, FailTheWindowsRun) {
    const WriterFileCase& c = GetParam();
    SmallTmpfs small(dir / "small", kSmall, c.inodes);
    if (!small.Mounted()) GTEST_SKIP() << small.Error();
    app.env.tempFolder = FromPath(small.Folder() + "/");
    fs::remove(inst + "/kx/zz_payload.bin");
    c.arrange(*this, small.Folder());

    EXPECT_EQ(RunBounded(), 0);
    EXPECT_EQ(app->engine.m_setupStatus, SetupError)
        << "an image without its " << c.file << " is no success";
    EXPECT_NE(app.stdoutText.find(c.writerLine), std::string::npos) << app.stdoutText;
    const std::vector<ShownMessage> shown = app.presenter.Shown();
    ASSERT_EQ(shown.size(), c.boxes);
    EXPECT_TRUE(ToPath(shown[0].text)
                    .ends_with(std::string("/") + c.file +
                               " was not written in full: " + AppServices::SystemErrorText(ENOSPC)))
        << ToPath(shown[0].text);
    EXPECT_EQ(Log().find(c.notInLog), std::string::npos);
    EXPECT_EQ(Log().find("SetupISO(): done"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "out.iso"));
    EXPECT_TRUE(Folders(small.Folder(), "flintmere_").empty()) << "the tree is removed";
}

INSTANTIATE_TEST_SUITE_P(
    Files, IsoFullDiskWriters,
    ::testing::Values(
        // The folder fills up just as the branding files are written: one
        // box for each of the three texts.
        WriterFileCase{
            "Branding", 0,
            [](IsoFullDisk& t, const std::string& folder) {
                t.app->record.m_companyName = u"Example Telecom";
                t.app->record.m_productName = u"Edge";
                t.app->record.m_tla = u"EXT";
                t.progress.OnAction([folder](const u16& action) {
                    if (action == u"Copying Branding Company Name...") {
                        RunProgram({"dd", "if=/dev/zero", "of=" + folder + "/filler", "bs=64k"});
                    }
                });
            },
            "branding/companyName", 3, "Could not create file (error 28)",
            "SetupISO(): creating ISO file"},
        // Room for the tree's folder and nothing in it.
        WriterFileCase{"NodeCfg", 2, [](IsoFullDisk&, const std::string&) {}, "node.cfg", 1,
                       "Could not open file (error 28)", "SetupISO(): copying files"},
        WriterFileCase{"ConfigXml", 3,
                       [](IsoFullDisk& t, const std::string&) {
                           t.app->record.m_configSource = ConfigFromDatabase;
                           const std::string db = "<kestrelData/>";
                           t.app->record.m_dbFileData.assign(db.begin(), db.end());
                       },
                       "config.xml", 1, "Could not open file (error 28)",
                       "SetupISO(): copying files"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(IsoFullDisk, ImageDoesNotFitWhereItGoes) {
    SmallTmpfs small(dir / "small", kSmall);
    if (!small.Mounted()) GTEST_SKIP() << small.Error();
    const std::string image = small.Folder() + "/out.iso";
    app->record.m_isoPath = FromPath(image);

    EXPECT_EQ(RunBounded(), 0);
    EXPECT_EQ(app->engine.m_setupStatus, SetupError) << "a cut-off image is no success";
    const std::string log = Log();
    EXPECT_NE(log.find("SetupISO(): creating ISO file"), std::string::npos) << log;
    EXPECT_NE(log.find("Process(): Error: command failed"), std::string::npos) << log;
    EXPECT_EQ(log.find("SetupISO(): done"), std::string::npos);
    // The mastering tool was started; its own words are in the log, and the
    // builder shows no box of its own for a tool that failed.
    EXPECT_NE(log.find("No space left on device"), std::string::npos) << log;
    EXPECT_TRUE(app.presenter.Shown().empty());
    EXPECT_EQ(progress.CloseRequests(), 1);
    EXPECT_TRUE(Folders(temp, "flintmere_").empty()) << "the tree goes with a failed tool";
    EXPECT_FALSE(fs::exists(image)) << "a cut-off image does not stay under the image's name";
    EXPECT_NE(log.find("SetupISO(): removed the unfinished image " + image + "."),
              std::string::npos);
    EXPECT_TRUE(fs::is_empty(small.Folder())) << "nor under a name of its own";
}

TEST_F(IsoFullDisk, ImageTheToolNeverTouchedIsKept) {
    // An earlier image at the path stays when the tool fails before writing:
    // here it cannot even be started.
    const std::string image = dir / "out.iso";
    WriteFileBytes(image, "an earlier image");
    fs::remove(inst + "/syslinux/mkisofs");

    EXPECT_EQ(RunBounded(), 0);
    EXPECT_EQ(app->engine.m_setupStatus, SetupError);
    EXPECT_EQ(ReadFileBytes(image), "an earlier image");
    const std::vector<ShownMessage> shown = app.presenter.Shown();
    EXPECT_EQ(shown.size(), 1u) << "the runner's box for a tool that cannot start";
}

}  // namespace
}  // namespace flintmere::testing
