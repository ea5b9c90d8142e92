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
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "rollout/output_check.h"
#include "rollout/result_file.h"
#include "rollout/rollout_command.h"
#include "rollout/sha256.h"
#include "rollout/unit_run.h"
#include "rollout/view_text.h"
#include "support/fakes.h"

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
        UnitOutcome attempt{"kestrel-01", "/dev/sdb (AA11)", UnitStatus::Failed, reason};
        attempt.kind = MediumKind::Stick;
        attempt.device = "/dev/sdb";
        attempt.serial = "AA11";
        attempt.time = "2026-12-10T10:49:45Z";
        EXPECT_EQ(FormatResultCsv({attempt}),
                  "\xEF\xBB\xBFunit,medium,device,serial,status,reason,time,sha256\r\n"
                  "kestrel-01,stick,/dev/sdb,AA11,failed," +
                      field + ",2026-12-10T10:49:45Z,\r\n")
            << reason;
    }
}

// The ledger keeps every attempt of every run, sticks and images apart,
// reads the older four-column file, and leaves a file it did not write.
TEST(ResultFile, KeepsEveryAttemptPerMedium) {
    testing::TempDir dir;
    const std::string path = dir / "units.csv.result.csv";
    UnitOutcome stick{"site-2", "/dev/sdc (SN2)", UnitStatus::Failed, "=Input/output error"};
    stick.kind = MediumKind::Stick;
    stick.device = "/dev/sdc";
    stick.serial = "SN2";
    stick.time = "2026-12-10T10:49:45Z";
    UnitOutcome image{"site-2", "/srv/\xe5\x9b\xbe/site-2.iso", UnitStatus::Done, ""};
    image.device = image.medium;
    image.sha256 = Sha256Hex("");
    ASSERT_TRUE(WriteResultFile(path, {stick, image}));
    std::vector<UnitOutcome> read;
    std::string error;
    ASSERT_TRUE(ReadResultFile(path, read, error)) << error;
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(FormatResultCsv(read), FormatResultCsv({stick, image}));
    EXPECT_EQ(read[0].reason, stick.reason);
    EXPECT_TRUE(HasDone(read, "site-2", MediumKind::Image, image.device));
    EXPECT_FALSE(HasDone(read, "site-2", MediumKind::Image, "/elsewhere/site-2.iso"));
    EXPECT_FALSE(HasDone(read, "site-2", MediumKind::Stick));

    testing::WriteFileBytes(path,
                            "unit,medium,status,reason\r\nsite-1,/dev/sdb (SN1),done,\r\n"
                            "site-2,/srv/site-2.iso,failed,no room\r\n");
    ASSERT_TRUE(ReadResultFile(path, read, error)) << error;
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0].kind, MediumKind::Stick);
    EXPECT_EQ(read[0].device + "|" + read[0].serial, "/dev/sdb|SN1");
    EXPECT_EQ(read[1].kind, MediumKind::Image);
    EXPECT_TRUE(HasDone(read, "site-1", MediumKind::Stick));

    for (const std::string foreign : {"name,address\nx,y\n", "unit,medium,status,reason\n\"a\n"}) {
        testing::WriteFileBytes(path, foreign);
        EXPECT_FALSE(ReadResultFile(path, read, error)) << foreign;
        EXPECT_NE(error.find("move it away"), std::string::npos) << error;
    }
    EXPECT_TRUE(ReadResultFile(dir / "none.csv", read, error));
    EXPECT_TRUE(read.empty());
}

TEST(Sha256, KnownDigests) {
    EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    Sha256 million;
    const std::string chunk(1000, 'a');
    for (int i = 0; i < 1000; ++i) million.Add(chunk.data(), chunk.size());
    EXPECT_EQ(million.HexDigest(),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(ViewText, CellsElisionAndSizes) {
    using namespace rollout_text;
    const std::pair<std::string, std::size_t> widths[] = {{"site-1", 6},
                                                          {"Gr\xc3\xbc\xc3\x9f", 4},
                                                          {"\xe5\x9c\xb0\xe7\x82\xb9", 4},
                                                          {"e\xcc\x81", 1},
                                                          {"\xf0\x9f\x98\x80", 2}};
    for (const auto& [text, cells] : widths) EXPECT_EQ(Columns(text), cells) << text;
    EXPECT_EQ(FitToColumns("\xe5\x9c\xb0\xe7\x82\xb9x", 3), "\xe5\x9c\xb0 ");
    const std::pair<std::string, std::string> elided[] = {
        {"/srv/site-1.iso", "/srv/site-1.iso"},
        {"/srv/rollout/2026/site-17.iso", "/srv/\u2026/site-17.iso"},
        {"/srv/\xe5\x9c\xb0\xe7\x82\xb9\xe5\x9c\xb0/site-17.iso", "/srv/\u2026/site-17.iso"},
        {"a-very-long-name-of-a-unit-7.iso", "a-very-l\u2026nit-7.iso"},
    };
    for (const auto& [text, shown] : elided) {
        EXPECT_EQ(ElideMiddle(text, 18), shown) << text;
        EXPECT_LE(Columns(ElideMiddle(text, 18)), 18u) << text;
    }
    const std::pair<std::uint64_t, std::string> sizes[] = {{8004304896ull, "8.00 GB"},
                                                           {15472047104ull, "15.5 GB"},
                                                           {532, "532 bytes"},
                                                           {999999999ull, "1.00 GB"},
                                                           {256000000000ull, "256 GB"}};
    for (const auto& [bytes, text] : sizes) EXPECT_EQ(DecimalSize(bytes), text) << bytes;
}

// The read-back's rate is of the bytes read: the writes have ended then.
TEST(UnitProgress, TheReadBackCountsReads) {
    struct Rates final : RolloutView {
        void Begin(const std::vector<UnitOutcome>&) override {}
        void Progress(std::size_t, const UnitProgress& p) override {
            rates.push_back(p.mbPerSecond);
        }
        void Finished(std::size_t, const UnitOutcome&) override {}
        void Note(const std::string&) override {}
        void End() override {}
        std::vector<double> rates;
    } view;
    std::uint64_t written = 0, read = 0;
    UnitProgressSink sink(view, 0);
    sink.CountBytesWith([&] { return written; });
    sink.CountReadsWith([&] { return read; }, "Verifying");
    sink.Report("Verifying files...", 50);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    read += 20'000'000;
    sink.Report("Verifying files...", 60);
    ASSERT_EQ(view.rates.size(), 2u);
    EXPECT_LT(view.rates[0], 0) << "unknown until a second has passed";
    EXPECT_GT(view.rates[1], 5.0);
    EXPECT_LT(view.rates[1], 20.0);
}

// A stick run's outcome decides the unit's status, and its kind and errno
// the reason where no box said why.
TEST(UnitRun, TheOutcomeGivesStatusAndReason) {
    auto ended = [](int status, OutcomeKind kind, int error) {
        Outcome outcome = Outcome::SystemError(kind, error);
        outcome.status = status;
        return outcome;
    };
    struct Row {
        int setupStatus;
        Outcome outcome;
        bool stopped;
        UnitStatus status;
        std::string reason;
    };
    const Row rows[] = {
        {SetupComplete, Outcome::Done(), false, UnitStatus::Done, ""},
        {SetupCanceled, Outcome::Stopped(), false, UnitStatus::Canceled, ""},
        {SetupError, Outcome::Stopped(), false, UnitStatus::Canceled, ""},
        {SetupError, ended(SetupError, OutcomeKind::WriteError, EIO), true, UnitStatus::Canceled,
         "a write failed: Input/output error"},
        {SetupError, ended(SetupError, OutcomeKind::StickGone, ENODEV), false, UnitStatus::Failed,
         "the stick was removed or stopped responding: No such device"},
        {SetupBlocked, ended(SetupBlocked, OutcomeKind::Blocked, EBUSY), false, UnitStatus::Failed,
         "another program holds the stick: Device or resource busy"},
        {SetupError, ended(SetupError, OutcomeKind::Verification, 0), false, UnitStatus::Failed,
         "the read-back failed"},
        {SetupError, ended(SetupError, OutcomeKind::ToolFailed, EIO), false, UnitStatus::Failed,
         "a tool failed: Input/output error"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(UnitStatusOf(row.setupStatus, row.outcome, row.stopped), row.status)
            << OutcomeKindName(row.outcome.kind);
        EXPECT_EQ(KindReason(row.outcome), row.reason);
    }
}

// The reason is the first box with an error icon, whatever its caption: a
// tool that cannot start is captioned with its command line.
TEST(UnitRun, TheFirstErrorBoxByItsIconIsTheReason) {
    struct Row {
        std::vector<std::pair<u16, unsigned>> boxes;  // text, style (caption is never "Error")
        std::string reason;
    };
    const Row rows[] = {
        {{{u"notice", kMbOk}, {u"No such file or directory", kMbWarningStyle}},
         "No such file or directory"},
        {{{u"Logo missing", kMbIconStop}, {u"later", kMbWarningStyle}}, "Logo missing"},
        {{{u"Erase it?", kMbYesNo}}, "not answered without a window: Erase it?"},
        {{{u"only a notice", kMbOk}}, "only a notice"},
    };
    for (const Row& row : rows) {
        UnitBoxes boxes;
        for (const auto& [text, style] : row.boxes)
            boxes.ShowMessage(text, u"mkfs.fat -F 32", style);
        EXPECT_EQ(boxes.Reason(), row.reason);
    }
}

TEST(RolloutCommand, ExtensionsInAnyCaseAndOptionsAreNotValues) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"UNITS.CSV", "--iso", "out"}, ""},
        {{"dir/Site2.Xml", "--stick", "/dev/sdb"}, ""},
        {{"NODE.CFG", "--stick", "/dev/sdb", "--json"}, ""},
        {{"units.csv", "--iso", "--json"}, "--iso needs a value"},
        {{"units.csv", "--stick", "--yes"}, "--stick needs a value"},
        {{".csv", "--iso", "out"}, "must be a units table"},
        {{"units.csv.bak", "--iso", "out"}, "must be a units table"},
    };
    for (const auto& [args, error] : cases) {
        std::string why;
        const bool parsed = ParseRolloutCommand(args, why).has_value();
        EXPECT_EQ(parsed, error.empty()) << args[0] << ": " << why;
        EXPECT_NE(why.find(error), std::string::npos) << why;
    }
    EXPECT_TRUE(IsRolloutCommand({"UNITS.CSV"}));
    EXPECT_FALSE(IsRolloutCommand({"SITE2.XML"}));
}

// Found before the erase question, by the check the window makes too: a
// writer that is missing, or in a place others can change, is named.
TEST(StickWriter, SaysWhichIsMissing) {
    testing::TempDir dir;
    const std::string writer = dir / "flintmere-stick-writer";
    testing::TestApp app;
    app->stickWriter.m_stickWriterPlaces = {writer};
    EXPECT_NE(app->stickWriter.StickWriterProblem().find("no stick writer"), std::string::npos)
        << app->stickWriter.StickWriterProblem();
    testing::WriteFileBytes(writer, "#!/bin/sh\n");
    ASSERT_EQ(::chmod(writer.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0777), 0);
    EXPECT_NE(app->stickWriter.StickWriterProblem().find(writer + " cannot run as root here"),
              std::string::npos)
        << app->stickWriter.StickWriterProblem();
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

// Once the pace is known: the time left for the unit and for the table.
TEST(TerminalView, ShowsTheTimeLeft) {
    const std::string text = Output([](std::FILE* out) {
        auto t = std::chrono::steady_clock::time_point{};
        auto view = MakeTerminalView(out, [&] { return t; });
        view->Begin(kUnits);
        view->Progress(0, {"Copying files...", 10, -1});
        t += std::chrono::seconds(10);
        view->Progress(0, {"Copying files...", 50, -1});
        view->End();
    });
    std::size_t redraws = 0;
    EXPECT_EQ(Frames(text, 3, &redraws),
              (std::vector<std::string>{
                  "kestrel-01  /srv/out/kestrel-01.iso  Copying files...   50%  0:10 left",
                  "kestrel-02  /dev/sdc AA11            waiting",
                  "2 units: 0 done, 1 running, 1 waiting  0:30 left"}));
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
              (std::vector<std::string>{"unit-2  /srv/out/a-rather-long\u2026/unit.iso",
                                        "unit-4  /srv/out/a-rather-long\u2026/unit.iso",
                                        "unit-5  /srv/out/a-rather-long\u2026/unit.iso",
                                        "and 3 units: 1 done, 1 failed, 1 waiting"}));
}

}  // namespace
}  // namespace flintmere
