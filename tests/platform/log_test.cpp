#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

#include "platform/app_services.h"
#include "platform/log_file.h"
#include "support/fakes.h"
#include "support/recording_presenter.h"

namespace flintmere {
namespace {

using testing::FakeClock;
using testing::FakeSystemEnv;
using testing::ReadFileBytes;
using testing::TempDir;

constexpr std::time_t kTue8Dec2026_124413 = 1796733853;  // UTC
constexpr std::time_t kFri18Dec2026_090507 = 1797584707;

class UtcZone : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        saved_ = tz ? tz : "";
        hadTz_ = tz != nullptr;
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    void TearDown() override {
        if (hadTz_) {
            ::setenv("TZ", saved_.c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

  private:
    std::string saved_;
    bool hadTz_ = false;
};

using LogFormat = UtcZone;

TEST_F(LogFormat, TimeTextIsTheFirst19CharactersOfTheCTimeText) {
    EXPECT_EQ(LogFile::TimeText(kTue8Dec2026_124413), "Tue Dec  8 12:44:13");
    EXPECT_EQ(LogFile::TimeText(kFri18Dec2026_090507), "Fri Dec 18 09:05:07");
}

TEST_F(LogFormat, LinesAreWindows1252WithCrLf) {
    TempDir dir;
    FakeClock clock(kTue8Dec2026_124413);
    RecordingPresenter presenter;
    FakeSystemEnv env;
    AppServices services({clock, presenter, env, {}});
    ASSERT_TRUE(services.m_logFile.Open(dir / "a.log"));

    services.WriteLog("USB Stick Setup tool is starting");
    services.WriteLog("%s", "");
    services.WriteLogW(u"path %s: %d", u"/tmp/caf\u00e9 \u4e2d", 5);
    services.WriteLog("%s", std::string(100000, 'x').c_str());

    const std::string expected = std::string(
                                     "[Tue Dec  8 12:44:13] USB Stick Setup tool is starting\r\n"
                                     "[Tue Dec  8 12:44:13] \r\n"
                                     "[Tue Dec  8 12:44:13] path /tmp/caf\xe9 ?: 5\r\n"
                                     "[Tue Dec  8 12:44:13] ") +
                                 std::string(100000, 'x') + "\r\n";
    EXPECT_EQ(ReadFileBytes(dir / "a.log"), expected);
}

// Whatever already has the log's name (a file of an earlier run or of
// another user, a link, a FIFO) is left as it is, and the log takes the
// next free name: a new 0600 file of this run.
TEST(LogOpen, ANameAlreadyTakenIsNeverWrittenAndTheLogMovesAside) {
    TempDir dir;
    testing::WriteFileBytes(dir / "target", "keep\n");
    const struct {
        const char* name;
        std::function<int(const std::string&)> plant;
    } cases[] = {
        {"earlier log",
         [](const std::string& p) {
             testing::WriteFileBytes(p, "earlier\r\n");
             return 0;
         }},
        {"symbolic link",
         [&](const std::string& p) { return ::symlink((dir / "target").c_str(), p.c_str()); }},
        {"dangling link",
         [&](const std::string& p) { return ::symlink((dir / "nothing").c_str(), p.c_str()); }},
        {"fifo without a reader", [](const std::string& p) { return ::mkfifo(p.c_str(), 0600); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string stem = dir / c.name;
        ASSERT_EQ(c.plant(stem + ".log"), 0);
        struct stat before {};
        ASSERT_EQ(::lstat((stem + ".log").c_str(), &before), 0);
        LogFile log;
        ASSERT_TRUE(log.Open(stem + ".log"));
        EXPECT_EQ(log.Path(), stem + "_1.log");
        log.WriteLine("mine", kTue8Dec2026_124413);
        EXPECT_EQ(ReadFileBytes(stem + "_1.log"), "[Tue Dec  8 12:44:13] mine\r\n");
        struct stat st {};
        ASSERT_EQ(::lstat((stem + "_1.log").c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        struct stat after {};
        ASSERT_EQ(::lstat((stem + ".log").c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_size, before.st_size);
    }
    EXPECT_EQ(ReadFileBytes(dir / "target"), "keep\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "nothing"));
    EXPECT_EQ(ReadFileBytes(dir / "earlier log.log"), "earlier\r\n");
}

TEST(LogOpen, RunsOfTheSameSecondEachGetALog) {
    TempDir dir;
    LogFile first;
    LogFile second;
    LogFile third;
    ASSERT_TRUE(first.Open(dir / "b.log"));
    ASSERT_TRUE(second.Open(dir / "b.log"));
    ASSERT_TRUE(third.Open(dir / "b.log"));
    EXPECT_EQ(first.Path(), dir / "b.log");
    EXPECT_EQ(second.Path(), dir / "b_1.log");
    EXPECT_EQ(third.Path(), dir / "b_2.log");
}

TEST_F(LogFormat, OpenLogNamesTheFileAfterTheStartTime) {
    TempDir dir;
    FakeClock clock(kTue8Dec2026_124413);
    RecordingPresenter presenter;
    FakeSystemEnv env;
    env.tempFolder = FromPath(dir.Path() + "/");
    AppServices services({clock, presenter, env, {}});
    services.OpenLog();
    ASSERT_TRUE(services.m_logFile.IsOpen());
    EXPECT_EQ(services.m_logFile.Path(), dir.Path() + "/flintmere_20261208124413.log");

    env.tempFolder.clear();  // no temporary folder: no log, and nothing fails
    AppServices noLog({clock, presenter, env, {}});
    noLog.OpenLog();
    EXPECT_FALSE(noLog.m_logFile.IsOpen());
    noLog.WriteLog("nothing");
    noLog.DisplayMessage(u"still shown");
    ASSERT_EQ(presenter.Shown().size(), 1u);
    EXPECT_EQ(presenter.Shown()[0].text, u"still shown");
}

TEST_F(LogFormat, TwoThreadsNeverInterleaveWithinALine) {
    TempDir dir;
    FakeClock clock(kTue8Dec2026_124413);
    RecordingPresenter presenter;
    FakeSystemEnv env;
    AppServices services({clock, presenter, env, {}});
    ASSERT_TRUE(services.m_logFile.Open(dir / "c.log"));
    const std::string a(3000, 'a');
    const std::u16string b(3000, u'b');
    std::thread t1([&] {
        for (int i = 0; i < 300; ++i) services.WriteLog("%s", a.c_str());
    });
    std::thread t2([&] {
        for (int i = 0; i < 300; ++i) services.WriteLogW(u"%s", b);
    });
    t1.join();
    t2.join();
    const std::string log = ReadFileBytes(dir / "c.log");
    const std::string lineA = "[Tue Dec  8 12:44:13] " + a + "\r\n";
    const std::string lineB = "[Tue Dec  8 12:44:13] " + std::string(3000, 'b') + "\r\n";
    size_t pos = 0;
    int countA = 0;
    int countB = 0;
    while (pos < log.size()) {
        if (log.compare(pos, lineA.size(), lineA) == 0) {
            ++countA;
            pos += lineA.size();
        } else if (log.compare(pos, lineB.size(), lineB) == 0) {
            ++countB;
            pos += lineB.size();
        } else {
            FAIL() << "broken line at byte " << pos;
        }
    }
    EXPECT_EQ(countA, 300);
    EXPECT_EQ(countB, 300);
}

TEST_F(LogFormat, MessagePatternsLogAndShowTheirBoxes) {
    TempDir dir;
    FakeClock clock(kTue8Dec2026_124413);
    RecordingPresenter presenter;
    FakeSystemEnv env;
    std::string printed;
    AppServices services({clock, presenter, env, [&](std::string_view t) { printed += t; }});
    ASSERT_TRUE(services.m_logFile.Open(dir / "d.log"));

    services.DisplayMessage(u"Can't open file x!");
    services.DisplayErrorMessage(ENOENT);
    services.DisplayErrorMessageStr(u"Stdout pipe creation failed", EMFILE);
    services.PrintStdout("Could not open file (error %d)\n", 13);

    const auto shown = presenter.Shown();
    ASSERT_EQ(shown.size(), 3u);
    const struct {
        u16 text;
        u16 caption;
    } expected[] = {
        {u"Can't open file x!", u"Error"},
        {u"No such file or directory", u"Error"},
        {u"Too many open files", u"Stdout pipe creation failed"},
    };
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(shown[i].text, expected[i].text);
        EXPECT_EQ(shown[i].caption, expected[i].caption);
        EXPECT_EQ(shown[i].style, 0x12030u);
        EXPECT_FALSE(shown[i].owned);
    }
    EXPECT_EQ(ReadFileBytes(dir / "d.log"),
              "[Tue Dec  8 12:44:13] DisplayMessage(): Error: Can't open file x!\r\n"
              "[Tue Dec  8 12:44:13] DisplayErrorMessage(): Error: No such file or directory\r\n"
              "[Tue Dec  8 12:44:13] DisplayErrorMessageStr(): Stdout pipe creation failed: Too "
              "many open files\r\n");
    EXPECT_EQ(printed, "Could not open file (error 13)\n");
}

TEST(ConsolePresenter, WritesCaptionAndTextAndNeverWaits) {
    TempDir dir;
    std::FILE* out = std::fopen((dir / "err").c_str(), "w+");
    ASSERT_NE(out, nullptr);
    ConsolePresenter console(out);
    EXPECT_EQ(console.ShowMessage(u"Can't open file a.xml!", u"Error", kMbWarningStyle), kIdOk);
    EXPECT_EQ(console.ShowMessage(u"Continue?", u"USB Stick Setup", kMbYesNo), kIdNo);
    std::fclose(out);
    EXPECT_EQ(ReadFileBytes(dir / "err"),
              "Error: Can't open file a.xml!\nUSB Stick Setup: Continue?\n");
}

}  // namespace
}  // namespace flintmere
