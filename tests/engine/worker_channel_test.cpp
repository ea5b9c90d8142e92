#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "support/fakes.h"
#include "support/recording_progress.h"

namespace flintmere::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Spins until `done` holds or two seconds have passed.
bool Eventually(const std::function<bool()>& done) {
    auto until = Clock::now() + 2s;
    while (!done()) {
        if (Clock::now() > until) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

TEST(WorkerChannel, WithoutADialogEveryCallIsANoOp) {
    TestApp app;
    int position = 37;
    app->engine.WaitProgressReady();
    app->engine.SetProgressPos(50);
    app->engine.GetProgressPos(position);
    app->engine.SetProgressAction(u"Copying files...");
    app->engine.CloseProgress();
    EXPECT_EQ(position, 37);
    EXPECT_TRUE(app.clock.Pauses().empty());
    EXPECT_TRUE(app.presenter.Shown().empty());
}

TEST(WorkerChannel, WaitProgressReadyPollsIn100MsPauses) {
    struct Case {
        int readyAtCheck;  // 0: ready from the start
        std::vector<int> pauses;
    } cases[] = {
        {0, {}},
        {1, {}},
        {4, {100, 100, 100}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.readyAtCheck);
        TestApp app;
        RecordingProgress progress(false);
        progress.BecomeReadyAfter(c.readyAtCheck);
        app->engine.m_pProgressDlg = &progress;
        app->engine.WaitProgressReady();
        app->engine.SetProgressPos(5);
        EXPECT_EQ(app.clock.Pauses(), c.pauses);
        EXPECT_EQ(progress.ReadyChecks(), static_cast<int>(c.pauses.size()) + 1);
        EXPECT_EQ(progress.Positions(), std::vector<int>{5});
    }
}

// A worker in the shape of the setup routines: it reports, then works in
// pauses until it is stopped or done.
int BusyWorker(AppParts& app, int steps) {
    app.engine.m_setupStatus = SetupError;
    app.engine.WaitProgressReady();
    app.engine.SetProgressAction(u"Working");
    for (int i = 0; i < steps; ++i) {
        if (!app.engine.Pause(1000)) return 0;
        app.engine.SetProgressPos(i);
    }
    app.engine.m_setupStatus = SetupComplete;
    app.engine.CloseProgress();
    app.engine.Pause(500);
    return 1;
}

TEST(WorkerChannel, CancelStopsTheWorkerQuicklyAndMarksTheRunCanceled) {
    struct Case {
        const char* name;
        bool closeBox;
    } cases[] = {{"cancel button", false}, {"close box", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestApp app;
        app.clock.SetRealDelay(10s);
        RecordingProgress progress;
        app->engine.m_pProgressDlg = &progress;
        ASSERT_TRUE(app->engine.StartWorker([&] { return BusyWorker(*app, 100); }));
        ASSERT_TRUE(Eventually([&] { return progress.Actions().size() == 1; }));
        ASSERT_TRUE(app->engine.WorkerRunning());

        auto start = Clock::now();
        if (c.closeBox) {
            app->engine.CloseSetup();
        } else {
            app->engine.CancelSetup();
        }
        EXPECT_LT(MsSince(start), 200);
        EXPECT_FALSE(app->engine.WorkerRunning());
        EXPECT_FALSE(app->engine.m_hWorkerThread.joinable());
        EXPECT_EQ(app->engine.m_setupStatus, SetupCanceled);
        // The stopped worker did not report anything after the first action.
        EXPECT_EQ(progress.Events().size(), 1u);
    }
}

TEST(WorkerChannel, CancelAfterTheWorkerAskedToCloseKeepsItsOutcome) {
    struct Case {
        const char* name;
        int steps;  // -1: fails at once; -2: its result is in place, the close still to come
        int status;
    } cases[] = {{"completed", 2, SetupComplete},
                 {"failed", -1, SetupError},
                 {"result in place", -2, SetupComplete}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestApp app;
        app.clock.SetRealDelay(50ms);
        RecordingProgress progress;
        app->engine.m_pProgressDlg = &progress;
        ASSERT_TRUE(app->engine.StartWorker([&] {
            if (c.steps == -1) {
                app->engine.SetProgressAction(u"Failing");
                app->engine.CloseProgress();
                app->engine.Pause(500);
                return 0;
            }
            if (c.steps == -2) {
                app->engine.m_setupStatus = SetupComplete;
                app->engine.SetProgressAction(u"Tidying up");
                app->engine.Pause(5000);
                return 1;
            }
            return BusyWorker(*app, c.steps);
        }));
        ASSERT_TRUE(Eventually([&] {
            const std::vector<u16> actions = progress.Actions();
            return progress.CloseRequests() == 1 ||
                   (!actions.empty() && actions.back() == u"Tidying up");
        }));
        app->engine.CancelSetup();
        EXPECT_FALSE(app->engine.WorkerRunning());
        EXPECT_EQ(app->engine.m_setupStatus, c.status);
    }
}

TEST(WorkerChannel, CloseBoxAfterTheWorkerEndedLeavesTheStatus) {
    TestApp app;
    RecordingProgress progress;
    app->engine.m_pProgressDlg = &progress;
    ASSERT_TRUE(app->engine.StartWorker([&] {
        app->engine.m_setupStatus = SetupBlocked;
        return 0;
    }));
    ASSERT_TRUE(Eventually([&] { return !app->engine.WorkerRunning(); }));
    app->engine.CloseSetup();
    EXPECT_EQ(app->engine.m_setupStatus, SetupBlocked);
}

// A dialog whose synchronous calls run on the "UI thread", like the Qt
// dialog's blocking queued calls: the worker waits until the UI thread has
// served them.
class UiThreadDialog final : public ProgressDialog {
  public:
    bool IsReady() override { return true; }
    void SetPos(int position) override {
        RunOnUi([this, position] { position_ = position; });
    }
    int GetPos() override {
        int p = 0;
        RunOnUi([&] { p = position_; });
        return p;
    }
    void SetAction(const u16&) override {}
    void RequestClose() override {}

    // What the UI thread does between events.
    void Serve() {
        std::unique_lock lock(mutex_);
        while (!tasks_.empty()) {
            auto task = std::move(tasks_.front());
            tasks_.pop_front();
            task();
            ++served_;
        }
        cv_.notify_all();
    }
    int Served() {
        std::lock_guard lock(mutex_);
        return served_;
    }

  private:
    void RunOnUi(std::function<void()> task) {
        std::unique_lock lock(mutex_);
        int ticket = served_ + static_cast<int>(tasks_.size()) + 1;
        tasks_.push_back(std::move(task));
        cv_.wait(lock, [&] { return served_ >= ticket; });
    }
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> tasks_;
    int served_ = 0;
    int position_ = 0;
};

TEST(WorkerChannel, CancelKeepsServingTheWorkersSynchronousCalls) {
    TestApp app;
    app.clock.SetRealDelay(1ms);
    UiThreadDialog dialog;
    app->engine.m_pProgressDlg = &dialog;
    ASSERT_TRUE(app->engine.StartWorker([&] {
        for (int i = 0;; i = (i + 1) % 100) {
            app->engine.SetProgressPos(i);
            if (!app->engine.Pause(1)) return 0;
        }
    }));
    ASSERT_TRUE(Eventually([&] {
        dialog.Serve();
        return dialog.Served() > 5;
    }));
    auto start = Clock::now();
    app->engine.CancelSetup([&] { dialog.Serve(); });
    EXPECT_LT(MsSince(start), 200);
    EXPECT_FALSE(app->engine.WorkerRunning());
    EXPECT_EQ(app->engine.m_setupStatus, SetupCanceled);
}

TEST(WorkerChannel, ANewWorkerStartsOnlyAfterThePreviousOneEnded) {
    TestApp app;
    app.clock.SetRealDelay(30ms);
    std::atomic<int> running{0};
    std::atomic<int> overlap{0};
    auto routine = [&] {
        if (++running > 1) ++overlap;
        app->engine.Pause(30);
        --running;
        return 1;
    };
    ASSERT_TRUE(app->engine.StartWorker(routine));
    ASSERT_TRUE(app->engine.StartWorker(routine));
    app->engine.WaitWorker();
    EXPECT_EQ(overlap, 0);
    EXPECT_EQ(app.clock.Pauses(), (std::vector<int>{30, 30}));
}

}  // namespace
}  // namespace flintmere::testing
