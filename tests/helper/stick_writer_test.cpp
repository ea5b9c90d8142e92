// The stick writer refuses what it must not do, before it writes anything.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "app/flintmere_app.h"
#include "engine/stick_request.h"
#include "support/fakes.h"
#include "support/recording_presenter.h"
#include "support/run_program.h"

namespace flintmere::testing {
namespace {

// The writer in a folder of its own that only root can change, as
// install-stick-writer makes it, and a request for an installation folder.
class stick_writer : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "the writer runs only from a folder only root can change; making one "
                            "needs root";
        }
        home = std::make_unique<TempDir>("/run");
        ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
        const std::string data = dir / "data";
        ASSERT_EQ(RunProgram({"mkdir", "-p", data + "/kx", data + "/syslinux"}).exitStatus, 0);
        WriteFileBytes(data + "/syslinux/syslinux.cfg", "DEFAULT install\n");
        request.installFolder = data;
        request.diskIdentity = "sdzz:1";
        request.diskSize = 1u << 30;
        request.record.m_serverName = u"sbc-1";
    }
    // A fresh writer folder, changed by `plant` (a shell command run in it).
    void MakeWriterFolder(const std::string& plant) {
        folder = home->Path() + "/inst";
        RunProgram({"rm", "-rf", folder});
        ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
        ASSERT_EQ(RunProgram({"cp", FLINTMERE_WRITER_BINARY, folder + "/flintmere-stick-writer"})
                      .exitStatus,
                  0);
        if (!plant.empty()) {
            ASSERT_EQ(RunProgram({"sh", "-ec", "cd \"$0\" && " + plant, folder}).exitStatus, 0)
                << plant;
        }
    }

    ProgramResult Run(const std::string& input, const std::vector<std::string>& env = {}) {
        WriteFileBytes(dir / "request", input);
        return RunProgram({"sh", "-c", "exec \"$0\" < \"$1\"", folder + "/flintmere-stick-writer",
                           dir / "request"},
                          env);
    }

    TempDir dir;
    std::unique_ptr<TempDir> home;
    std::string folder;
    StickRequest request;
};

TEST_F(stick_writer, RefusesWhatItMustNotDoAndWritesNothing) {
    struct Row {
        const char* name;
        std::function<std::string(StickRequest&)> input;
        std::vector<std::string> env;
        int exitStatus;
        const char* reason;
        bool needsRoot;
        std::string plant = {};
    };
    auto asRequested = [](StickRequest& r) { return FormatStickRequest(r); };
    const std::string secret = dir / "secret";
    const Row rows[] = {
        {"not a request",
         [](StickRequest&) { return std::string("hello world\n"); },
         {},
         2,
         "does not start with its version",
         false},
        {"truncated",
         [](StickRequest& r) {
             std::string text = FormatStickRequest(r);
             return text.substr(0, text.size() - 4);
         },
         {},
         2,
         "ended before its last line",
         false},
        {"overlong line",
         [](StickRequest&) { return "request 1\nset " + std::string(65u << 20, 'a'); },
         {},
         2,
         "too long",
         false},
        {"another folder's tools",
         [](StickRequest& r) {
             r.installFolder = "/usr/bin";
             return FormatStickRequest(r);
         },
         {},
         3,
         "is not an installation folder that its caller can read",
         false},
        {"a disk that is not a listed removable disk",
         [](StickRequest& r) { return FormatStickRequest(r); },
         {},
         3,
         "is not a removable USB disk attached now",
         false},
        {"a logo its caller cannot read",
         [secret](StickRequest& r) {
             r.logoPath = secret + "/logo.png";
             return FormatStickRequest(r);
         },
         {"PKEXEC_UID=65534"},
         3,
         "Permission denied",
         true},
        {"a value that adds a node.cfg key",
         [](StickRequest& r) {
             r.record.m_gateway6 = u"2001:db8::1 kestrel_label: pwned";
             return FormatStickRequest(r);
         },
         {},
         3,
         "would change node.cfg",
         false},
        {"a caller who is nobody",
         [](StickRequest& r) { return FormatStickRequest(r); },
         {"PKEXEC_UID=4000000000"},
         3,
         "no user has the id",
         true},
        {"an address the window refuses",
         [](StickRequest& r) {
             r.record.m_dns1 = u"999.999.1.1";
             return FormatStickRequest(r);
         },
         {},
         3,
         "the window would refuse this request: Invalid DNS 1",
         false},
        {"a logo only root's group can read",
         [group = dir / "group"](StickRequest& r) {
             r.logoPath = group + "/logo.png";
             return FormatStickRequest(r);
         },
         {"PKEXEC_UID=65534"},
         3,
         "Permission denied",
         true},
        // Where it stands: anything someone other than root can change.
        {"a writer folder an ordinary user owns",
         asRequested,
         {},
         4,
         "inst belongs to user 65534, not to root",
         false,
         "chown 65534 ."},
        {"a group-writable writer folder",
         asRequested,
         {},
         4,
         "inst can be changed by its group or by others",
         false,
         "chmod 0775 ."},
        {"a tool an ordinary user can replace",
         asRequested,
         {},
         4,
         "tools/mkfs.fat belongs to user 65534",
         false,
         "mkdir tools && cp /bin/true tools/mkfs.fat && chown 65534 tools/mkfs.fat"},
        {"a boot installer an ordinary user can replace",
         asRequested,
         {},
         4,
         "syslinux/syslinux belongs to user 65534",
         false,
         "mkdir syslinux && cp /bin/true syslinux/syslinux && chown 65534 syslinux/syslinux"},
        {"a library folder anyone can write",
         asRequested,
         {},
         4,
         "lib can be changed by its group or by others",
         false,
         "mkdir -m 0777 lib"},
        {"a library search path of the caller",
         asRequested,
         {"LD_LIBRARY_PATH=/tmp/flintmere-nowhere"},
         4,
         "loaded code: /tmp can be changed",
         false},
    };
    ASSERT_EQ(::mkdir(secret.c_str(), 0700), 0);
    WriteFileBytes(secret + "/logo.png", "PNG");
    ASSERT_EQ(::mkdir((dir / "group").c_str(), 0755), 0);
    WriteFileBytes(dir / "group/logo.png", "PNG");
    ASSERT_EQ(::chmod((dir / "group/logo.png").c_str(), 0640), 0);
    for (const Row& row : rows) {
        if (row.needsRoot && ::geteuid() != 0) {
            std::cerr << "skipped '" << row.name << "': needs root to act for another user\n";
            continue;
        }
        MakeWriterFolder(row.plant);
        StickRequest r = request;
        const ProgramResult result = Run(row.input(r), row.env);
        EXPECT_EQ(result.exitStatus, row.exitStatus) << row.name << "\n" << result.out;
        EXPECT_EQ(result.out.rfind("hello 1\nrefused ", 0), 0u) << row.name << "\n" << result.out;
        const std::string refusal = result.out.substr(result.out.find("refused "));
        const std::optional<ProtocolLine> line = ParseLine(refusal.substr(0, refusal.size() - 1));
        ASSERT_TRUE(line) << row.name;
        EXPECT_NE(line->fields.at(0).find(row.reason), std::string::npos)
            << row.name << ": " << line->fields.at(0);
    }
}

}  // namespace
}  // namespace flintmere::testing

namespace flintmere::testing {
namespace {

// The window's side: it takes an outcome only from a writer that greeted it
// and whose exit status agrees, starts nothing from a place others can
// change, passes none of its environment, and stops waiting for a writer
// that ignores its cancel.
TEST(stick_writer_client, TakesTheOutcomeOnlyFromTheWriterItMeant) {
    if (::geteuid() != 0) GTEST_SKIP() << "the writers must be root's; making them needs root";
    TempDir home("/run");
    const std::string seen = home.Path() + "/seen";
    struct Row {
        const char* name;
        std::string script;
        const char* plant;  // shell command in the writer's folder
        bool cancel;
        const char* shown;  // "": no box
        OutcomeKind kind = OutcomeKind::None;
        int error = 0;
    };
    const Row rows[] = {
        {"an impostor that only says complete", "echo 'status 1'\nexit 0\n", "", false,
         "The stick writer ended before the stick was done"},
        {"complete with a failing exit status", "echo 'hello 1'\necho 'status 1'\nexit 3\n", "",
         false, "The stick writer ended before the stick was done"},
        {"a writer in a folder anyone can write", "touch " + seen + "\n", "chmod 0777 .", false,
         "can be changed by its group or by others"},
        {"a writer deaf to cancel", "echo 'hello 1'\nexec setsid sh -c 'sleep 8' </dev/null\n", "",
         true, "did not stop after Cancel"},
        {"the window's environment",
         "env > " + seen + "\necho 'hello 1'\necho 'status 0'\nexit 1\n", "", false, nullptr},
        {"a stick held elsewhere",
         "echo 'hello 1'\necho 'outcome 16 blocked'\necho 'status 3'\nexit 1\n", "", false, "",
         OutcomeKind::Blocked, EBUSY},
        {"an outcome the exit status denies",
         "echo 'hello 1'\necho 'outcome 5 write-error'\necho 'status 0'\nexit 0\n", "", false,
         "The stick writer ended before the stick was done"},
    };
    ::setenv("BASH_ENV", "/nowhere/canary", 1);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string folder = home.Path() + "/w";
        RunProgram({"rm", "-rf", folder, seen});
        ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
        WriteFileBytes(folder + "/flintmere-stick-writer", "#!/bin/sh\n" + row.script);
        ASSERT_EQ(::chmod((folder + "/flintmere-stick-writer").c_str(), 0755), 0);
        RunProgram({"sh", "-c", std::string("cd \"$0\" && ") + row.plant, folder});
        TestApp app;
        app->stickWriter.m_stickWriterPlaces = {folder + "/flintmere-stick-writer"};
        app->stickWriter.m_writerCancelGrace = std::chrono::milliseconds(200);
        StickRequest request;
        ASSERT_TRUE(
            app->engine.StartWorker([&] { return app->stickWriter.RunStickWriter(request); }));
        if (row.cancel) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            app->engine.CancelSetup();
        }
        app->engine.WaitWorker();
        EXPECT_NE(app->engine.m_setupStatus.load(), SetupComplete);
        const std::vector<ShownMessage> shown = app.presenter.Shown();
        EXPECT_EQ(OutcomeKindName(app->engine.m_lastOutcome.kind), OutcomeKindName(row.kind));
        EXPECT_EQ(app->engine.m_lastOutcome.error, row.error);
        if (row.shown && !*row.shown) {
            EXPECT_TRUE(shown.empty());
            EXPECT_EQ(app->engine.m_setupStatus.load(), SetupBlocked);
        } else if (row.shown) {
            ASSERT_EQ(shown.size(), 1u);
            EXPECT_NE(ToPath(shown[0].text).find(row.shown), std::string::npos)
                << ToPath(shown[0].text);
        } else {
            const std::string env = ReadFileBytes(seen);
            EXPECT_NE(env.find("PATH=/usr/sbin:/usr/bin:/sbin:/bin\n"), std::string::npos) << env;
            EXPECT_EQ(env.find("BASH_ENV"), std::string::npos) << env;
        }
        if (std::string(row.plant).find("chmod") != std::string::npos) {
            EXPECT_FALSE(std::filesystem::exists(seen)) << "it was started";
        }
    }
    ::unsetenv("BASH_ENV");
}

}  // namespace
}  // namespace flintmere::testing
