// Files on a FAT image through mtools, read back with mtype.
#include "platform/fat_volume_root.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>

#include "platform/tool_path.h"
#include "platform/unique_fd.h"
#include "support/fakes.h"
#include "support/run_program.h"

namespace flintmere {
namespace {

using testing::ReadFileBytes;
using testing::RunProgram;
using testing::TempDir;
using testing::WriteFileBytes;

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    std::string out(size, '\0');
    for (char& c : out) c = static_cast<char>(gen() & 0xff);
    return out;
}

class FatVolumeRootTest : public ::testing::Test {
  public:
    void SetUp() override {
        FLINTMERE_REQUIRE_TOOLS("mkfs.fat", "mcopy");
        image = dir / "fat.img";
        Format(image, "-F 32", 40000);
    }
    static void Format(const std::string& path, const std::string& options, int kib) {
        const std::string cmd = "mkfs.fat -C " + options + " -n tvq " + path + " " +
                                std::to_string(kib) + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    }
    // The file as mtype reads it from the image.
    std::string Read(const std::string& relPath) {
        const std::string cmd = "MTOOLS_SKIP_CHECK=1 mtype -i " + image + " ::/" + relPath;
        std::string out;
        FILE* p = ::popen(cmd.c_str(), "r");
        if (!p) return out;
        char buf[65536];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        ::pclose(p);
        return out;
    }
    static std::span<const std::uint8_t> Bytes(const std::string& s) {
        return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
    }

    TempDir dir;
    std::string image;
};

TEST_F(FatVolumeRootTest, FoldersAndFileTests) {
    FatVolumeRoot root(image);
    EXPECT_EQ(root.DisplayPath("EFI/BOOT"), FromPath(image + ":/EFI/BOOT"));
    EXPECT_TRUE(root.MakeFolder("EFI"));
    EXPECT_TRUE(root.MakeFolder("EFI")) << "an existing folder is fine";
    EXPECT_TRUE(root.MakeFolder("EFI/BOOT"));
    EXPECT_FALSE(root.MakeFolder("loader/entries")) << "parent missing";
    EXPECT_EQ(root.LastError(), ENOENT);

    ASSERT_TRUE(root.WriteFile("copyonly", {}));
    EXPECT_TRUE(root.FileExists("copyonly"));
    EXPECT_FALSE(root.FileExists("EFI")) << "a folder is no file";
    EXPECT_FALSE(root.FileExists("nothing"));
    EXPECT_FALSE(root.MakeFolder("copyonly")) << "a file is in the way";
    EXPECT_FALSE(root.FileExists("*")) << "wildcards are refused";

    FatVolumeRoot notFat(dir / "nothing.img");
    EXPECT_FALSE(notFat.FileExists("copyonly"));
    EXPECT_FALSE(notFat.MakeFolder("EFI"));
}

TEST_F(FatVolumeRootTest, WrittenAndCopiedFilesReadBackByteForByte) {
    FatVolumeRoot root(image);
    ASSERT_TRUE(root.MakeFolder("branding"));
    const std::string text = "Corvane \xC3\xBC";  // UTF-8, no line end
    ASSERT_TRUE(root.WriteFile("branding/companyName", Bytes(text)));
    EXPECT_EQ(Read("branding/companyName"), text);
    ASSERT_TRUE(root.WriteFile("branding/companyName", Bytes("x")));
    EXPECT_EQ(Read("branding/companyName"), "x") << "replaced, not appended";

    struct Case {
        const char* name;
        std::size_t size;
    };
    for (const Case& c : {Case{"empty.bin", 0}, Case{"small.cfg", 17},
                          Case{"three-chunks-and-a-bit.tar", 3 * FatVolumeRoot::kChunkSize + 5}}) {
        SCOPED_TRACE(c.name);
        const std::string source = dir / c.name;
        const std::string bytes = RandomBytes(c.size, static_cast<unsigned>(c.size));
        WriteFileBytes(source, bytes);
        std::vector<std::uint64_t> reported;
        ASSERT_TRUE(root.CopyFileIn(source, c.name, [&](std::uint64_t done) {
            reported.push_back(done);
            return true;
        }));
        EXPECT_EQ(Read(c.name), bytes);
        if (c.size > 0) {
            ASSERT_FALSE(reported.empty());
            EXPECT_EQ(reported.back(), c.size);
            EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end()));
            EXPECT_EQ(reported.size(),
                      (c.size + FatVolumeRoot::kChunkSize - 1) / FatVolumeRoot::kChunkSize);
        }
    }
}

TEST_F(FatVolumeRootTest, FailuresCarryTheirCause) {
    FatVolumeRoot root(image);
    EXPECT_FALSE(root.CopyFileIn(dir / "missing.efi", "BOOTX64.EFI", {}));
    EXPECT_EQ(root.LastError(), ENOENT);

    const std::string big = dir / "big.bin";
    WriteFileBytes(big, RandomBytes(3 * FatVolumeRoot::kChunkSize, 1));
    int calls = 0;
    EXPECT_FALSE(root.CopyFileIn(big, "big.bin", [&](std::uint64_t) { return ++calls < 2; }));
    EXPECT_EQ(root.LastError(), ECANCELED);
    EXPECT_EQ(calls, 2);

    const std::string small = dir / "small.img";
    Format(small, "", 512);
    FatVolumeRoot full(small);
    EXPECT_FALSE(full.CopyFileIn(big, "big.bin", {}));
    EXPECT_EQ(full.LastError(), ENOSPC);
    const std::string nodeCfg(600000, 'n');
    EXPECT_FALSE(full.WriteFile("node.cfg", Bytes(nodeCfg)));
    EXPECT_EQ(full.LastError(), ENOSPC);
    // Both are failures the run can tell, and the read-back matches them
    // with what they should hold: a failed write never passes as written.
    ASSERT_EQ(full.FailedFiles().size(), 2u);
    EXPECT_EQ(full.FailedFiles()[1].relPath, "node.cfg");
    EXPECT_EQ(full.FailedFiles()[1].error, ENOSPC);
    ASSERT_EQ(full.Written().size(), 2u);
    EXPECT_EQ(full.Written()[0].relPath, "big.bin");
    EXPECT_EQ(full.Written()[0].size, 3 * FatVolumeRoot::kChunkSize);
    EXPECT_EQ(full.Written()[1].size, nodeCfg.size());
    EXPECT_TRUE(std::equal(nodeCfg.begin(), nodeCfg.end(), full.Written()[1].bytes.begin(),
                           full.Written()[1].bytes.end()));

    // A device that ends inside a file being read back: an error, never a wait.
    std::map<std::string, FatVolumeRoot::StoredFile> found;
    ASSERT_TRUE(root.CopyFileIn(big, "whole.bin", {}));
    ASSERT_TRUE(root.LocateFiles({"whole.bin"}, found));
    ASSERT_EQ(found.count("whole.bin"), 1u);
    const std::size_t at =
        ReadFileBytes(image).find(RandomBytes(3 * FatVolumeRoot::kChunkSize, 1).substr(0, 4096));
    ASSERT_NE(at, std::string::npos);
    std::filesystem::resize_file(image, at + FatVolumeRoot::kChunkSize + 5);
    std::size_t stoppedAt = 99;
    EXPECT_FALSE(root.ReadFilesOut(
        {&found["whole.bin"]}, [](std::size_t, auto) { return true; }, stoppedAt));
    EXPECT_EQ(root.LastError(), EIO);
    EXPECT_EQ(stoppedAt, 0u);
}

// A folder with its own tools/ runs only those: mtools from PATH would hide
// an incomplete folder until it reaches a machine without them.
TEST_F(FatVolumeRootTest, AFolderWithItsOwnToolsUsesOnlyThose) {
    const std::string folder = dir / "inst";
    EXPECT_EQ(ToolPath(folder, "mdir"), ToolPath("", "mdir")) << "no tools/: the system's";
    EXPECT_EQ(MissingTool(folder), "");
    std::filesystem::create_directories(folder + "/tools");
    const std::vector<std::string>& all = kBundledTools;
    for (std::size_t have : {std::size_t{0}, all.size() - 1, all.size()}) {
        std::error_code ec;  // links made for a smaller count stay
        for (std::size_t i = 0; i < have; ++i) {
            std::filesystem::create_symlink(ToolPath("", all[i]), folder + "/tools/" + all[i], ec);
        }
        EXPECT_EQ(MissingTool(folder), have < all.size() ? "tools/" + all[have] : "") << have;
        EXPECT_EQ(FatVolumeRoot(image, folder).MakeFolder("made"), have > 0) << have;
    }
}

// The copy goes through the whole disk; both nodes are held open, so the disk's
// cache keeps zeros from before the format and the partition's a tool's file.
TEST(FatVolumeRootOnDisk, CopiesInLargeRequestsAndKeepsBothNodesTrue) {
    FLINTMERE_REQUIRE_TOOLS("losetup", "sfdisk", "partx", "mkfs.fat", "mcopy", "fsck.fat");
    if (::geteuid() != 0) GTEST_SKIP() << "needs root for a loop device";
    TempDir dir;
    const std::string image = dir / "d.img",
                      attach = "losetup -f --show -P " + image + " | tr -d '\\n'";
    struct Loop {
        std::string disk;
        ~Loop() { RunProgram({"losetup", "-d", disk}); }
    } loop{RunProgram({"sh", "-c", "truncate -s 128M " + image + " && " + attach}).out};
    if (loop.disk.empty()) GTEST_SKIP() << "no loop device here";
    const std::string &disk = loop.disk, volume = disk + "p1";
    RunProgram({"sh", "-c", "echo 63,,b | sfdisk -q " + disk + "; partx -u " + disk});
    for (int i = 0; i < 50 && ::access(volume.c_str(), F_OK) != 0; ++i) ::usleep(100000);
    UniqueFd holdDisk(::open(disk.c_str(), O_RDONLY)), holdVolume(::open(volume.c_str(), O_RDONLY));
    char stale[1 << 16];
    ASSERT_GT(::pread(holdDisk.Get(), stale, sizeof stale, 63 * 512), 0);
    ASSERT_TRUE(holdVolume.Valid() && RunProgram({"mkfs.fat", "-F", "32", volume}).exitStatus == 0);
    const std::string big = RandomBytes(16u << 20, 7), other = "a tool's file";
    WriteFileBytes(dir / "big", big);
    WriteFileBytes(dir / "other", other);
    const std::string stats = "/sys/block/" + disk.substr(5) + "/stat";
    unsigned long long before[7] = {}, after[7] = {};
    FatVolumeRoot root(volume);
    root.WatchWrites(true);
    const std::vector<std::string> env = {"MTOOLS_SKIP_CHECK=1"};
    ASSERT_EQ(RunProgram({"mcopy", "-i", volume, dir / "other", "::/other"}, env).exitStatus, 0);
    for (std::istringstream in(ReadFileBytes(stats)); auto& field : before) in >> field;
    ASSERT_TRUE(root.CopyFileIn(dir / "big", "big", {}));
    root.WatchWrites(false);
    for (std::istringstream in(ReadFileBytes(stats)); auto& field : after) in >> field;
    EXPECT_GT(after[6] - before[6], 256 * (after[4] - before[4]))
        << "write requests (field 4) of 128 KiB or less";
    for (const auto& [name, bytes] : {std::pair{"big", big}, {"other", other}}) {
        const auto r = RunProgram({"mtype", "-i", volume, "::/" + std::string(name)}, env);
        EXPECT_TRUE(r.exitStatus == 0 && r.out == bytes) << name << ": " << r.err;
    }
    EXPECT_EQ(RunProgram({"fsck.fat", "-n", volume}).exitStatus, 0);
}

}  // namespace
}  // namespace flintmere
