// The read-back of a stick over a FAT image file: every file the run wrote
// is matched with its source, and a fault planted just before the check
// ends the run with the verification box.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <future>

#include "platform/unique_fd.h"
#include "support/image_stick.h"

namespace flintmere::testing {
namespace {

// Two whole read blocks and a tail, so that faults can sit on either side
// of a block's edge.
constexpr std::uint64_t kBlock = 1u << 20;
constexpr std::uint64_t kBigSize = 2 * kBlock + 3;

class StickVerify : public ImageStickTest<> {
  protected:
    void SetUp() override {
        SetUpStick(true);
        std::string big(kBigSize, '\0');
        for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 % 251);
        WriteFileBytes(inst + "/kx/big.bin", big);
    }

    // Runs an mtools command on the stick image; %s is the image, %i the folder.
    void OnStick(std::string command) {
        for (std::size_t at; (at = command.find("%s")) != std::string::npos;)
            command.replace(at, 2, image);
        for (std::size_t at; (at = command.find("%i")) != std::string::npos;)
            command.replace(at, 2, inst);
        ProgramResult r = RunProgram({"sh", "-c", command}, {"MTOOLS_SKIP_CHECK=1"});
        ASSERT_EQ(r.exitStatus, 0) << command << ": " << r.err;
    }

    // Where byte `offset` of `file` lies in the image, from the boot sector
    // of the FAT32 volume and the file's cluster chain.
    std::uint64_t ImageOffset(const std::string& file, std::uint64_t offset) {
        unsigned char boot[64] = {};
        {
            UniqueFd fd(::open(image.c_str(), O_RDONLY | O_CLOEXEC));
            EXPECT_EQ(::pread(fd.Get(), boot, sizeof boot, 0), 64);
        }
        const auto le = [&](int at, int bytes) {
            std::uint64_t v = 0;
            for (int i = bytes - 1; i >= 0; --i) v = v << 8 | boot[at + i];
            return v;
        };
        const std::uint64_t sector = le(11, 2), cluster = sector * le(13, 1);
        const std::uint64_t dataStart = (le(14, 2) + le(16, 1) * le(36, 4)) * sector;
        ProgramResult chain =
            RunProgram({"mshowfat", "-i", image, "::/" + file}, {"MTOOLS_SKIP_CHECK=1"});
        std::uint64_t skip = offset / cluster;
        for (std::size_t at = chain.out.find('<'); at != std::string::npos;
             at = chain.out.find('<', at + 1)) {
            unsigned long long first = 0, last = 0;
            if (std::sscanf(chain.out.c_str() + at, "<%llu-%llu>", &first, &last) != 2)
                last = first = std::stoull(chain.out.substr(at + 1));
            if (skip <= last - first)
                return dataStart + (first - 2 + skip) * cluster + offset % cluster;
            skip -= last - first + 1;
        }
        ADD_FAILURE() << file << " has no byte " << offset << ": " << chain.out << chain.err;
        return 0;
    }

    // Flips byte `offset` of `file` on the medium itself.
    void FlipByte(const std::string& file, std::uint64_t offset) {
        const off_t at = static_cast<off_t>(ImageOffset(file, offset));
        UniqueFd fd(::open(image.c_str(), O_RDWR | O_CLOEXEC));
        unsigned char byte = 0;
        ASSERT_EQ(::pread(fd.Get(), &byte, 1, at), 1);
        byte ^= 0xFF;
        ASSERT_EQ(::pwrite(fd.Get(), &byte, 1, at), 1);
    }

    // SetupUSB, given a bounded time: a read-back that never ends cannot be
    // stopped, so the test program ends with an error.
    int RunBounded() {
        auto run = std::async(std::launch::async, [this] { return app->engine.SetupUSB(); });
        if (run.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
            ADD_FAILURE() << "SetupUSB did not end within 60 s";
            std::fflush(nullptr);
            std::_Exit(1);
        }
        return run.get();
    }
};

TEST_F(StickVerify, ACleanRunReadsBackEveryFileAndCompletes) {
    // Long names with blanks, short names, an empty file and a nested folder.
    std::filesystem::create_directories(inst + "/kx/Extra Files/deep");
    WriteFileBytes(inst + "/kx/Extra Files/a b.txt", "two words\n");
    WriteFileBytes(inst + "/kx/Extra Files/deep/EMPTY", "");
    EXPECT_EQ(RunBounded(), 1);
    EXPECT_EQ(app->engine.m_setupStatus, SetupComplete);
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

class StickVerifyFault;

struct PlantedFault {
    const char* name;
    std::function<void(StickVerifyFault&)> plant;  // just before the check
    const char* file;                              // named in the box
    long long offset;                              // the first byte found wrong; -1: any
    const char* logLine = nullptr;  // in place of "<file> differs at offset <offset>"
    const char16_t* box = nullptr;  // the whole box, where it names no file
    int probes = -1;                // reads of the stick asked after the failure; -1: any
};

void PrintTo(const PlantedFault& fault, std::ostream* os) {
    *os << fault.name;
}

class StickVerifyFault : public StickVerify, public ::testing::WithParamInterface<PlantedFault> {
  public:
    using StickVerify::FlipByte;
    using StickVerify::ImageOffset;
    using StickVerify::OnStick;
    std::string Image() const { return image; }
    FakeDisks& Disks() { return disks; }
    std::size_t pausesAtPlant = 0;
};

TEST_P(StickVerifyFault, EndsTheRunWithTheVerificationBox) {
    const PlantedFault& fault = GetParam();
    disks.onDrop = [&] {
        pausesAtPlant = app.clock.Pauses().size();
        fault.plant(*this);
    };

    EXPECT_EQ(RunBounded(), 0);
    EXPECT_EQ(app->engine.m_setupStatus, SetupError);
    ASSERT_EQ(app.presenter.Shown().size(), 1u);
    EXPECT_EQ(app.presenter.Shown()[0].caption, u"Error");
    if (fault.box) {
        EXPECT_EQ(app.presenter.Shown()[0].text, fault.box);
    } else {
        EXPECT_NE(app.presenter.Shown()[0].text.find(u16(FromPath(fault.file))), u16::npos)
            << ToPath(app.presenter.Shown()[0].text);
    }
    EXPECT_EQ(progress.CloseRequests(), 1);
    // The log names the file and where it first differs.
    const std::string log = Log();
    const std::string differs =
        fault.logLine ? std::string(fault.logLine)
                      : std::string(fault.file) + " differs at offset " +
                            (fault.offset < 0 ? "" : std::to_string(fault.offset) + "\r\n");
    EXPECT_NE(log.find(differs), std::string::npos) << differs << "\n" << log;
    EXPECT_EQ(log.find("SetupUSB(): done"), std::string::npos);
    if (fault.probes >= 0) {
        EXPECT_EQ(disks.probes, fault.probes);
        // A pause before each read asked again.
        EXPECT_EQ(app.clock.Pauses().size() - pausesAtPlant,
                  static_cast<std::size_t>(std::max(fault.probes - 1, 0)));
    }
}

std::function<void(StickVerifyFault&)> Flip(const char* file, std::uint64_t offset) {
    return [=](StickVerifyFault& t) { t.FlipByte(file, offset); };
}
std::function<void(StickVerifyFault&)> Shell(const char* command) {
    return [=](StickVerifyFault& t) { t.OnStick(command); };
}
// The volume cannot be read back, and the stick's own reads then give
// `probes` (then answer), or it is no longer listed.
std::function<void(StickVerifyFault&)> Unreadable(std::deque<int> probes, bool listed = true) {
    return [=](StickVerifyFault& t) {
        std::filesystem::remove(t.Image());
        t.Disks().probeErrors = probes;
        if (!listed) t.Disks().disks.clear();
    };
}
constexpr char kUnreadableLog[] =
    "VerifyStick(): the file system's boot sector cannot be read: No such file or directory";
constexpr char16_t kUnreadableBox[] =
    u"Verification failed: the file system's boot sector on the stick could not be read: No "
    u"such file or directory. The stick may be faulty.";
constexpr char kGoneLog[] = "SetupUSB(): the stick was removed or does not respond";
constexpr char16_t kGoneBox[] = u"The USB stick was removed or stopped responding.";

INSTANTIATE_TEST_SUITE_P(
    Faults, StickVerifyFault,
    ::testing::Values(
        PlantedFault{"FirstByte", Flip("vmlinuz", 0), "vmlinuz", 0},
        PlantedFault{"LastByteOfABlock", Flip("big.bin", kBlock - 1), "big.bin", kBlock - 1},
        PlantedFault{"FirstByteOfABlock", Flip("big.bin", kBlock), "big.bin", kBlock},
        PlantedFault{"LastByte", Flip("big.bin", kBigSize - 1), "big.bin", kBigSize - 1},
        PlantedFault{"Removed", Shell("mdel -i %s ::/initrd.gz"), "initrd.gz", 0},
        PlantedFault{"CutShort",
                     Shell("mtype -i %s ::/node.cfg | head -c 10 | mcopy -o -i %s - ::/node.cfg"),
                     "node.cfg", 10},
        PlantedFault{
            "CutAtABlock",
            Shell("mtype -i %s ::/big.bin | head -c 1048576 | mcopy -o -i %s - ::/big.bin"),
            "big.bin", kBlock},
        PlantedFault{"Longer",
                     Shell("(mtype -i %s ::/big.bin; printf x) | mcopy -o -i %s - ::/big.bin"),
                     "big.bin", kBigSize},
        PlantedFault{"Generated", Shell("printf 'hostname evil\\n' | mcopy -o -i %s - ::/node.cfg"),
                     "node.cfg", -1},
        // The source is read again for the check; one cut short since the copy
        // no longer matches what the stick holds.
        PlantedFault{"SourceCutShort", Shell("truncate -s 5 %i/kx/vmlinuz"), "vmlinuz", 5},
        // The device ends in the middle of a file: the file system check
        // finds it first; an error, never a wait.
        PlantedFault{"DeviceEndsEarly",
                     [](StickVerifyFault& t) {
                         std::filesystem::resize_file(t.Image(),
                                                      t.ImageOffset("big.bin", kBlock + 5));
                     },
                     "", -1, "VerifyStick(): the file system check failed",
                     u"Verification failed: the file system on the stick is damaged. The stick "
                     u"may be faulty."},
        PlantedFault{"BootSectorChanged",
                     Shell("printf X | dd of=%s bs=1 seek=100 conv=notrunc status=none"),
                     "the file system's boot sector", 100, nullptr,
                     u"Verification failed: the file system's boot sector on the stick differs "
                     u"from what was written. The stick may be faulty."},
        // One entry of the second FAT only: the files still read back whole.
        PlantedFault{"FatCopiesDisagree",
                     Shell("r=$(od -An -tu2 -j14 -N2 %s); f=$(od -An -tu4 -j36 -N4 %s); "
                           "printf '\\007' | dd of=%s bs=1 seek=$(( (r + f) * 512 + 4000 )) "
                           "conv=notrunc status=none"),
                     "", -1, "VerifyStick(): the file system check failed (1)",
                     u"Verification failed: the file system on the stick is damaged. The stick "
                     u"may be faulty."},
        // A stick that fails one read and answers the next is still there;
        // gone means no device, not listed, or reads that keep failing.
        PlantedFault{"UnreadableOnAStickThatFailsOneRead", Unreadable({EIO}), "", -1,
                     kUnreadableLog, kUnreadableBox, 2},
        PlantedFault{"UnreadableOnAStickWithNoDevice", Unreadable({ENODEV}), "", -1, kGoneLog,
                     kGoneBox, 1},
        PlantedFault{"UnreadableOnAStickWithNoAddress", Unreadable({ENXIO}), "", -1, kGoneLog,
                     kGoneBox, 1},
        PlantedFault{"UnreadableOnAStickNoLongerListed", Unreadable({}, false), "", -1, kGoneLog,
                     kGoneBox, 0},
        PlantedFault{"UnreadableOnAStickThatKeepsFailing", Unreadable(std::deque<int>(9, EIO)), "",
                     -1, kGoneLog, kGoneBox, 5}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StickVerify, CachesThatCannotBeDroppedEndTheRun) {
    disks.dropError = EACCES;
    EXPECT_EQ(app->engine.SetupUSB(), 0);
    EXPECT_EQ(app->engine.m_setupStatus, SetupError);
    ASSERT_EQ(app.presenter.Shown().size(), 1u);
    EXPECT_EQ(app.presenter.Shown()[0].text, u"Permission denied");
}

TEST_F(StickVerify, CancelDuringTheCheckEndsQuietly) {
    disks.onDrop = [&] { app->engine.m_workerStop.request_stop(); };
    EXPECT_EQ(app->engine.SetupUSB(), 0);
    EXPECT_TRUE(app.presenter.Shown().empty());
    EXPECT_EQ(progress.CloseRequests(), 0) << "the dialog's Cancel ends it";
    EXPECT_NE(Log().find("VerifyStick(): canceled"), std::string::npos) << Log();
}

}  // namespace
}  // namespace flintmere::testing
