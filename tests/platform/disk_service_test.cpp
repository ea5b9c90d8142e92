// Stick discovery over a made-up sysfs tree, and partition 1 read back from
// disk images that sfdisk and mkfs.fat made.
#include "platform/disk_service.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/fd_io.h"
#include "support/fakes.h"
#include "support/run_program.h"

namespace flintmere {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::WriteFileBytes;

struct FakeDisk {
    std::string name;
    bool removable = true;
    bool usb = true;
    std::uint64_t sectors = 15633408;
    std::string scsiType = "0";
    std::string vendor = "SanDisk ";
    std::string model = "Cruzer          ";
    std::string seq = "42";
    std::string dev = "8:16";
    std::vector<std::pair<std::string, std::string>> partitions = {};  // name, dev
};

class FakeSysfs {
  public:
    FakeSysfs() {
        fs::create_directories(root / "sys/block");
        fs::create_directories(root / "dev");
        fs::create_directories(root / "proc/self");
        WriteFileBytes(root / "proc/self/mountinfo", "");
        WriteFileBytes(root / "proc/swaps", "Filename\tType\tSize\tUsed\tPriority\n");
    }
    void Add(const FakeDisk& d) {
        const std::string parent = d.usb ? "sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/"
                                           "host6/target6:0:0/6:0:0:0/block/"
                                         : "sys/devices/pci0000:00/0000:00:17.0/ata1/host0/"
                                           "target0:0:0/0:0:0:0/block/";
        const std::string dir = root / (parent + d.name);
        fs::create_directories(dir + "/device");
        fs::create_directories(dir + "/queue");
        WriteFileBytes(dir + "/removable", d.removable ? "1\n" : "0\n");
        WriteFileBytes(dir + "/size", std::to_string(d.sectors) + "\n");
        WriteFileBytes(dir + "/dev", d.dev + "\n");
        WriteFileBytes(dir + "/diskseq", d.seq + "\n");
        WriteFileBytes(dir + "/queue/logical_block_size", "512\n");
        if (!d.scsiType.empty()) WriteFileBytes(dir + "/device/type", d.scsiType + "\n");
        WriteFileBytes(dir + "/device/vendor", d.vendor + "\n");
        WriteFileBytes(dir + "/device/model", d.model + "\n");
        for (const auto& [part, dev] : d.partitions) {
            fs::create_directories(dir + "/" + part);
            WriteFileBytes(dir + "/" + part + "/partition", "1\n");
            WriteFileBytes(dir + "/" + part + "/dev", dev + "\n");
        }
        fs::create_symlink(dir, root / ("sys/block/" + d.name));
    }
    LinuxDiskService Service(std::vector<std::string> admitted = {}) {
        return LinuxDiskService(DiskRoots{root / "sys", root / "dev", root / "proc"},
                                std::move(admitted));
    }
    std::vector<std::string> Names(std::vector<std::string> admitted = {}) {
        std::vector<std::string> names;
        for (const RemovableDisk& d : Service(std::move(admitted)).ListRemovableDisks()) {
            names.push_back(d.name);
        }
        return names;
    }

    TempDir root;
};

using Names = std::vector<std::string>;

TEST(StickDiscovery, ListsRemovableUsbDisksWithMedia) {
    FakeSysfs sys;
    sys.Add({.name = "sda", .removable = false, .usb = false, .dev = "8:0"});
    EXPECT_EQ(sys.Names(), Names{}) << "a fixed disk is no stick";

    sys.Add({.name = "sdc", .seq = "43", .dev = "8:32"});
    sys.Add({.name = "sdb", .seq = "42", .dev = "8:16"});
    sys.Add({.name = "fd0", .usb = true, .scsiType = "", .dev = "2:0"});
    sys.Add({.name = "sr0", .scsiType = "5", .dev = "11:0"});
    sys.Add({.name = "sdd", .scsiType = "5", .dev = "8:48"});  // optical drive on a SCSI name
    sys.Add({.name = "sde", .sectors = 0, .dev = "8:64"});     // card reader without a card
    sys.Add({.name = "sdf", .removable = false, .usb = true, .dev = "8:80"});  // USB hard disk
    sys.Add({.name = "loop3", .removable = false, .usb = false, .dev = "7:3"});
    EXPECT_EQ(sys.Names(), (Names{"sdb", "sdc", "sdf"}));
    EXPECT_EQ(sys.Names({"loop3"}), (Names{"sdb", "sdc", "sdf", "loop3"}));

    const auto disks = sys.Service().ListRemovableDisks();
    const RemovableDisk& b = disks[0];
    EXPECT_EQ(b.identity, "sdb:42");
    EXPECT_EQ(b.description, "SanDisk Cruzer");
    EXPECT_EQ(b.devicePath, sys.root / "dev/sdb");
    EXPECT_EQ(b.lengthBytes, 15633408ull * 512);
    EXPECT_EQ(b.geometry.bytesPerSector, 512u);
    EXPECT_EQ(b.geometry.cylinders, 973u);
    EXPECT_EQ(b.geometry.Size(), 973ull * 255 * 63 * 512);
    EXPECT_NE(b.deviceNumber, 0u);
}

TEST(StickDiscovery, DiskOfTheRunningSystemIsNeverListed) {
    FakeSysfs sys;
    sys.Add({.name = "sdb", .dev = "8:16", .partitions = {{"sdb1", "8:17"}}});
    sys.Add({.name = "sdc", .dev = "8:32", .partitions = {{"sdc1", "8:33"}}});
    ASSERT_EQ(sys.Names(), (Names{"sdb", "sdc"}));

    // A logical volume dm-0 built on sdb1.
    fs::create_directories(sys.root / "sys/devices/virtual/block/dm-0/slaves/sdb1");
    fs::create_directories(sys.root / "sys/dev/block");
    fs::create_symlink(sys.root / "sys/devices/virtual/block/dm-0", sys.root / "sys/block/dm-0");
    fs::create_symlink(sys.root / "sys/devices/virtual/block/dm-0",
                       sys.root / "sys/dev/block/253:0");

    struct Case {
        const char* mountInfo;
        bool refused;
    };
    for (const Case& c : {
             Case{"36 35 8:17 / / rw - vfat /dev/sdb1 rw", true},
             Case{"36 35 8:17 / /boot rw - vfat /dev/sdb1 rw", true},
             Case{"36 35 8:17 / /usr rw shared:1 - vfat /dev/sdb1 rw", true},
             Case{"36 35 8:17 / /home rw - vfat /dev/sdb1 rw", true},
             Case{"36 35 8:17 / /media/stick rw - vfat /dev/sdb1 rw", false},
             // btrfs shows an anonymous device number; its source names the partition.
             Case{"36 35 0:31 / / rw - btrfs /dev/sdb1 rw", true},
             Case{"36 35 0:31 / /media/stick rw - btrfs /dev/sdb1 rw", false},
             Case{"36 35 253:0 / / rw - ext4 /dev/mapper/vg-root rw", true},
         }) {
        WriteFileBytes(sys.root / "proc/self/mountinfo", std::string(c.mountInfo) + "\n");
        EXPECT_EQ(sys.Names(), c.refused ? Names{"sdc"} : (Names{"sdb", "sdc"})) << c.mountInfo;
    }
}

// Tests below read real tables from image files made by the system's tools.

class PartitionReadBack : public ::testing::Test {
  public:
    void SetUp() override {
        FLINTMERE_REQUIRE_TOOLS("sfdisk", "mkfs.fat");
        image = dir / "disk.img";
    }
    RemovableDisk Disk() {
        RemovableDisk d;
        d.name = "img";
        d.devicePath = image;
        return d;
    }
    void Run(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }

    TempDir dir;
    std::string image;
};

TEST_F(PartitionReadBack, Layouts) {
    WriteFileBytes(image, "");
    fs::resize_file(image, 64 << 20);
    LinuxDiskService service;
    PartitionEntry e;

    ASSERT_TRUE(service.ReadPartitionInfo(Disk(), e));
    EXPECT_EQ(e.style, PartitionStyle::Raw) << "blank disk";

    // A FAT volume on the whole disk is no partition table.
    Run("mkfs.fat -F 32 -n tvq -I " + image + " >/dev/null 2>&1");
    ASSERT_TRUE(service.ReadPartitionInfo(Disk(), e));
    EXPECT_EQ(e.style, PartitionStyle::Raw) << "superfloppy";

    Run("echo 'label: dos\nlabel-id: 0x12345678\nstart=63, type=c, bootable' | sfdisk -q " + image);
    ASSERT_TRUE(service.ReadPartitionInfo(Disk(), e));
    EXPECT_EQ(e.style, PartitionStyle::Mbr);
    EXPECT_EQ(e.startingOffset, 32256u);
    EXPECT_EQ(e.mbrType, 0x0C);
    EXPECT_TRUE(e.bootIndicator);
    EXPECT_EQ(e.hiddenSectors, 63u);
    EXPECT_EQ(e.mbrSignature, 0x12345678u);

    Run("echo 'label: gpt\nstart=2048, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7, "
        "uuid=0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f0, name=\"SBC Instalation software\"' | "
        "sfdisk -q " +
        image);
    ASSERT_TRUE(service.ReadPartitionInfo(Disk(), e));
    EXPECT_EQ(e.style, PartitionStyle::Gpt);
    EXPECT_EQ(e.startingOffset, 1048576u);
    EXPECT_EQ(e.gptType, kBasicDataPartitionType);
    EXPECT_EQ(e.gptId, "0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F0");
    EXPECT_EQ(e.gptName, u"SBC Instalation software");

    // No such file: nothing can be read.
    RemovableDisk missing = Disk();
    missing.devicePath = dir / "none.img";
    EXPECT_FALSE(service.ReadPartitionInfo(missing, e));
}

// What the kernel holds of a stick is written out node by node, before a
// run says done and before the read-back: a node whose sync fails fails the
// whole call with its error.
TEST(StickCache, EveryNodeIsSyncedAndAFailedSyncFailsTheCall) {
    FakeSysfs sys;
    sys.Add({.name = "sdb", .partitions = {{"sdb1", "8:17"}}});
    WriteFileBytes(sys.root / "dev/sdb", "");
    WriteFileBytes(sys.root / "dev/sdb1", "");
    LinuxDiskService service = sys.Service();
    const std::vector<RemovableDisk> disks = service.ListRemovableDisks();
    ASSERT_EQ(disks.size(), 1u);
    const std::string volume = sys.root / "dev/sdb1";
    for (const bool drop : {false, true}) {
        for (const std::string refused : {"", "sdb", "sdb1"}) {
            SCOPED_TRACE((drop ? "drop, refused " : "flush, refused ") + refused);
            std::vector<std::string> synced;
            SyncOverride sync([&](int fd) {
                synced.push_back(
                    fs::read_symlink("/proc/self/fd/" + std::to_string(fd)).filename().string());
                if (synced.back() != refused) return 0;
                errno = EIO;
                return -1;
            });
            int error = 0;
            const bool ok = drop ? service.DropCachedPages(disks[0], volume, error)
                                 : service.FlushDisk(disks[0], error);
            EXPECT_EQ(ok, refused.empty());
            EXPECT_EQ(error, refused.empty() ? 0 : EIO);
            std::sort(synced.begin(), synced.end());
            EXPECT_EQ(synced, (std::vector<std::string>{"sdb", "sdb1"}));
        }
    }
}

TEST(Guids, RandomVersionFourInCanonicalForm) {
    const std::string a = NewGuidText(), b = NewGuidText();
    EXPECT_NE(a, b);
    ASSERT_EQ(a.size(), 36u);
    EXPECT_EQ(a[14], '4');
    EXPECT_NE(std::string("89AB").find(a[19]), std::string::npos);
    for (std::size_t i : {8u, 13u, 18u, 23u}) EXPECT_EQ(a[i], '-');
}

}  // namespace
}  // namespace flintmere
