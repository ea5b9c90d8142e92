// Cancel during every step of an ISO build: the worker ends quickly, the run
// reports SetupCanceled and no tool process outlives it.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "support/background_program.h"
#include "support/fakes.h"
#include "support/install_folder.h"
#include "support/recording_progress.h"
#include "support/run_program.h"

namespace flintmere::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A mastering tool that reports progress and then takes its time, with a
// child of its own, as a real one on a large tree does.
constexpr char kSlowTool[] = R"(#!/bin/sh
if [ "$1" = child ]; then sleep 30; exit 0; fi
echo " 10.00% done"
"$0" child &
"$0" child
)";

// Tells the test thread when the worker announces a given step.
class StepWatcher final : public ProgressDialog {
  public:
    explicit StepWatcher(u16 step) : step_(std::move(step)) {}
    bool IsReady() override { return true; }
    void SetPos(int position) override { pos_ = position; }
    int GetPos() override { return pos_; }
    void SetAction(const u16& text) override {
        std::lock_guard lock(mutex_);
        if (text == step_) {
            reached_ = true;
            cv_.notify_all();
        }
    }
    void RequestClose() override {}
    bool WaitForStep(std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, limit, [this] { return reached_; });
    }

  private:
    u16 step_;
    std::atomic<int> pos_{0};
    std::mutex mutex_;
    std::condition_variable cv_;
    bool reached_ = false;
};

// The tool and its children run with the tool's path on their command line
// (zombies have none, and do not count as running).
bool ToolStillRunning(const std::string& inst) {
    const std::string tool = inst + "/syslinux/mkisofs";
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string cmdline = ReadFileBytes(entry.path().string() + "/cmdline");
        if (cmdline.find(tool) != std::string::npos) return true;
    }
    return false;
}

class IsoCancel : public ::testing::Test {
  protected:
    void SetUp() override {
        inst = dir / "inst";
        FLINTMERE_REQUIRE_INSTALL_FOLDER(inst, false);
        WriteFileBytes(inst + "/syslinux/mkisofs", kSlowTool);
        fs::permissions(inst + "/syslinux/mkisofs", fs::perms::owner_all);
        fs::create_directories(dir / "tmp");
    }

    void Prepare(TestApp& app) {
        app.env.tempFolder = FromPath(dir / "tmp/");
        app->record.m_exeFolder = FromPath(inst);
        app->record.m_distFolder = FromPath(inst + "/kx/");
        app->record.m_isoPath = FromPath(dir / "out.iso");
        app->record.ResetConfiguration(true);
        app->record.m_serverName = u"vm1";
        app->record.m_lanAddress = u"192.0.2.10";
        app->record.m_lanNetmask = u"255.255.255.0";
        app->record.m_hwType = HwVirtual250;
        app->record.m_isoMedia = 1;
        app->record.m_configSource = ConfigGenerateNodeFile;
        app->record.m_companyName = u"ACME";
        app->record.m_productName = u"Branch SBC";
        app->record.m_tla = u"Licensed to ACME";
        // Pauses really wait a little, so that a cancel can land inside one.
        app.clock.SetRealDelay(20ms);
    }

    TempDir dir;
    std::string inst;
};

TEST_F(IsoCancel, EveryStepEndsQuicklyAndLeavesNoTool) {
    // The steps of a run, as its progress dialog sees them.
    std::vector<u16> steps;
    {
        TestApp app;
        Prepare(app);
        WriteFileBytes(inst + "/syslinux/mkisofs", "#!/bin/sh\nexec genisoimage -quiet \"$@\"\n");
        RecordingProgress progress;
        app->engine.m_pProgressDlg = &progress;
        ASSERT_TRUE(app->engine.StartWorker([&] { return app->engine.SetupISO(); }));
        app->engine.WaitWorker();
        for (const u16& action : progress.Actions()) {
            if (std::find(steps.begin(), steps.end(), action) == steps.end()) {
                steps.push_back(action);
            }
        }
        WriteFileBytes(inst + "/syslinux/mkisofs", kSlowTool);
        ASSERT_TRUE(fs::remove(dir / "out.iso"));
    }
    ASSERT_GE(steps.size(), 8u);
    ASSERT_EQ(steps.back(), u"Complete");
    steps.pop_back();  // "Complete" comes after the last stop point

    for (const u16& step : steps) {
        SCOPED_TRACE(Utf16ToUtf8(step));
        TestApp app;
        Prepare(app);
        StepWatcher watcher(step);
        app->engine.m_pProgressDlg = &watcher;
        ASSERT_TRUE(app->engine.StartWorker([&] { return app->engine.SetupISO(); }));
        ASSERT_TRUE(watcher.WaitForStep(20s));

        const auto asked = std::chrono::steady_clock::now();
        app->engine.CancelSetup();
        const auto took = std::chrono::steady_clock::now() - asked;

        EXPECT_FALSE(app->engine.WorkerRunning());
        EXPECT_LT(took, 200ms);
        EXPECT_EQ(app->engine.m_setupStatus, SetupCanceled);
        // The tool's group was killed; a busy kernel may take a moment to
        // tear down the orphaned child, which nobody waits for.
        EXPECT_TRUE(WaitFor([&] { return !ToolStillRunning(inst); }, 1s));
        EXPECT_FALSE(fs::exists(dir / "out.iso"));
        for (const auto& entry : fs::directory_iterator(dir / "tmp")) {
            EXPECT_FALSE(entry.is_directory()) << "the tree goes with the cancel";
            fs::remove_all(entry.path());
        }
    }
}

}  // namespace
}  // namespace flintmere::testing
