// The program in batch mode, run as an operator would, meeting what a shared
// machine and a careless or hostile neighbour put in its way: the files it
// leaves, its exit status and its processes after each run.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <set>
#include <thread>

#include "support/background_program.h"
#include "support/fakes.h"
#include "support/install_folder.h"
#include "support/run_program.h"
#include "support/small_tmpfs.h"

namespace flintmere::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char kEarlierImage[] = "an earlier image";
constexpr char kVictim[] = "someone else's file\n";

// A mastering tool that writes part of an image, starts a helper in its
// group and takes its time; "$0.started" tells the test it is running.
constexpr char kSlowTool[] = R"(#!/bin/sh
printf partial > "$2"
echo " 12.00% done"
sleep 60 &
touch "$0.started"
wait
)";
// The same, deaf to SIGTERM (and so is its helper).
constexpr char kStubbornTool[] = R"(#!/bin/sh
trap '' TERM
printf partial > "$2"
sleep 60 &
touch "$0.started"
wait
)";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

std::set<std::string> Names(const std::string& folder) {
    std::set<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) out.insert(e.path().filename());
    return out;
}

bool IsIsoImage(const std::string& path) {
    if (fs::is_symlink(path) || !fs::is_regular_file(path)) return false;
    const std::string bytes = ReadFileBytes(path);
    return bytes.size() > 0x8006 && bytes.substr(0x8001, 5) == "CD001";
}

std::string Stamp(std::time_t t) {
    std::tm local{};
    ::localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &local);
    return text;
}

class IsoBatchSafety : public ::testing::Test {
  public:  // the cases' arrange and check steps work on it
    void SetUp() override {
        FLINTMERE_REQUIRE_TOOLS("genisoimage", "xorriso");
        inst = dir / "inst";
        FLINTMERE_REQUIRE_INSTALL_FOLDER(inst, true);
        temp = dir / "tmp";
        work = dir / "work";
        fs::create_directories(temp);
        fs::create_directories(work);
        database = ReadFileBytes(FLINTMERE_SOURCE_DIR "/samples/config.xml");
        ASSERT_FALSE(database.empty()) << "samples/config.xml is missing";
        WriteFileBytes(work + "/site1.xml", database);
        image = work + "/site1.iso";
        marker = "FLINTMERE_TEST_RUN=" + fs::path(dir.Path()).filename().string();
    }

    void UseTool(const std::string& script) {
        const std::string tool = inst + "/syslinux/mkisofs";
        WriteFileBytes(tool, script);
        fs::permissions(tool, fs::perms::owner_all);
    }

    // Environment of a run: its temporary folder and the marker every process of it carries.
    std::vector<std::string> Env(const std::string& tmpdir = "") const {
        return {"TMPDIR=" + (tmpdir.empty() ? temp + "/" : tmpdir), marker};
    }

    ProgramResult Run(const std::vector<std::string>& args, const std::string& tmpdir = "",
                      const std::string& cwd = "/") {
        std::vector<std::string> argv = {"timeout", "-s", "KILL", "120", inst + "/flintmere"};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv, Env(tmpdir), cwd);
    }

    std::string Logs(const std::string& folder) {
        std::string all;
        for (const std::string& name : Names(folder)) {
            if (fs::path(name).extension() == ".log") all += ReadFileBytes(folder + "/" + name);
        }
        return all;
    }

    std::vector<std::string> Trees(const std::string& folder) {
        std::vector<std::string> out;
        for (const std::string& name : Names(folder)) {
            if (fs::is_directory(folder + "/" + name)) out.push_back(name);
        }
        return out;
    }

    std::set<std::string> ImageFiles(const std::string& path) {
        ProgramResult r = RunProgram({"xorriso", "-indev", path, "-find", "/", "-type", "f"});
        std::set<std::string> files;
        std::size_t from = 0;
        while ((from = r.out.find("'/", from)) != std::string::npos) {
            const std::size_t end = r.out.find('\'', from + 2);
            files.insert(r.out.substr(from + 2, end - from - 2));
            from = end + 1;
        }
        return files;
    }

    void ExpectNoSurvivors() {
        const std::vector<pid_t> left = Survivors(marker, 2000ms);
        for (pid_t pid : left) ::kill(pid, SIGKILL);
        EXPECT_TRUE(left.empty()) << left.size() << " process(es) of the run outlived it";
    }

    TempDir dir;
    std::string inst, temp, work, database, image, marker;
};

// What a run leaves where the image goes.
enum class Left { NewImage, EarlierImage, NoImage };

TEST_F(IsoBatchSafety, RunsEndWithTheirStatusAndLeaveOnlyWhatTheySay) {
    struct Case {
        const char* name;
        std::function<void(IsoBatchSafety&)> arrange;
        int status;
        std::vector<std::string> stderrHas;
        Left left;
        std::set<std::string> workFiles;  // beside the database, afterwards
        std::size_t trees;                // left in the temporary folder
        std::function<void(IsoBatchSafety&)> check;
        std::vector<std::string> args = {};  // after the program; the database if empty
        std::string tmpdir = "";
    };
    const std::set<std::string> dbAndImage = {"site1.xml", "site1.iso"};
    const auto earlier = [](IsoBatchSafety& t) { WriteFileBytes(t.image, kEarlierImage); };
    const auto changedDatabase = [](const std::string& from, const std::string& to) {
        return [from, to](IsoBatchSafety& t) {
            WriteFileBytes(t.work + "/site1.xml", Replace(t.database, from, to));
            WriteFileBytes(t.image, kEarlierImage);
        };
    };
    const Case cases[] = {
        {"built", earlier, 0, {}, Left::NewImage, dbAndImage, 0, nullptr},
        {"a link at the image's name is replaced, not followed",
         [](IsoBatchSafety& t) {
             WriteFileBytes(t.work + "/victim", kVictim);
             fs::create_symlink(t.work + "/victim", t.image);
         },
         0,
         {},
         Left::NewImage,
         {"site1.xml", "site1.iso", "victim"},
         0,
         [](IsoBatchSafety& t) { EXPECT_EQ(ReadFileBytes(t.work + "/victim"), kVictim); }},
        {"the tool exits 0 and writes nothing",
         [&](IsoBatchSafety& t) {
             earlier(t);
             t.UseTool("#!/bin/sh\nexit 0\n");
         },
         1,
         {"Error: The mastering tool left no readable ISO 9660 image in " + std::string(image),
          "was not built"},
         Left::EarlierImage,
         dbAndImage,
         1,
         nullptr},
        {"the tool fails half way (a full disk)",
         [&](IsoBatchSafety& t) {
             earlier(t);
             t.UseTool("#!/bin/sh\nprintf partial > \"$2\"\necho 'No space left' >&2\nexit 1\n");
         },
         1,
         {"the mastering tool ended with exit code 1", "was not built"},
         Left::EarlierImage,
         dbAndImage,
         1,
         nullptr},
        {"the tool leaves a cut-off image and exits 0",
         [&](IsoBatchSafety& t) {
             earlier(t);
             t.UseTool("#!/bin/sh\ngenisoimage -quiet \"$@\" && truncate -s 40000 \"$2\"\n");
         },
         1,
         {"no readable ISO 9660 image"},
         Left::EarlierImage,
         dbAndImage,
         1,
         nullptr},
        {"links back up in kx/ are skipped, a link to a file is copied",
         [](IsoBatchSafety& t) {
             fs::create_directory_symlink(".", t.inst + "/kx/loop1");
             fs::create_directory_symlink(".", t.inst + "/kx/loop2");
             fs::create_directories(t.inst + "/kx/sub");
             WriteFileBytes(t.inst + "/kx/sub/deep.txt", "deep\n");
             fs::create_directory_symlink("..", t.inst + "/kx/sub/back");
             WriteFileBytes(t.work + "/notes-source", "release notes\n");
             fs::create_symlink(t.work + "/notes-source", t.inst + "/kx/notes.txt");
         },
         0,
         {},
         Left::NewImage,
         {"site1.xml", "site1.iso", "notes-source"},
         0,
         [](IsoBatchSafety& t) {
             const std::set<std::string> files = t.ImageFiles(t.image);
             EXPECT_EQ(files.count("notes.txt"), 1u);
             EXPECT_EQ(files.count("sub/deep.txt"), 1u);
             for (const std::string& f : files) {
                 EXPECT_EQ(f.find("loop"), std::string::npos) << f;
                 EXPECT_EQ(f.find("back"), std::string::npos) << f;
             }
             const std::string log = t.Logs(t.temp);
             for (const char* name : {"loop1", "loop2", "back"}) {
                 EXPECT_NE(log.find(std::string("CopyDirFiles(): skipped ") + name +
                                    ", it leads back to a folder being copied"),
                           std::string::npos)
                     << name;
             }
         }},
        {"tree and log names taken in advance by someone else",
         [](IsoBatchSafety& t) {
             WriteFileBytes(t.work + "/victim", kVictim);
             const std::time_t now = std::time(nullptr);
             for (std::time_t s = now; s < now + 15; ++s) {
                 const std::string base = t.temp + "/flintmere_" + Stamp(s);
                 fs::create_directory(base);
                 ::chown(base.c_str(), 65534, 65534);
                 fs::create_symlink(t.work + "/victim", base + ".log");
             }
         },
         0,
         {},
         Left::NewImage,
         {"site1.xml", "site1.iso", "victim"},
         15,
         [](IsoBatchSafety& t) {
             EXPECT_EQ(ReadFileBytes(t.work + "/victim"), kVictim);
             int logs = 0;
             for (const std::string& name : Names(t.temp)) {
                 const std::string path = t.temp + "/" + name;
                 if (fs::is_symlink(path) || fs::path(name).extension() != ".log") continue;
                 ++logs;
                 EXPECT_EQ(name.substr(name.size() - 6), "_1.log") << name;
                 struct stat st {};
                 ASSERT_EQ(::lstat(path.c_str(), &st), 0);
                 EXPECT_EQ(st.st_mode & 0777, 0600u);
                 EXPECT_NE(ReadFileBytes(path).find("SetupISO(): done"), std::string::npos);
             }
             EXPECT_EQ(logs, 1);
             for (const std::string& tree : t.Trees(t.temp)) {
                 EXPECT_TRUE(fs::is_empty(t.temp + "/" + tree)) << tree;
             }
         }},
        {"a host name with blanks is refused",
         changedDatabase("<hostname>sbc-branch-01</hostname>",
                         "<hostname>sbc1 kestrel_admin: 10.66.66.66 255.0.0.0</hostname>"),
         4,
         {"Error: The database gives the host name (kestrel_label) the value \"sbc1 "
          "kestrel_admin: 10.66.66.66 255.0.0.0\"",
          "was not built"},
         Left::EarlierImage,
         dbAndImage,
         0,
         nullptr},
        {"a gateway with a tab and a logical id with a line break are refused",
         [&](IsoBatchSafety& t) {
             std::string db = Replace(t.database, "<gatewayIpAddr>198.51.100.1</gatewayIpAddr>",
                                      "<gatewayIpAddr><![CDATA[192.0.2.1\t192.0.2.9]]>"
                                      "</gatewayIpAddr>");
             db = Replace(db, "<logicalBranchOfficeId>4711</logicalBranchOfficeId>",
                          "<logicalBranchOfficeId><![CDATA[br\n7]]></logicalBranchOfficeId>");
             WriteFileBytes(t.work + "/site1.xml", db);
             earlier(t);
         },
         4,
         {"the gateway (kestrel_gw) the value \"192.0.2.1\\x09192.0.2.9\"",
          "the logical id (logicid) the value \"br\\x0a7\""},
         Left::EarlierImage,
         dbAndImage,
         0,
         nullptr},
        {"a LAN IPv6 address that is a node.cfg key is refused",
         [&](IsoBatchSafety& t) {
             const std::string db = Replace(t.database, "<ipAddr>2001:db8:10::10</ipAddr>",
                                            "<ipAddr>kestrel_label:</ipAddr>");
             WriteFileBytes(t.work + "/site1.xml", Replace(db, "<subnetMask>64</subnetMask>",
                                                           "<subnetMask>pwned</subnetMask>"));
             earlier(t);
         },
         4,
         {"the LAN IPv6 address (kestrel_lan6) the value \"kestrel_label:\", which would be "
          "read as the key kestrel_label:"},
         Left::EarlierImage,
         dbAndImage,
         0,
         nullptr},
        {"links that branch, lead up or to / are walked once or not at all",
         [](IsoBatchSafety& t) {
             // Each level links twice to the next: 2^24 paths, 24 folders.
             for (int level = 0; level < 24; ++level) {
                 const std::string folder = t.inst + "/kx/b" + std::to_string(level);
                 fs::create_directories(folder);
                 WriteFileBytes(folder + "/f.txt", std::to_string(level));
                 for (const char* link : {"x", "y"}) {
                     fs::create_directory_symlink("../b" + std::to_string(level + 1),
                                                  folder + "/" + link);
                 }
             }
             fs::create_directory_symlink("..", t.inst + "/kx/up");
             fs::create_directory_symlink("/", t.inst + "/kx/root");
         },
         0,
         {},
         Left::NewImage,
         dbAndImage,
         0,
         [](IsoBatchSafety& t) {
             const std::set<std::string> files = t.ImageFiles(t.image);
             std::size_t levels = 0;
             for (const std::string& f : files) {
                 levels += f.ends_with("/f.txt");
                 EXPECT_FALSE(f.starts_with("up/") || f.starts_with("root/")) << f;
             }
             EXPECT_EQ(levels, 24u + 23u) << "each level in place, and once through a link";
             const std::string log = t.Logs(t.temp);
             for (const char* line :
                  {"CopyDirFiles(): skipped y, it leads to a folder copied",
                   "CopyDirFiles(): skipped up, it leads out of the distribution",
                   "CopyDirFiles(): skipped root, it leads out of the distri"}) {
                 EXPECT_NE(log.find(line), std::string::npos) << line;
             }
         }},
        {"every numbered log name of the next seconds is taken",
         [](IsoBatchSafety& t) {
             const std::time_t now = std::time(nullptr);
             for (std::time_t second = now; second < now + 8; ++second) {
                 const std::string base = t.temp + "/flintmere_" + Stamp(second);
                 for (int n = 0; n <= 999; ++n) {
                     WriteFileBytes(base + (n ? "_" + std::to_string(n) : "") + ".log", "");
                 }
             }
         },
         0,
         {},
         Left::NewImage,
         dbAndImage,
         0,
         [](IsoBatchSafety& t) {
             std::vector<std::string> logs;
             for (const std::string& name : Names(t.temp)) {
                 if (fs::file_size(t.temp + "/" + name) != 0) logs.push_back(name);
             }
             ASSERT_EQ(logs.size(), 1u) << "a log of a random name";
             EXPECT_EQ(logs[0].size(), std::strlen("flintmere_YYYYmmddHHMMSS_XXXXXX.log"));
         }},
        {"no log can be made at all",
         earlier,
         1,
         {"flintmere: no log is written: /nonexistent-"},
         Left::EarlierImage,
         dbAndImage,
         0,
         nullptr,
         {},
         "/nonexistent-flintmere-tmp/"},
        {"an image name too long for the tool's file beside it fails before the copy",
         earlier,
         1,
         {"Error: " + AppServices::SystemErrorText(ENAMETOOLONG)},
         Left::EarlierImage,
         dbAndImage,
         0,
         [](IsoBatchSafety& t) {
             EXPECT_EQ(t.Logs(t.temp).find("CopyFiles()"), std::string::npos);
         },
         {work + "/site1.xml", std::string(250, 'n')}},
        {"a line break in the database's name is logged escaped",
         [](IsoBatchSafety& t) { WriteFileBytes(t.work + "/a\n[Wed Dec  9 05:54:47] b.xml", ""); },
         3,
         {},
         Left::NewImage,
         {"site1.xml", "site1.iso", "a\n[Wed Dec  9 05:54:47] b.xml"},
         0,
         [](IsoBatchSafety& t) {
             const std::string log = t.Logs(t.temp);
             EXPECT_NE(log.find("/a\\n[Wed Dec  9 05:54:47] b.xml"), std::string::npos) << log;
             EXPECT_EQ(log.find("\n[Wed Dec  9 05:54:47] b"), std::string::npos) << log;
         },
         {work + "/a\n[Wed Dec  9 05:54:47] b.xml", "site1"}},
        {"a logo the run cannot load is only a notice",
         changedDatabase("<logoPicture>default</logoPicture>",
                         "<logoPicture>corp.png</logoPicture>"),
         0,
         {"Logo Picture corp.png", "Please use the Branding dialog"},
         Left::NewImage,
         dbAndImage,
         0,
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Each case starts from a fresh installation folder and work folders.
        for (const std::string& f : {temp, work}) {
            fs::remove_all(f);
            fs::create_directories(f);
        }
        fs::remove_all(inst);
        FLINTMERE_REQUIRE_INSTALL_FOLDER(inst, true);
        WriteFileBytes(work + "/site1.xml", database);
        c.arrange(*this);

        const ProgramResult run =
            Run(c.args.empty() ? std::vector<std::string>{work + "/site1.xml"} : c.args, c.tmpdir);
        EXPECT_EQ(run.exitStatus, c.status) << run.err;
        for (const std::string& text : c.stderrHas) {
            EXPECT_NE(run.err.find(text), std::string::npos) << text << "\nstderr:\n" << run.err;
        }
        switch (c.left) {
            case Left::NewImage:
                EXPECT_TRUE(IsIsoImage(image));
                break;
            case Left::EarlierImage:
                EXPECT_EQ(ReadFileBytes(image), kEarlierImage);
                break;
            case Left::NoImage:
                EXPECT_FALSE(fs::exists(image));
                break;
        }
        EXPECT_EQ(Names(work), c.workFiles);
        EXPECT_EQ(Trees(temp).size(), c.trees);
        if (c.check) c.check(*this);
        ExpectNoSurvivors();
    }
}

TEST_F(IsoBatchSafety, SignalsCancelTheRunAndLeaveNothingOfIt) {
    struct Case {
        int signal;
        const char* during;  // "copying" or "mastering"
        const char* tool;
    };
    const Case cases[] = {
        {SIGINT, "mastering", kSlowTool},
        {SIGTERM, "mastering", kStubbornTool},
        {SIGHUP, "mastering", kSlowTool},
        {SIGTERM, "copying", kSlowTool},
    };
    for (const Case& c : cases) {
        const std::string name = ::sigabbrev_np(c.signal);
        SCOPED_TRACE("SIG" + name + " while " + c.during);
        for (const std::string& f : {temp, work}) {
            fs::remove_all(f);
            fs::create_directories(f);
        }
        WriteFileBytes(work + "/site1.xml", database);
        WriteFileBytes(image, kEarlierImage);
        UseTool(c.tool);
        const std::string started = inst + "/syslinux/mkisofs.started";
        fs::remove(started);

        BackgroundProgram run({inst + "/flintmere", work + "/site1.xml"}, Env(), "/");
        ASSERT_TRUE(run.Started());
        const bool reached = WaitFor(
            [&] {
                if (std::string(c.during) == "mastering") return fs::exists(started);
                for (const std::string& tree : Trees(temp)) {
                    if (fs::exists(temp + "/" + tree + "/initrd.gz")) return true;
                }
                return false;
            },
            60s);
        ASSERT_TRUE(reached) << "the run never got to " << c.during;
        const auto sent = std::chrono::steady_clock::now();
        run.Signal(c.signal);
        const ProgramResult result = run.Wait(30s);
        const auto took = std::chrono::steady_clock::now() - sent;

        EXPECT_EQ(result.exitStatus, 128 + c.signal) << result.err;
        EXPECT_LT(took, 5s);
        EXPECT_NE(result.err.find("SIG" + name + " received: canceled"), std::string::npos)
            << result.err;
        EXPECT_EQ(ReadFileBytes(image), kEarlierImage);
        EXPECT_EQ(Names(work), (std::set<std::string>{"site1.xml", "site1.iso"}))
            << "no unfinished image is left";
        EXPECT_TRUE(Trees(temp).empty()) << "the temporary tree goes with the cancel";
        const std::string log = Logs(temp);
        EXPECT_NE(log.find("RunBatchIso(): SIG" + name + " received, canceling"), std::string::npos)
            << log;
        EXPECT_NE(log.find("SetupISO(): removed the temporary folder"), std::string::npos);
        EXPECT_NE(log.find("SetupISO(): canceled"), std::string::npos);
        ExpectNoSurvivors();
    }
}

// Signals the run must not take as a cancel: SIGHUP under nohup, and the
// SIGPIPE of an error printed to a standard error nobody reads any more.
TEST_F(IsoBatchSafety, SignalsThatAreNoCancel) {
    const struct {
        const char* name;
        std::string tool;
        std::string shell;  // runs the program as "$0" "$@"
        int status;         // SIGHUP is sent once the tool runs when 0
    } cases[] = {
        {"SIGHUP ignored at start stays ignored",
         "#!/bin/sh\ntouch \"$0.started\"\nsleep 2\nexec genisoimage -quiet \"$@\"\n",
         "trap '' HUP; exec \"$0\" \"$@\"", 0},
        // The pipe's reader is gone long before the run's first error.
        {"an error written to a closed pipe", "#!/bin/sh\nexit 1\n",
         "(\"$0\" \"$@\"; echo $? > \"$0.status\") 2>&1 >/dev/null | true; "
         "exit $(cat \"$0.status\")",
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(temp);
        fs::create_directories(temp);
        WriteFileBytes(image, kEarlierImage);
        UseTool(c.tool);
        BackgroundProgram run({"sh", "-c", c.shell, inst + "/flintmere", work + "/site1.xml"},
                              Env(), "/");
        if (c.status == 0) {
            ASSERT_TRUE(
                WaitFor([&] { return fs::exists(inst + "/syslinux/mkisofs.started"); }, 60s));
            run.Signal(SIGHUP);
        }
        const ProgramResult result = run.Wait(60s);
        EXPECT_EQ(result.exitStatus, c.status) << result.err;
        EXPECT_EQ(IsIsoImage(image), c.status == 0);
        EXPECT_EQ(Names(work), (std::set<std::string>{"site1.xml", "site1.iso"}))
            << "no unfinished image is left";
        ExpectNoSurvivors();
    }
}

TEST_F(IsoBatchSafety, RunsOfTheSameSecondAndARelativeTemporaryFolder) {
    // Two runs started together with the same TMPDIR.
    {
        BackgroundProgram first({inst + "/flintmere", work + "/site1.xml", "vm1"}, Env(), "/");
        BackgroundProgram second({inst + "/flintmere", work + "/site1.xml", "vm2"}, Env(), "/");
        const ProgramResult a = first.Wait(120s);
        const ProgramResult b = second.Wait(120s);
        EXPECT_EQ(a.exitStatus, 0) << a.err;
        EXPECT_EQ(b.exitStatus, 0) << b.err;
        EXPECT_TRUE(IsIsoImage(work + "/vm1.iso"));
        EXPECT_TRUE(IsIsoImage(work + "/vm2.iso"));
        std::size_t logs = 0;
        for (const std::string& n : Names(temp)) logs += fs::path(n).extension() == ".log";
        EXPECT_EQ(logs, 2u) << "each run has a log of its own";
        EXPECT_TRUE(Trees(temp).empty());
        ExpectNoSurvivors();
    }
    // A relative TMPDIR that looks like an option, taken from the current directory.
    {
        fs::create_directories(work + "/-x");
        const ProgramResult run = Run({"site1.xml", "vm3"}, "-x", work);
        EXPECT_EQ(run.exitStatus, 0) << run.err;
        EXPECT_TRUE(IsIsoImage(work + "/vm3.iso"));
        const std::string log = Logs(work + "/-x");
        EXPECT_NE(log.find("-iso-level 4 \"" + work + "/-x/flintmere_"), std::string::npos) << log;
        EXPECT_TRUE(Trees(work + "/-x").empty());
        ExpectNoSurvivors();
    }
}

// A file of the tree that the temporary folder cannot take: the run says
// which, exits 1 and leaves no new image.
TEST_F(IsoBatchSafety, ATreeFileNotWrittenInFullFailsTheRun) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a small tmpfs";
    const struct {
        const char* name;
        int inodes;     // 0: tmpfs's own limit
        bool fillLate;  // once the last boot file is in the tree
        bool earlier;   // an earlier image at the image's name
        const char* file;
    } cases[] = {
        // The folder fills up just before the branding files: they would be
        // empty in the image.
        {"a full folder before the branding", 0, true, true, "branding/companyName"},
        // Room for the log and the tree's folder, and nothing in it.
        {"no room for node.cfg", 3, false, false, "node.cfg"},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SmallTmpfs small(dir / ("small" + std::to_string(index++)), "8m", c.inodes);
        if (!small.Mounted()) GTEST_SKIP() << small.Error();
        std::error_code ec;
        fs::remove(image, ec);
        if (c.earlier) WriteFileBytes(image, kEarlierImage);

        BackgroundProgram run({inst + "/flintmere", work + "/site1.xml"}, Env(small.Folder() + "/"),
                              "/");
        ASSERT_TRUE(run.Started());
        const bool filled =
            !c.fillLate ||
            WaitFor(
                [&] {
                    for (const std::string& tree : Trees(small.Folder())) {
                        if (fs::exists(small.Folder() + "/" + tree + "/loader/entries/auto.conf")) {
                            RunProgram({"dd", "if=/dev/zero", "of=" + small.Folder() + "/filler",
                                        "bs=64k"});
                            return true;
                        }
                    }
                    return false;
                },
                60s);
        const ProgramResult result = run.Wait(120s);
        ASSERT_TRUE(filled);
        EXPECT_EQ(result.exitStatus, 1) << result.err;
        EXPECT_NE(result.err.find(std::string("/") + c.file + " was not written in full: " +
                                  AppServices::SystemErrorText(ENOSPC)),
                  std::string::npos)
            << result.err;
        if (c.earlier) {
            EXPECT_EQ(ReadFileBytes(image), kEarlierImage);
            EXPECT_EQ(Names(work), (std::set<std::string>{"site1.xml", "site1.iso"}));
        } else {
            EXPECT_EQ(Names(work), (std::set<std::string>{"site1.xml"})) << "no image at all";
        }
        EXPECT_EQ(Logs(small.Folder()).find("SetupISO(): creating ISO file"), std::string::npos);
        ExpectNoSurvivors();
    }
}

}  // namespace
}  // namespace flintmere::testing
