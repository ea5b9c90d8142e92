#include "rollout/rollout_report.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <regex>

namespace flintmere {
namespace {

// A view's output, read back from a real file.
class Capture {
  public:
    Capture() : file_(std::tmpfile(), &std::fclose) {}
    std::FILE* get() const { return file_.get(); }
    std::string Text() const {
        std::rewind(file_.get());
        std::string text;
        char buffer[4096];
        while (std::size_t n = std::fread(buffer, 1, sizeof buffer, file_.get()))
            text.append(buffer, n);
        return text;
    }

  private:
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file_;
};

std::size_t CountOf(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto pos = text.find(part); pos != std::string::npos; pos = text.find(part, pos + 1))
        ++count;
    return count;
}

const std::vector<UnitOutcome> kUnits = {
    {"kestrel-01", "/srv/out/kestrel-01.iso", UnitStatus::Waiting, ""},
    {"kestrel-02", "/dev/sdc AA11", UnitStatus::Waiting, ""}};

TEST(JsonView, EscapesStringsAndKeepsValidUtf8) {
    struct Case {
        std::string text, json;
    } cases[] = {
        {"plain", R"("plain")"},
        {R"(say "a\b")", R"("say \"a\\b\"")"},
        {"a\nb\tc\x1b\x7f", R"("a\u000ab\u0009c\u001b)"
                            "\x7f\""},
        {"Gr\xc3\xbc\xc3\x9f"
         "e \xe2\x9c\x93 \xf0\x9f\x98\x80",
         "\"Gr\xc3\xbc\xc3\x9f"
         "e \xe2\x9c\x93 \xf0\x9f\x98\x80\""},
        // Each bad byte is replaced; the character after it survives.
        {"a\xff"
         "b",
         "\"a\xef\xbf\xbd"
         "b\""},
        {"\xe2\x9c"
         "z",
         "\"\xef\xbf\xbd\xef\xbf\xbd"
         "z\""},
        {"\xc0\xaf", "\"\xef\xbf\xbd\xef\xbf\xbd\""},                  // overlong
        {"\xed\xa0\x80", "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},  // surrogate
        {"\xf4\x90\x80\x80",
         "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},  // past U+10FFFF
    };
    for (const Case& c : cases) {
        Capture out;
        MakeJsonView(out.get())->Note(c.text);
        EXPECT_EQ(out.Text(), R"({"event":"note","text":)" + c.json + "}\n") << c.text;
    }
}

TEST(JsonView, OneObjectPerEventWithTheRateOnlyWhenKnown) {
    Capture out;
    auto view = MakeJsonView(out.get());
    view->Begin(kUnits);
    view->Progress(0, {"Copying files...", 40, 21.25});
    view->Progress(1, {"Writing the stick...", 140, -1});
    view->Progress(7, {"no such unit", 1, -1});
    view->Finished(1,
                   {"kestrel-02", "/dev/sdc AA11", UnitStatus::Failed, "read-back: \"x\" differs"});
    view->End();
    EXPECT_EQ(
        out.Text(),
        R"({"event":"begin","index":0,"unit":"kestrel-01","medium":"/srv/out/kestrel-01.iso","status":"waiting"}
{"event":"begin","index":1,"unit":"kestrel-02","medium":"/dev/sdc AA11","status":"waiting"}
{"event":"progress","index":0,"unit":"kestrel-01","medium":"/srv/out/kestrel-01.iso","step":"Copying files...","percent":40,"mbps":21.2}
{"event":"progress","index":1,"unit":"kestrel-02","medium":"/dev/sdc AA11","step":"Writing the stick...","percent":100}
{"event":"finished","index":1,"unit":"kestrel-02","medium":"/dev/sdc AA11","status":"failed","reason":"read-back: \"x\" differs"}
{"event":"end"}
)");
}

TEST(ResultCsv, QuotesAsRfc4180AndDisarmsFormulas) {
    struct Case {
        std::string reason, field;
    } cases[] = {
        {"", ""},
        {"disk full", "disk full"},
        {"a,b", "\"a,b\""},
        {R"(say "x")", R"("say ""x""")"},
        {"line1\nline2", "\"line1\nline2\""},
        {"cr\rhere", "\"cr\rhere\""},
        {"=HYPERLINK(\"http://x\")", "\"'=HYPERLINK(\"\"http://x\"\")\""},
        {"+1", "'+1"},
        {"-1 bytes, short", "\"'-1 bytes, short\""},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"a=b", "a=b"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatResultCsv({{"kestrel-01", "/dev/sdb", UnitStatus::Failed, c.reason}}),
                  "unit,medium,status,reason\r\nkestrel-01,/dev/sdb,failed," + c.field + "\r\n")
            << c.reason;
    }
}

TEST(RolloutExit, CountsUnitsNotDoneUpToTheCap) {
    const UnitOutcome done{"a", "m", UnitStatus::Done, ""};
    const UnitOutcome failed{"b", "m", UnitStatus::Failed, "r"};
    const UnitOutcome canceled{"c", "m", UnitStatus::Canceled, ""};
    struct Case {
        std::vector<UnitOutcome> outcomes;
        int status;
    } cases[] = {
        {{}, 0},
        {{done, done}, 0},
        {{done, failed, done}, 1},
        {{failed, canceled, {"d", "m", UnitStatus::Waiting, ""}}, 3},
        {std::vector<UnitOutcome>(63, failed), 63},
        {std::vector<UnitOutcome>(200, canceled), kRolloutMaxFailedStatus},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RolloutExitStatus(c.outcomes), c.status) << c.outcomes.size();
    }
}

TEST(Summary, AlignsColumnsAndCounts) {
    EXPECT_EQ(
        FormatSummary({{"kestrel-01", "/srv/kestrel-01.iso", UnitStatus::Done, ""},
                       {"k2", "/dev/sdc AA11", UnitStatus::Failed, "write failed:\nI/O error"},
                       {"k3", "/dev/sdd", UnitStatus::Canceled, "canceled by the operator"}}),
        "UNIT        MEDIUM               STATUS    REASON\n"
        "kestrel-01  /srv/kestrel-01.iso  done\n"
        "k2          /dev/sdc AA11        failed    write failed: I/O error\n"
        "k3          /dev/sdd             canceled  canceled by the operator\n"
        "3 units: 1 done, 1 failed, 1 canceled\n");
}

TEST(PlainView, LinesOnStepChangesTenthsAndEndings) {
    Capture out;
    auto view = MakePlainView(out.get());
    view->Begin(kUnits);
    view->Note("Staging the distribution once");
    for (int percent : {0, 4, 9, 10, 15, 31, 100})
        view->Progress(0, {"Copying files...", percent, 30});
    view->Progress(1, {"Writing the stick...", 3, -1});
    view->Progress(0, {"Verifying...", 0, -1});
    view->Finished(0, {"kestrel-01", "", UnitStatus::Done, ""});
    view->Progress(0, {"Verifying...", 100, -1});  // late: the unit has ended
    view->Finished(1, {"kestrel-02", "/dev/sdc AA11", UnitStatus::Failed, "removed\nmid-way"});
    view->End();
    EXPECT_EQ(out.Text(),
              "Staging the distribution once\n"
              "kestrel-01 /srv/out/kestrel-01.iso: Copying files...\n"
              "kestrel-01 /srv/out/kestrel-01.iso: Copying files... 10% (30.0 MB/s)\n"
              "kestrel-01 /srv/out/kestrel-01.iso: Copying files... 31% (30.0 MB/s)\n"
              "kestrel-01 /srv/out/kestrel-01.iso: Copying files... 100% (30.0 MB/s)\n"
              "kestrel-02 /dev/sdc AA11: Writing the stick...\n"
              "kestrel-01 /srv/out/kestrel-01.iso: Verifying...\n"
              "kestrel-01 /srv/out/kestrel-01.iso: done\n"
              "kestrel-02 /dev/sdc AA11: failed: removed mid-way\n");
}

TEST(TerminalView, RedrawsTheBlockInPlaceAtAMeasuredRate) {
    Capture out;
    auto t = std::chrono::steady_clock::time_point{};
    auto view = MakeTerminalView(out.get(), [&] { return t; });
    const std::string longReason(300, 'x');
    view->Begin(kUnits);                                // frame 1
    view->Progress(0, {"Copying files...", 10, 25.5});  // a new step: frame 2
    t += std::chrono::milliseconds(40);
    view->Progress(0, {"Copying files...", 20, 25.5});  // held back
    t += std::chrono::milliseconds(40);
    view->Progress(0, {"Copying files...", 30, 25.5});  // held back
    t += std::chrono::milliseconds(40);
    view->Progress(0, {"Copying files...", 40, 25.5});  // 120 ms since frame 2: frame 3
    view->Note("kestrel-03 waits for a stick");         // frame 4, the note above
    view->Finished(1, {"kestrel-02", "", UnitStatus::Failed, longReason});  // frame 5
    view->End();                                                            // frame 6
    const std::string text = out.Text();

    EXPECT_EQ(CountOf(text, "\x1b[2A"), 5u);  // every frame but the first goes back up
    EXPECT_EQ(CountOf(text, "\x1b[2K"), 12u);
    EXPECT_EQ(text.find(" 20%"), std::string::npos);
    EXPECT_EQ(text.find(" 30%"), std::string::npos);
    EXPECT_NE(text.find("\x1b[2A\r\x1b[Jkestrel-03 waits for a stick\n\r\x1b[2K"),
              std::string::npos);
    // The last frame: aligned columns, the ending, each line cut to 80 columns.
    const std::string last = text.substr(text.rfind("\x1b[2A"));
    EXPECT_NE(
        last.find("\r\x1b[2Kkestrel-01  /srv/out/kestrel-01.iso  Copying files...   40%  25.5 "
                  "MB/s\n"),
        std::string::npos)
        << last;
    const std::string failed = "\r\x1b[2Kkestrel-02  /dev/sdc AA11            failed: ";
    ASSERT_NE(last.find(failed), std::string::npos) << last;
    EXPECT_EQ(last.substr(last.find(failed) + 5),
              ("kestrel-02  /dev/sdc AA11            failed: " + longReason).substr(0, 80) + "\n");
}

// A real terminal of 40 columns and 5 rows: the block keeps to both.
TEST(TerminalView, KeepsToTheTerminalsSize) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master) | ::unlockpt(master), 0);
    const winsize size{5, 40, 0, 0};
    ASSERT_EQ(::ioctl(master, TIOCSWINSZ, &size), 0);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> slave(
        ::fdopen(::open(::ptsname(master), O_WRONLY | O_NOCTTY), "w"), &std::fclose);
    ASSERT_TRUE(slave);
    termios raw{};
    ::tcgetattr(::fileno(slave.get()), &raw);
    ::cfmakeraw(&raw);  // "\n" stays "\n"
    ::tcsetattr(::fileno(slave.get()), TCSANOW, &raw);

    std::vector<UnitOutcome> units;
    for (int i = 0; i < 6; ++i) {
        units.push_back({"unit-" + std::to_string(i), "/srv/out/a-rather-long-folder-name/unit.iso",
                         UnitStatus::Waiting, ""});
    }
    auto view = MakeTerminalView(slave.get());
    view->Begin(units);
    view->Progress(4, {"Copying files...", 50, -1});
    view->Progress(5, {"Copying files...", 60, -1});
    view->Finished(0, {"unit-0", "", UnitStatus::Done, ""});
    view->Finished(1, {"unit-1", "", UnitStatus::Failed, "no space"});
    view->End();

    std::string text;
    char buffer[4096];
    pollfd ready{master, POLLIN, 0};
    while (::poll(&ready, 1, 200) > 0) {
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(master);
    // Four lines: three units, the running ones first, and the count of the rest.
    const std::string last = text.substr(text.rfind("\x1b[4A") + 4);
    const std::regex line("\r\x1b\\[2K([^\n]*)\n");
    std::vector<std::string> lines;
    for (auto it = std::sregex_iterator(last.begin(), last.end(), line);
         it != std::sregex_iterator(); ++it) {
        lines.push_back((*it)[1]);
    }
    ASSERT_EQ(lines.size(), 4u) << last;
    EXPECT_EQ(lines[0], "unit-2  /srv/out/a-rather-long-folder-na");
    EXPECT_EQ(lines[1], "unit-4  /srv/out/a-rather-long-folder-na");
    EXPECT_EQ(lines[2], "unit-5  /srv/out/a-rather-long-folder-na");
    EXPECT_EQ(lines[3], "and 3 units: 1 done, 1 failed, 1 waiting");
}

}  // namespace
}  // namespace flintmere
