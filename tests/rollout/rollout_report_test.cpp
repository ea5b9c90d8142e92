#include "rollout/rollout_report.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

namespace flintmere {
namespace {

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// What a view wrote to a real file.
std::string Output(const std::function<void(std::FILE*)>& write) {
    File file(std::tmpfile(), &std::fclose);
    write(file.get());
    std::rewind(file.get());
    std::string text(1 << 16, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), file.get()));
    return text;
}

// Each line of every redraw, and the lines of the last one.
std::vector<std::string> Frames(const std::string& text, std::size_t lines, std::size_t* count) {
    const std::string up = "\x1b[" + std::to_string(lines) + "A";
    *count = 0;
    for (auto pos = text.find(up); pos != std::string::npos; pos = text.find(up, pos + 1)) ++*count;
    const std::string frame = text.substr(text.rfind(up) + up.size());
    std::vector<std::string> found;
    for (auto pos = frame.find("\r\x1b[2K"); pos != std::string::npos;
         pos = frame.find("\r\x1b[2K", pos + 1)) {
        found.push_back(frame.substr(pos + 5, frame.find('\n', pos) - pos - 5));
    }
    return found;
}

const std::vector<UnitOutcome> kUnits = {
    {"kestrel-01", "/srv/out/kestrel-01.iso", UnitStatus::Waiting, ""},
    {"kestrel-02", "/dev/sdc AA11", UnitStatus::Waiting, ""}};

TEST(JsonView, EscapesStringsAndKeepsValidUtf8) {
    const std::pair<std::string, std::string> cases[] = {
        {R"(say "a\b")", R"(say \"a\\b\")"},
        {"a\nb\tc\x1b\x7f", "a\\u000ab\\u0009c\\u001b\x7f"},
        {"Grüße ✓ 😀", "Grüße ✓ 😀"},
        // Each bad byte is replaced; the character after it survives.
        {"a\xffz", "a\uFFFDz"},
        {"\xe2\x9cz", "\uFFFD\uFFFDz"},
        {"\xc0\xaf", "\uFFFD\uFFFD"},                      // overlong
        {"\xed\xa0\x80", "\uFFFD\uFFFD\uFFFD"},            // surrogate
        {"\xf4\x90\x80\x80", "\uFFFD\uFFFD\uFFFD\uFFFD"},  // past U+10FFFF
    };
    for (const auto& [text, json] : cases) {
        EXPECT_EQ(Output([&](std::FILE* out) { MakeJsonView(out)->Note(text); }),
                  R"({"event":"note","text":")" + json + "\"}\n")
            << text;
    }
}

TEST(JsonView, OneObjectPerEventWithTheRateOnlyWhenKnown) {
    EXPECT_EQ(
        Output([](std::FILE* out) {
            auto view = MakeJsonView(out);
            view->Begin(kUnits);
            view->Progress(0, {"Copying files...", 40, 21.25});
            view->Progress(1, {"Writing the stick...", 140, -1});
            view->Progress(7, {"no such unit", 1, -1});
            view->Finished(1, {"", "", UnitStatus::Failed, "read-back: \"x\" differs"});
            view->Progress(1, {"late", 100, -1});
            view->End();
        }),
        R"({"event":"begin","index":0,"unit":"kestrel-01","medium":"/srv/out/kestrel-01.iso","status":"waiting"}
{"event":"begin","index":1,"unit":"kestrel-02","medium":"/dev/sdc AA11","status":"waiting"}
{"event":"progress","index":0,"unit":"kestrel-01","medium":"/srv/out/kestrel-01.iso","step":"Copying files...","percent":40,"mbps":21.2}
{"event":"progress","index":1,"unit":"kestrel-02","medium":"/dev/sdc AA11","step":"Writing the stick...","percent":100}
{"event":"finished","index":1,"unit":"kestrel-02","medium":"/dev/sdc AA11","status":"failed","reason":"read-back: \"x\" differs"}
{"event":"end"}
)");
}

TEST(ResultCsv, QuotesAsRfc4180AndDisarmsFormulas) {
    const std::pair<std::string, std::string> cases[] = {
        {"disk full", "disk full"},
        {"a,b", "\"a,b\""},
        {R"(say "x")", R"("say ""x""")"},
        {"line1\nline2\r", "\"line1\nline2\r\""},
        {"=HYPERLINK(\"http://x\")", "\"'=HYPERLINK(\"\"http://x\"\")\""},
        {"+1", "'+1"},
        {"-1 bytes, short", "\"'-1 bytes, short\""},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"a=b", "a=b"},
    };
    for (const auto& [reason, field] : cases) {
        EXPECT_EQ(FormatResultCsv({{"kestrel-01", "/dev/sdb", UnitStatus::Failed, reason}}),
                  "unit,medium,status,reason\r\nkestrel-01,/dev/sdb,failed," + field + "\r\n")
            << reason;
    }
}

TEST(RolloutExit, CountsUnitsNotDoneUpToTheCap) {
    const UnitOutcome done{"a", "m", UnitStatus::Done, ""};
    const UnitOutcome failed{"b", "m", UnitStatus::Failed, "r"};
    const UnitOutcome canceled{"c", "m", UnitStatus::Canceled, ""};
    const std::pair<std::vector<UnitOutcome>, int> cases[] = {
        {{}, 0},
        {{done, done}, 0},
        {{done, failed, done}, 1},
        {{failed, canceled, {"d", "m", UnitStatus::Waiting, ""}}, 3},
        {std::vector<UnitOutcome>(63, failed), 63},
        {std::vector<UnitOutcome>(200, canceled), kRolloutMaxFailedStatus},
    };
    for (const auto& [outcomes, status] : cases) {
        EXPECT_EQ(RolloutExitStatus(outcomes), status) << outcomes.size();
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
    EXPECT_EQ(Output([](std::FILE* out) {
                  auto view = MakePlainView(out);
                  view->Begin(kUnits);
                  view->Note("Staging the distribution once");
                  for (int percent : {0, 4, 9, 10, 15, 31, 100})
                      view->Progress(0, {"Copying files...", percent, 30});
                  view->Progress(1, {"Writing the stick...", 3, -1});
                  view->Progress(0, {"Verifying...", 0, -1});
                  view->Finished(0, {"", "", UnitStatus::Done, ""});
                  view->Progress(0, {"Verifying...", 100, -1});  // late: the unit has ended
                  view->Finished(1, {"", "", UnitStatus::Failed, "removed\nmid-way"});
                  view->End();
              }),
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
    const std::string longReason(300, 'x');
    const std::string text = Output([&](std::FILE* out) {
        auto t = std::chrono::steady_clock::time_point{};
        auto view = MakeTerminalView(out, [&] { return t; });
        view->Begin(kUnits);                                // frame 1
        view->Progress(0, {"Copying files...", 10, 25.5});  // a new step: frame 2
        for (int percent : {20, 30, 40}) {                  // 40 ms apart: only 40% is drawn
            t += std::chrono::milliseconds(40);
            view->Progress(0, {"Copying files...", percent, 25.5});
        }
        view->Note("kestrel-03 waits for a stick");                   // frame 4
        view->Finished(1, {"", "", UnitStatus::Failed, longReason});  // frame 5
        view->End();                                                  // frame 6
    });
    std::size_t redraws = 0;
    const auto last = Frames(text, 2, &redraws);
    EXPECT_EQ(redraws, 5u);
    EXPECT_EQ(text.find(" 20%"), std::string::npos);
    EXPECT_NE(text.find("\x1b[2A\r\x1b[Jkestrel-03 waits for a stick\n\r\x1b[2K"),
              std::string::npos);
    // Aligned columns, and every line cut to 80 columns where the width is unknown.
    EXPECT_EQ(last,
              (std::vector<std::string>{
                  "kestrel-01  /srv/out/kestrel-01.iso  Copying files...   40%  25.5 MB/s",
                  ("kestrel-02  /dev/sdc AA11" + std::string(12, ' ') + "failed: " + longReason)
                      .substr(0, 80)}));
}

// On a real terminal of 40 columns and 5 rows, the block keeps to both.
TEST(TerminalView, KeepsToTheTerminalsSize) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) GTEST_SKIP() << "no pseudo-terminal here: " << std::strerror(errno);
    ASSERT_EQ(::grantpt(master) | ::unlockpt(master), 0);
    const winsize size{5, 40, 0, 0};
    ASSERT_EQ(::ioctl(master, TIOCSWINSZ, &size), 0);
    File terminal(::fdopen(::open(::ptsname(master), O_WRONLY | O_NOCTTY), "w"), &std::fclose);
    ASSERT_TRUE(terminal);
    termios raw{};
    ::tcgetattr(::fileno(terminal.get()), &raw);
    ::cfmakeraw(&raw);  // "\n" stays "\n"
    ::tcsetattr(::fileno(terminal.get()), TCSANOW, &raw);

    std::vector<UnitOutcome> units;
    for (int i = 0; i < 6; ++i) {
        units.push_back({"unit-" + std::to_string(i), "/srv/out/a-rather-long-folder-name/unit.iso",
                         UnitStatus::Waiting, ""});
    }
    auto view = MakeTerminalView(terminal.get());
    view->Begin(units);
    view->Progress(4, {"Copying files...", 50, -1});
    view->Progress(5, {"Copying files...", 60, -1});
    view->Finished(0, {"", "", UnitStatus::Done, ""});
    view->Finished(1, {"", "", UnitStatus::Failed, "no space"});
    view->End();

    std::string text(1 << 16, '\0');
    pollfd ready{master, POLLIN, 0};
    std::size_t got = 0;
    for (ssize_t n = 0; ::poll(&ready, 1, 200) > 0; got += static_cast<std::size_t>(n)) {
        if ((n = ::read(master, text.data() + got, text.size() - got)) <= 0) break;
    }
    ::close(master);
    text.resize(got);
    // Three units, the running ones first, and a line that counts the rest.
    std::size_t redraws = 0;
    EXPECT_EQ(Frames(text, 4, &redraws),
              (std::vector<std::string>{"unit-2  /srv/out/a-rather-long-folder-na",
                                        "unit-4  /srv/out/a-rather-long-folder-na",
                                        "unit-5  /srv/out/a-rather-long-folder-na",
                                        "and 3 units: 1 done, 1 failed, 1 waiting"}));
}

}  // namespace
}  // namespace flintmere
