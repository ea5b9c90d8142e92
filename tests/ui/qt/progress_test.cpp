// The progress dialog with a real worker thread and a real event loop: the
// worker's synchronous calls, Cancel, Escape and the close box.
#include <gtest/gtest.h>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "support/fakes.h"
#include "support/qt/qt_app.h"
#include "ui/qt/progress_widget.h"

namespace flintmere::testing {
namespace {

using namespace std::chrono_literals;

// Ends the test program if a run hangs, instead of waiting for the suite's timeout.
class Watchdog {
  public:
    explicit Watchdog(std::chrono::seconds limit)
        : thread_([this, limit](std::stop_token stop) {
              const auto end = std::chrono::steady_clock::now() + limit;
              while (!stop.stop_requested()) {
                  if (std::chrono::steady_clock::now() > end) {
                      std::fprintf(stderr, "progress dialog run hung\n");
                      std::abort();
                  }
                  std::this_thread::sleep_for(50ms);
              }
          }) {}

  private:
    std::jthread thread_;
};

// True while a process whose command line holds `marker` exists.
bool ProcessRuns(const std::string& marker) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string cmdline = ReadFileBytes(entry.path().string() + "/cmdline");
        for (char& c : cmdline) c = c == '\0' ? ' ' : c;
        if (cmdline.find(marker) != std::string::npos) return true;
    }
    return false;
}

class QtProgress : public ::testing::Test {
  protected:
    QtProgress() : dialog(nullptr) {
        app->engine.m_pProgressDlg = &dialog;
        // Every position the bar shows, with the action text shown with it.
        QObject::connect(dialog.Bar(), &QProgressBar::valueChanged, [this](int value) {
            shown.emplace_back(value, dialog.ActionText()->text().toStdString());
            if (!dialog.isVisible()) shownWhileHidden.push_back(value);
        });
    }
    ~QtProgress() override { app->engine.CancelWorker(); }

    // Runs `whenShown` once the dialog is on screen, from its event loop.
    void WhenShown(std::function<void()> whenShown) {
        QTimer::singleShot(0, [this, whenShown] {
            ASSERT_TRUE(dialog.isVisible());
            whenShown();
        });
    }

    QApplication& qt = EnsureQtApp();
    TestApp app;
    ui::qt::ProgressWidget dialog;
    std::vector<std::pair<int, std::string>> shown;
    std::vector<int> shownWhileHidden;
};

TEST_F(QtProgress, PositionsAndActionsArriveInOrderAndTheWorkerClosesIt) {
    Watchdog watchdog(30s);
    std::vector<int> readBack;
    EXPECT_FALSE(dialog.IsReady()) << "ready only once the window exists";
    ASSERT_TRUE(app->engine.StartWorker([&] {
        app->engine.WaitProgressReady();
        for (int step = 1; step <= 5; ++step) {
            app->engine.SetProgressAction(FormatW(u"Step %d\r\nfile%d.bin", step, step));
            app->engine.SetProgressPos(step * 20);
            int position = -1;
            app->engine.GetProgressPos(position);
            readBack.push_back(position);
        }
        app->engine.m_setupStatus = SetupComplete;
        app->engine.CloseProgress();
        return 1;
    }));
    dialog.Run(app->engine);

    EXPECT_TRUE(shownWhileHidden.empty()) << "the worker reported before the window existed";
    EXPECT_EQ(dialog.Bar()->minimum(), 0);
    EXPECT_EQ(dialog.Bar()->maximum(), 100);
    const std::vector<std::pair<int, std::string>> expected = {{20, "Step 1\nfile1.bin"},
                                                               {40, "Step 2\nfile2.bin"},
                                                               {60, "Step 3\nfile3.bin"},
                                                               {80, "Step 4\nfile4.bin"},
                                                               {100, "Step 5\nfile5.bin"}};
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(readBack, (std::vector<int>{20, 40, 60, 80, 100}));
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_FALSE(app->engine.WorkerRunning());
    EXPECT_EQ(app->engine.m_setupStatus.load(), SetupComplete);
}

// The worker floods the dialog with synchronous calls; Cancel must not wait
// for a worker that waits for the dialog.
TEST_F(QtProgress, CancelWhileTheWorkerWaitsForTheDialogNeitherDeadlocks) {
    Watchdog watchdog(30s);
    std::atomic<int> calls{0};
    ASSERT_TRUE(app->engine.StartWorker([&] {
        app->engine.WaitProgressReady();
        while (!app->engine.StopRequested()) {
            app->engine.SetProgressPos(calls % 100);
            app->engine.SetProgressAction(u"Copying files...");
            ++calls;
        }
        return 0;
    }));
    WhenShown([&] {
        QTimer::singleShot(200, [&] {
            ASSERT_GT(calls.load(), 0);
            QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
        });
    });
    dialog.Run(app->engine);
    EXPECT_FALSE(app->engine.WorkerRunning());
    EXPECT_EQ(app->engine.m_setupStatus.load(), SetupCanceled);
}

TEST_F(QtProgress, CancelDuringAToolRunEndsTheTool) {
    Watchdog watchdog(60s);
    const std::string marker = "61.2345";
    std::atomic<bool> toolReturned{false};
    ASSERT_TRUE(app->engine.StartWorker([&] {
        app->engine.WaitProgressReady();
        app->engine.SetProgressAction(u"Creating the FAT32 filesystem...");
        app->engine.Process(u"sleep", {"/bin/sleep", marker}, false);
        toolReturned = true;
        return 0;
    }));
    WhenShown([&] {
        auto poll = std::make_shared<QTimer>();
        QObject::connect(poll.get(), &QTimer::timeout, [&, poll] {
            if (!ProcessRuns(marker)) return;
            poll->stop();
            QTest::keyClick(&dialog, Qt::Key_Escape);
        });
        poll->start(20);
    });
    const auto start = std::chrono::steady_clock::now();
    dialog.Run(app->engine);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
    EXPECT_TRUE(toolReturned);
    EXPECT_FALSE(app->engine.WorkerRunning());
    EXPECT_FALSE(ProcessRuns(marker)) << "the tool outlived the cancelled run";
    EXPECT_EQ(app->engine.m_setupStatus.load(), SetupCanceled);
}

TEST_F(QtProgress, CloseBoxAfterTheWorkerEndedKeepsTheOutcome) {
    Watchdog watchdog(30s);
    std::atomic<bool> ended{false};
    ASSERT_TRUE(app->engine.StartWorker([&] {
        app->engine.WaitProgressReady();
        app->engine.SetProgressPos(100);
        app->engine.m_setupStatus = SetupBlocked;
        ended = true;
        return 0;
    }));
    WhenShown([&] {
        auto poll = std::make_shared<QTimer>();
        QObject::connect(poll.get(), &QTimer::timeout, [&, poll] {
            if (!ended || app->engine.WorkerRunning()) return;
            poll->stop();
            dialog.close();
        });
        poll->start(10);
    });
    dialog.Run(app->engine);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(app->engine.m_setupStatus.load(), SetupBlocked);
}

TEST_F(QtProgress, CloseBoxWhileTheWorkerRunsStopsItLikeCancel) {
    Watchdog watchdog(30s);
    ASSERT_TRUE(app->engine.StartWorker([&] {
        app->engine.WaitProgressReady();
        while (app->engine.Pause(0)) std::this_thread::sleep_for(1ms);
        return 0;
    }));
    WhenShown([&] { QTimer::singleShot(50, [&] { dialog.close(); }); });
    dialog.Run(app->engine);
    EXPECT_FALSE(app->engine.WorkerRunning());
    EXPECT_EQ(app->engine.m_setupStatus.load(), SetupCanceled);
}

}  // namespace
}  // namespace flintmere::testing
