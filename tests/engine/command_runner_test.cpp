#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>

#include "platform/unique_fd.h"
#include "support/fakes.h"
#include "support/recording_progress.h"

namespace flintmere::testing {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

// The messages of the log, without their time stamps. A record starts with
// "[<19 characters>] " at the start of the file or after "\r\n"; output
// chunks may hold line breaks of their own.
std::vector<std::string> LogMessages(const std::string& path) {
    const std::string log = ReadFileBytes(path);
    std::vector<size_t> starts;
    for (size_t pos = 0; pos < log.size();) {
        starts.push_back(pos);
        size_t next = log.find("\r\n[", pos);
        while (next != std::string::npos &&
               (next + 23 > log.size() || log.compare(next + 22, 2, "] ") != 0)) {
            next = log.find("\r\n[", next + 1);
        }
        pos = next == std::string::npos ? log.size() : next + 2;
    }
    std::vector<std::string> messages;
    for (size_t i = 0; i < starts.size(); ++i) {
        size_t end = i + 1 < starts.size() ? starts[i + 1] - 2 : log.size() - 2;
        messages.push_back(log.substr(starts[i] + 22, end - starts[i] - 22));
    }
    return messages;
}

class CommandRunnerTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(app->services.m_logFile.Open(dir / "run.log")); }

    // Writes an executable shell script and returns its path.
    std::string Script(const std::string& name, const std::string& body) {
        std::string path = dir / name;
        WriteFileBytes(path, "#!/bin/sh\n" + body + "\n");
        ::chmod(path.c_str(), 0755);
        return path;
    }
    std::vector<std::string> Log() { return LogMessages(dir / "run.log"); }
    bool LogHas(const std::string& message) {
        for (const std::string& m : Log()) {
            if (m == message) return true;
        }
        return false;
    }

    TempDir dir;
    TestApp app;
};

TEST_F(CommandRunnerTest, OutputExitCodeAndProgress) {
    struct Case {
        const char* name;
        std::string body;
        bool trackProgress;
        std::optional<int> barAt;  // a progress dialog whose bar stands here
        bool result;
        std::vector<std::string> afterRunning;  // log lines after "running..."
        std::vector<int> positions;
        int baseAfter;                 // m_progressBase after the run (7 before it)
        const char* reason = nullptr;  // the line a failure box would show
    } cases[] = {
        {"silent success",
         "exit 0",
         false,
         std::nullopt,
         true,
         {"Process(): closed", "Process(): done!"},
         {},
         7},
        {"percentage from base 60",
         "printf ' 45.31%% done, estimate 3s\\n'",
         true,
         60,
         true,
         {"Process(): output \" 45.31% done, estimate 3s\"", "Process(): closed",
          "Process(): done!"},
         {78},
         60},
        {"text before the percentage",
         "printf 'Using file\\n 45.31%% done\\n'",
         true,
         20,
         true,
         {"Process(): output \"Using file\\n 45.31% done\"", "Process(): closed",
          "Process(): done!"},
         {20},
         20},
        {"percentage at the chunk start",
         "printf '%% done 12\\n'",
         true,
         60,
         true,
         {"Process(): output \"% done 12\"", "Process(): closed", "Process(): done!"},
         {},
         60},
        {"no progress tracking",
         "printf ' 50%% done\\n'",
         false,
         60,
         true,
         {"Process(): output \" 50% done\"", "Process(): closed", "Process(): done!"},
         {},
         7},
        {"tracking without a dialog",
         "printf ' 50%% done\\n'",
         true,
         std::nullopt,
         true,
         {"Process(): output \" 50% done\"", "Process(): closed", "Process(): done!"},
         {},
         7},
        {"last character of an open line",
         "printf 'abc'",
         false,
         std::nullopt,
         true,
         {"Process(): output \"ab\"", "Process(): closed", "Process(): done!"},
         {},
         7},
        {"stderr merged, stdin answered",
         "read line; printf 'got[%s]\\n' \"$line\" >&2",
         false,
         std::nullopt,
         true,
         {"Process(): output \"got[\\r]\"", "Process(): closed", "Process(): done!"},
         {},
         7},
        {"exit 1 after output",
         "echo partial; exit 1",
         false,
         std::nullopt,
         false,
         {"Process(): output \"partial\"", "Process(): closed",
          "Process(): Error: command failed (1)", "Process(): done!"},
         {},
         7},
        {"error line before a banner",
         "printf 'tool: Warning: x\\ntool: unable to sync: Input/output error\\ntool 4.2\\n'; "
         "exit 1",
         false,
         std::nullopt,
         false,
         {"Process(): output \"tool: Warning: x\\ntool: unable to sync: Input/output error\\ntool "
          "4.2\"",
          "Process(): closed", "Process(): Error: command failed (1)", "Process(): done!"},
         {},
         7,
         "tool: unable to sync: Input/output error"},
        {"killed by a signal",
         "kill -9 $$",
         false,
         std::nullopt,
         false,
         {"Process(): closed", "Process(): Error: command failed (137)", "Process(): done!"},
         {},
         7},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Script("tool" + std::to_string(n++), c.body);
        RecordingProgress progress;
        if (c.barAt) {
            progress.SetCurrentPos(*c.barAt);
            app->engine.m_pProgressDlg = &progress;
        } else {
            app->engine.m_pProgressDlg = nullptr;
        }
        app->engine.m_progressBase = 7;
        const size_t before = Log().size();

        const u16 commandLine = FromPath(path) + u" -x";
        EXPECT_EQ(app->engine.Process(commandLine, {path, "-x"}, c.trackProgress), c.result);

        std::vector<std::string> lines = Log();
        lines.erase(lines.begin(), lines.begin() + static_cast<long>(before));
        std::vector<std::string> expected = {"Process(): starting " + path + " -x",
                                             "Process(): running..."};
        expected.insert(expected.end(), c.afterRunning.begin(), c.afterRunning.end());
        EXPECT_EQ(lines, expected);
        EXPECT_EQ(progress.Positions(), c.positions);
        EXPECT_EQ(app->engine.m_progressBase, c.baseAfter);
        if (c.reason) {
            EXPECT_EQ(app->engine.m_lastToolLine, c.reason);
        }
        EXPECT_TRUE(app.presenter.Shown().empty());
    }
}

TEST_F(CommandRunnerTest, PercentagesMoveTheBarWithTheIntegerFormula) {
    struct Case {
        std::string line;
        int base;
        int position;
    } cases[] = {
        {" 45.31% done", 60, 78}, {"100.00% done", 60, 100}, {"  9.99% done", 0, 9},
        {"\t33% done", 10, 39},   {"-5% done", 50, 48},      {"+1% done", 1, 1},
        {"999% done", 50, 100},   {"abc 5% done", 30, 30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const std::string path = Script("pct", "printf '%s\\n' '" + c.line + "'");
        RecordingProgress progress;
        progress.SetCurrentPos(c.base);
        app->engine.m_pProgressDlg = &progress;
        ASSERT_TRUE(app->engine.Process(FromPath(path), {path}, true));
        EXPECT_EQ(progress.Positions(), std::vector<int>{c.position});
    }
}

TEST_F(CommandRunnerTest, AProgramThatCannotStartShowsTheCommandLine) {
    const u16 commandLine = u"/nonexistent/mkisofs -o out.iso";
    EXPECT_FALSE(app->engine.Process(commandLine, {"/nonexistent/mkisofs", "-o", "out.iso"}, true));
    const std::string text = AppServices::SystemErrorText(ENOENT);
    EXPECT_EQ(Log(), (std::vector<std::string>{
                         "Process(): starting /nonexistent/mkisofs -o out.iso",
                         "Process(): error starting process",
                         "DisplayErrorMessageStr(): /nonexistent/mkisofs -o out.iso: " + text}));
    auto shown = app.presenter.Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, commandLine);
    EXPECT_EQ(shown[0].text, Utf8ToUtf16(text));
    EXPECT_EQ(shown[0].style, 0x12030u);
}

TEST_F(CommandRunnerTest, OutputIsReadToItsEnd) {
    // Much more than a pipe holds, ending as the tool exits; and a line a
    // child of the tool writes after the tool itself has ended.
    const std::string path = Script("chatty",
                                    "i=0; while [ $i -lt 3000 ]; do echo \"line $i of some "
                                    "tool output\"; i=$((i+1)); done\n"
                                    "(sleep 0.1; echo late-line) &\n"
                                    "echo END-OF-TOOL\nexit 0");
    ASSERT_TRUE(app->engine.Process(FromPath(path), {path}, false));
    std::string all;
    for (const std::string& m : Log()) {
        const std::string prefix = "Process(): output \"";
        if (m.rfind(prefix, 0) != 0) continue;
        // One read each; the log writes its line breaks escaped.
        std::string chunk = m.substr(prefix.size(), m.size() - prefix.size() - 1);
        for (std::size_t at; (at = chunk.find("\\n")) != std::string::npos;) {
            chunk.replace(at, 2, "\n");
        }
        EXPECT_LE(chunk.size(), 4095u);
        all += chunk;
    }
    EXPECT_NE(all.find("line 2999 of some"), std::string::npos);
    EXPECT_NE(all.find("END-OF-TOOL"), std::string::npos);
    EXPECT_NE(all.find("late-line"), std::string::npos);
    EXPECT_EQ(Log().back(), "Process(): done!");
}

TEST_F(CommandRunnerTest, AHelperLeftHoldingTheOutputDoesNotHoldTheRunNorOutliveIt) {
    const std::string helperFile = dir / "helper.pid";
    const std::string path =
        Script("leaves-helper", "sleep 30 &\necho $! > " + helperFile + "\necho tool-done\nexit 0");
    const auto start = SteadyClock::now();
    EXPECT_TRUE(app->engine.Process(FromPath(path), {path}, false));
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start);
    const pid_t helper = std::stoi(ReadFileBytes(helperFile));
    // Ended with the tool's group (a signal takes a moment to land); an
    // orphan is reaped by init, so a zombie counts as ended.
    auto running = [helper] {
        const std::string stat = ReadFileBytes("/proc/" + std::to_string(helper) + "/stat");
        return !stat.empty() && stat.find(") Z ") == std::string::npos;
    };
    for (int i = 0; i < 100 && running(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const bool alive = running();
    if (alive) ::kill(helper, SIGKILL);
    EXPECT_FALSE(alive) << "the helper outlived the tool";
    EXPECT_LT(elapsed.count(), 5000);
    EXPECT_TRUE(LogHas("Process(): output \"tool-done\""));
    EXPECT_EQ(Log().back(), "Process(): done!");
}

TEST_F(CommandRunnerTest, TheToolInheritsNoOtherDescriptor) {
    // Opened the way a library might: without close-on-exec.
    UniqueFd stray(::open("/dev/null", O_RDONLY));
    ASSERT_TRUE(stray.Valid());
    const std::string path =
        Script("fds", "if [ -e /proc/$$/fd/$1 ]; then echo leaked; else echo clean; fi");
    ASSERT_TRUE(app->engine.Process(u"fds", {path, std::to_string(stray.Get())}, false));
    EXPECT_TRUE(LogHas("Process(): output \"clean\""));
}

// True when `pid` names no process that is still running (gone, or a
// zombie waiting for its reaper).
bool NotRunning(pid_t pid) {
    std::string stat = ReadFileBytes("/proc/" + std::to_string(pid) + "/stat");
    if (stat.empty()) return true;
    size_t paren = stat.rfind(')');
    return paren != std::string::npos && paren + 2 < stat.size() &&
           (stat[paren + 2] == 'Z' || stat[paren + 2] == 'X');
}

bool Eventually(const std::function<bool()>& done, std::chrono::milliseconds limit = 2s) {
    auto until = SteadyClock::now() + limit;
    while (!done()) {
        if (SteadyClock::now() > until) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

TEST_F(CommandRunnerTest, CancelEndsTheToolAndWhatItStarted) {
    struct Case {
        const char* name;
        std::string prelude;
        long long limitMs;
    } cases[] = {
        {"tool ends on SIGTERM", "", 200},
        {"tool ignores SIGTERM", "trap '' TERM", 500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string childFile = dir / "child.pid";
        const std::string grandchildFile = dir / "grandchild.pid";
        ::unlink(childFile.c_str());
        ::unlink(grandchildFile.c_str());
        const std::string path =
            Script("slow", c.prelude + "\nsleep 30 &\necho $! > " + grandchildFile +
                               "\necho $$ > " + childFile + "\necho started-" + c.name + "\nwait");
        RecordingProgress progress;
        app->engine.m_pProgressDlg = &progress;
        std::atomic<int> result{-1};
        ASSERT_TRUE(app->engine.StartWorker([&] {
            result = app->engine.Process(FromPath(path), {path}, true) ? 1 : 0;
            return 0;
        }));
        ASSERT_TRUE(Eventually(
            [&] { return LogHas(std::string("Process(): output \"started-") + c.name + "\""); }));
        const pid_t child = std::stoi(ReadFileBytes(childFile));
        const pid_t grandchild = std::stoi(ReadFileBytes(grandchildFile));

        auto start = SteadyClock::now();
        app->engine.CancelSetup();
        auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start)
                .count();
        EXPECT_LT(elapsed, c.limitMs);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(app->engine.m_setupStatus, SetupCanceled);
        // The tool was reaped by the runner, not left as a zombie.
        EXPECT_EQ(::waitpid(child, nullptr, WNOHANG), -1);
        EXPECT_TRUE(NotRunning(child));
        EXPECT_TRUE(Eventually([&] { return NotRunning(grandchild); }, 100ms));
        EXPECT_TRUE(LogHas("Process(): canceled"));
        EXPECT_EQ(Log().back(), "Process(): done!");
        EXPECT_TRUE(app.presenter.Shown().empty());
    }
}

}  // namespace
}  // namespace flintmere::testing
