// The stick writer refuses what it must not do, before it writes anything.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/stick_request.h"
#include "support/fakes.h"
#include "support/run_program.h"

namespace flintmere::testing {
namespace {

// The writer in a folder of its own, as it ships, and a request for it.
class stick_writer : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = dir / "inst";
        ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
        ASSERT_EQ(RunProgram({"cp", FLINTMERE_WRITER_BINARY, folder + "/flintmere-stick-writer"})
                      .exitStatus,
                  0);
        request.installFolder = folder;
        request.diskIdentity = "sdzz:1";
        request.diskSize = 1u << 30;
    }

    ProgramResult Run(const std::string& input, const std::vector<std::string>& env = {}) {
        WriteFileBytes(dir / "request", input);
        return RunProgram({"sh", "-c", "exec \"$0\" < \"$1\"", folder + "/flintmere-stick-writer",
                           dir / "request"},
                          env);
    }

    TempDir dir;
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
    };
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
         [](StickRequest&) { return "request 1\nset " + std::string(5u << 20, 'a'); },
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
         "is not the folder of the stick writer",
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
         {}, 3, "would change node.cfg", false},
        {"a caller who is nobody",
         [](StickRequest& r) { return FormatStickRequest(r); },
         {"PKEXEC_UID=4000000000"},
         3,
         "no user has the id",
         true},
    };
    ASSERT_EQ(::mkdir(secret.c_str(), 0700), 0);
    WriteFileBytes(secret + "/logo.png", "PNG");
    for (const Row& row : rows) {
        if (row.needsRoot && ::geteuid() != 0) {
            std::cerr << "skipped '" << row.name << "': needs root to act for another user\n";
            continue;
        }
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
