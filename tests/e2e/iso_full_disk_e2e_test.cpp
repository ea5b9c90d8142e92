// The program in batch mode meeting a full disk: its temporary folder (where
// the log and the image tree go) or the image's folder is a small tmpfs.
// The run must end, fail with a non-zero status and say why on stderr.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "support/fakes.h"
#include "support/install_folder.h"
#include "support/run_program.h"
#include "support/small_tmpfs.h"

namespace flintmere::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kPayloadBytes = 12u << 20;
// Exit status of `timeout` when the program had to be stopped.
constexpr int kTimedOut = 124;

class IsoFullDiskE2e : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a small tmpfs";
        FLINTMERE_REQUIRE_TOOLS("genisoimage", "timeout");
        inst = dir / "inst";
        FLINTMERE_REQUIRE_INSTALL_FOLDER(inst, true);
        WriteFileBytes(inst + "/kx/zz_payload.bin", std::string(kPayloadBytes, '\x5a'));
        database = ReadFileBytes(FLINTMERE_SOURCE_DIR "/samples/config.xml");
        if (database.empty()) GTEST_SKIP() << "samples/config.xml is missing";
    }

    // The installed program, stopped if it runs for more than a minute.
    ProgramResult Run(const std::string& db, const std::string& tmpdir) {
        return RunProgram({"timeout", "-s", "KILL", "60", inst + "/flintmere", db},
                          {"TMPDIR=" + tmpdir + "/"}, "/");
    }

    static std::vector<std::string> Trees(const std::string& folder) {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(folder)) {
            if (e.is_directory() && e.path().filename().string().rfind("flintmere_", 0) == 0) {
                out.push_back(e.path().string());
            }
        }
        return out;
    }

    TempDir dir;
    std::string inst, database;
};

TEST_F(IsoFullDiskE2e, iso_FullTemporaryFolderFailsTheBatch) {
    SmallTmpfs small(dir / "small", "8m");
    if (!small.Mounted()) GTEST_SKIP() << small.Error();
    WriteFileBytes(dir / "site1.xml", database);

    ProgramResult run = Run(dir / "site1.xml", small.Folder());
    ASSERT_NE(run.exitStatus, kTimedOut) << "the batch run hung";
    EXPECT_NE(run.exitStatus, 0);
    EXPECT_LT(run.exitStatus, 128) << "ended by a signal";
    EXPECT_NE(run.err.find("Error: " + AppServices::SystemErrorText(ENOSPC)), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("was not built"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(dir / "site1.iso"));
    EXPECT_EQ(Trees(small.Folder()).size(), 1u) << "the tree stays for inspection";
}

TEST_F(IsoFullDiskE2e, iso_ImageThatDoesNotFitFailsTheBatch) {
    SmallTmpfs small(dir / "small", "8m");
    if (!small.Mounted()) GTEST_SKIP() << small.Error();
    // The image goes next to the database, onto the small file system, where
    // an earlier run left its image.
    WriteFileBytes(small.Folder() + "/site1.xml", database);
    WriteFileBytes(small.Folder() + "/site1.iso", "an earlier image");
    const std::string temp = dir / "tmp";
    fs::create_directories(temp);

    ProgramResult run = Run(small.Folder() + "/site1.xml", temp);
    ASSERT_NE(run.exitStatus, kTimedOut) << "the batch run hung";
    EXPECT_NE(run.exitStatus, 0);
    EXPECT_LT(run.exitStatus, 128) << "ended by a signal";
    EXPECT_NE(run.err.find("the ISO image " + small.Folder() + "/site1.iso was not built"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(Trees(temp).size(), 1u) << "the tree stays for inspection";
    EXPECT_EQ(ReadFileBytes(small.Folder() + "/site1.iso"), "an earlier image");
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(small.Folder()))
        left.push_back(e.path().filename());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"site1.iso", "site1.xml"}))
        << "no cut-off image is left";
}

}  // namespace
}  // namespace flintmere::testing
