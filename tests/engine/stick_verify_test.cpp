// The read-back of a stick over a FAT image file: every file the run wrote
// is matched with its source, and a fault planted just before the check
// ends the run with the verification box.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/image_stick.h"

namespace flintmere::testing {
namespace {

class StickVerify : public ImageStickTest<> {
  protected:
    void SetUp() override { SetUpStick(true); }

    // Runs an mtools command on the stick image.
    void OnStick(const std::string& command) {
        ProgramResult r = RunProgram({"sh", "-c", command}, {"MTOOLS_SKIP_CHECK=1"});
        ASSERT_EQ(r.exitStatus, 0) << command << ": " << r.err;
    }
};

TEST_F(StickVerify, ACleanRunReadsBackEveryFileAndCompletes) {
    // Long names with blanks, short names, an empty file and a nested folder.
    std::filesystem::create_directories(inst + "/kx/Extra Files/deep");
    WriteFileBytes(inst + "/kx/Extra Files/a b.txt", "two words\n");
    WriteFileBytes(inst + "/kx/Extra Files/deep/EMPTY", "");
    WriteFileBytes(inst + "/kx/Extra Files/deep/big.bin", std::string(3u << 20, 'q') + "end");
    EXPECT_EQ(app->SetupUSB(), 1);
    EXPECT_EQ(app->m_setupStatus, SetupComplete);
    EXPECT_TRUE(app.presenter.Shown().empty());
    EXPECT_EQ(disks.droppedVolumes, std::vector<std::string>{image});

    const std::string log = Log();
    const std::size_t check = log.find("VerifyStick(): start");
    ASSERT_NE(check, std::string::npos) << log;
    EXPECT_LT(log.find("CopyFiles(): done"), check);
    EXPECT_LT(check, log.find("SetupUSB(): done"));
    EXPECT_NE(log.find("bytes verified"), std::string::npos) << log;

    // The bar starts again at 0 for the check and ends at 100.
    const std::vector<int> positions = progress.Positions();
    const auto restart = std::find(positions.begin(), positions.end(), 0);
    ASSERT_NE(restart, positions.end());
    EXPECT_TRUE(std::is_sorted(restart, positions.end()));
    EXPECT_EQ(positions.back(), 100);
    const std::vector<u16> actions = progress.Actions();
    for (const char16_t* action :
         {u"Verifying files...\r\nnode.cfg", u"Verifying files...\r\nBOOTX64.EFI",
          u"Verifying files...\r\nvmlinuz"}) {
        EXPECT_NE(std::find(actions.begin(), actions.end(), action), actions.end())
            << ToPath(action);
    }
}

struct PlantedFault {
    const char* name;
    const char* command;   // run just before the check; %s is the stick image, %i the folder
    const char16_t* file;  // named in the box
    const char* logLine;
    const char16_t* box = nullptr;  // the whole box, where it names no file
};

class StickVerifyFault : public StickVerify, public ::testing::WithParamInterface<PlantedFault> {};

TEST_P(StickVerifyFault, EndsTheRunWithTheVerificationBox) {
    const PlantedFault& fault = GetParam();
    std::string command = fault.command;
    for (std::size_t at; (at = command.find("%s")) != std::string::npos;)
        command.replace(at, 2, image);
    for (std::size_t at; (at = command.find("%i")) != std::string::npos;)
        command.replace(at, 2, inst);
    disks.onDrop = [&] { OnStick(command); };

    EXPECT_EQ(app->SetupUSB(), 0);
    EXPECT_EQ(app->m_setupStatus, SetupError);
    ASSERT_EQ(app.presenter.Shown().size(), 1u);
    EXPECT_EQ(app.presenter.Shown()[0].caption, u"Error");
    EXPECT_EQ(app.presenter.Shown()[0].text,
              fault.box ? u16(fault.box)
                        : u"Verification failed: " + u16(fault.file) +
                              u" on the stick differs from the installation folder. The stick "
                              u"may be faulty.");
    EXPECT_EQ(progress.CloseRequests(), 1);
    const std::string log = Log();
    EXPECT_NE(log.find(fault.logLine), std::string::npos) << log;
    EXPECT_EQ(log.find("SetupUSB(): done"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, StickVerifyFault,
    ::testing::Values(
        PlantedFault{"ChangedByte",
                     "mtype -i %s ::/vmlinuz | sed '1s/^./X/' | mcopy -o -i %s - ::/vmlinuz",
                     u"vmlinuz", "VerifyStick(): vmlinuz differs at offset 0"},
        PlantedFault{"Removed", "mdel -i %s ::/initrd.gz", u"initrd.gz",
                     "VerifyStick(): initrd.gz is missing"},
        PlantedFault{"CutShort",
                     "mtype -i %s ::/node.cfg | head -c 10 | mcopy -o -i %s - ::/node.cfg",
                     u"node.cfg", "VerifyStick(): node.cfg differs at offset 10"},
        PlantedFault{"Generated", "printf 'hostname evil\\n' | mcopy -o -i %s - ::/node.cfg",
                     u"node.cfg", "VerifyStick(): node.cfg differs at offset"},
        // The source is read again for the check; one cut short since the copy
        // no longer matches what the stick holds.
        PlantedFault{"SourceCutShort", "truncate -s 5 %i/kx/vmlinuz", u"vmlinuz",
                     "VerifyStick(): vmlinuz differs at offset 5"},
        PlantedFault{"BootSectorChanged",
                     "printf X | dd of=%s bs=1 seek=100 conv=notrunc status=none", u"",
                     "VerifyStick(): the file system's boot sector differs at offset 100",
                     u"Verification failed: the file system's boot sector on the stick differs "
                     u"from what was written. The stick may be faulty."},
        // One entry of the second FAT only: the files still read back whole.
        PlantedFault{"FatCopiesDisagree",
                     "r=$(od -An -tu2 -j14 -N2 %s); f=$(od -An -tu4 -j36 -N4 %s); "
                     "printf '\\007' | dd of=%s bs=1 seek=$(( (r + f) * 512 + 4000 )) "
                     "conv=notrunc status=none",
                     u"", "VerifyStick(): the file system check failed (1)",
                     u"Verification failed: the file system on the stick is damaged. The stick "
                     u"may be faulty."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StickVerify, CachesThatCannotBeDroppedEndTheRun) {
    disks.dropError = EACCES;
    EXPECT_EQ(app->SetupUSB(), 0);
    EXPECT_EQ(app->m_setupStatus, SetupError);
    ASSERT_EQ(app.presenter.Shown().size(), 1u);
    EXPECT_EQ(app.presenter.Shown()[0].text, u"Permission denied");
}

TEST_F(StickVerify, CancelDuringTheCheckEndsQuietly) {
    disks.onDrop = [&] { app->m_workerStop.request_stop(); };
    EXPECT_EQ(app->SetupUSB(), 0);
    EXPECT_TRUE(app.presenter.Shown().empty());
    EXPECT_EQ(progress.CloseRequests(), 0) << "the dialog's Cancel ends it";
    EXPECT_NE(Log().find("VerifyStick(): canceled"), std::string::npos) << Log();
}

}  // namespace
}  // namespace flintmere::testing
