// The media list, the drive table and the search for a stick's volume,
// over a disk service whose disks the test sets.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "support/fake_disks.h"
#include "support/fakes.h"

namespace flintmere {
namespace {

using testing::FakeDisks;
using testing::ReadFileBytes;
using testing::TempDir;
using testing::TestApp;

RemovableDisk Stick(const std::string& name, unsigned minor, const std::string& seq,
                    std::uint64_t bytes, const std::string& description) {
    RemovableDisk d;
    d.name = name;
    d.devicePath = "/dev/" + name;
    d.identity = name + ":" + seq;
    d.description = description;
    d.deviceNumber = (8u << 8) | minor;
    d.lengthBytes = bytes;
    d.geometry = DiskGeometry::FromLength(bytes, 512);
    return d;
}

PartitionEntry Mbr(std::uint8_t type) {
    PartitionEntry e;
    e.style = PartitionStyle::Mbr;
    e.mbrType = type;
    e.startingOffset = 32256;
    e.length = 1 << 30;
    return e;
}

PartitionEntry Gpt(const char* name, const std::string& type, const std::string& id) {
    PartitionEntry e;
    e.style = PartitionStyle::Gpt;
    e.gptName = Utf8ToUtf16(name);
    e.gptType = type;
    e.gptId = id;
    e.startingOffset = 1048576;
    e.length = 1 << 30;
    return e;
}

class DriveDiscoveryTest : public ::testing::Test {
  public:
    void SetUp() override {
        app.env.tempFolder = FromPath(tmp.Path() + "/");
        app->services.OpenLog();
        app->engine.SetDiskService(&disks);
    }
    std::string Log() { return ReadFileBytes(app->services.m_logFile.Path()); }
    int PausesOf(int ms) {
        auto p = app.clock.Pauses();
        return static_cast<int>(std::count(p.begin(), p.end(), ms));
    }

    TempDir tmp;
    TestApp app;
    FakeDisks disks;
};

TEST(ByteSizeText, ShortFormWithThreeDigits) {
    const std::pair<std::uint64_t, const char16_t*> cases[] = {
        {0, u"0 bytes"},
        {532, u"532 bytes"},
        {1024, u"1.00 KB"},
        {1536, u"1.50 KB"},
        {8003197440ull, u"7.45 GB"},
        {16ull * 1000 * 1000 * 1000, u"14.9 GB"},
        {128ull * 1000 * 1000 * 1000, u"119 GB"},
        {1023ull * 1024 * 1024, u"0.99 GB"},
        {2ull << 40, u"2.00 TB"},
    };
    for (const auto& [bytes, text] : cases) {
        EXPECT_EQ(FormatByteSizeShort(bytes), text) << bytes;
    }
}

TEST_F(DriveDiscoveryTest, NoStickLeavesOnlyTheIsoEntrySelected) {
    MediaList list;
    app->engine.RefreshDevices(list);
    EXPECT_EQ(list.entries, std::vector<u16>{u"Virtual Machine ISO image"});
    EXPECT_EQ(list.selected, 0);
    EXPECT_NE(Log().find("RefreshDevices(): start"), std::string::npos);
    EXPECT_NE(Log().find("RefreshDevices(): done"), std::string::npos);
}

TEST_F(DriveDiscoveryTest, SticksAreListedInOrderWithTheirTableRows) {
    disks.disks = {Stick("sdb", 16, "42", 15633408ull * 512, "SanDisk Cruzer"),
                   Stick("sdc", 32, "43", 4000000000ull, "")};
    MediaList list;
    app->engine.RefreshDevices(list);
    ASSERT_EQ(list.entries.size(), 3u);
    EXPECT_EQ(list.entries[0], u"/dev/sdb  SanDisk Cruzer (7.45 GB)");
    EXPECT_EQ(list.entries[1], u"/dev/sdc (3.72 GB)");
    EXPECT_EQ(list.entries[2], u"Virtual Machine ISO image");
    EXPECT_EQ(list.selected, 0);
    EXPECT_EQ(app->engine.m_driveVolumeName[0], u"sdb:42");
    EXPECT_EQ(app->engine.m_driveVolumeName[1], u"sdc:43");
    // Sizes follow the 255 x 63 geometry, whole cylinders only.
    EXPECT_EQ(app->engine.m_driveSize[0], 973ull * 255 * 63 * 512);
    EXPECT_EQ(app->engine.m_driveSize[1], 486ull * 255 * 63 * 512);
    EXPECT_NE(
        Log().find("RefreshDevices(): found /dev/sdb  SanDisk Cruzer (7.45 GB), volname=sdb:42"),
        std::string::npos);

    // Rows beyond the new count keep what the earlier refresh left.
    disks.disks.pop_back();
    app->engine.RefreshDevices(list);
    EXPECT_EQ(list.entries.size(), 2u);
    EXPECT_EQ(app->engine.m_driveVolumeName[1], u"sdc:43");
}

TEST_F(DriveDiscoveryTest, LocateFindsTheSelectedStickByIdentityOnly) {
    disks.disks = {Stick("sdb", 16, "42", 2ull << 30, "A"),
                   Stick("sdc", 32, "43", 2ull << 30, "B")};
    disks.volumes = {{"sdb", "/dev/sdb1"}, {"sdc", "/dev/sdc"}};
    MediaList list;
    app->engine.RefreshDevices(list);

    app->engine.m_selectedDrive = 1;
    StickLocation found = app->engine.LocateSelectedStick();
    EXPECT_TRUE(found.found);
    EXPECT_EQ(found.disk.name, "sdc");
    EXPECT_EQ(found.volume, "/dev/sdc");

    // Plugged back in: same port and name, new attach.
    disks.disks[1].identity = "sdc:57";
    EXPECT_FALSE(app->engine.LocateSelectedStick().found);
    app->engine.m_selectedDrive = 5;  // a row never filled
    EXPECT_FALSE(app->engine.LocateSelectedStick().found);
}

TEST_F(DriveDiscoveryTest, FindDiskMatchesByIdentityFirst) {
    disks.disks = {Stick("sdb", 16, "42", 2ull << 30, "A")};
    disks.volumes = {{"sdb", "/dev/sdb"}};
    app->engine.m_driveVolumeName[0] = u"sdb:42";
    EXPECT_EQ(app->engine.FindDisk(nullptr, nullptr), "/dev/sdb");
    EXPECT_NE(Log().find("SetupUSB(): Finding disk..."), std::string::npos);
    EXPECT_NE(Log().find("SetupUSB(): Checking /dev/sdb sdb:42"), std::string::npos);
    EXPECT_NE(Log().find("SetupUSB(): select /dev/sdb by volume ID"), std::string::npos);
    EXPECT_EQ(PausesOf(30), 0);
}

TEST_F(DriveDiscoveryTest, FindDiskWaitsForTheVolumeToAppear) {
    disks.disks = {Stick("sdb", 16, "42", 2ull << 30, "A")};
    disks.volumes = {{"sdb", "/dev/sdb1"}};
    disks.volumeFromPass = 4;
    app->engine.m_driveVolumeName[0] = u"sdb:42";
    EXPECT_EQ(app->engine.FindDisk(nullptr, nullptr), "/dev/sdb1");
    EXPECT_EQ(PausesOf(30), 3);
}

TEST_F(DriveDiscoveryTest, FindDiskPartitionRules) {
    const std::string type = kBasicDataPartitionType;
    const std::string id = "0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F0";
    const PartitionEntry written = Gpt("SBC Instalation software", type, id);
    struct Case {
        const char* name;
        bool gpt;
        bool partitioned;
        PartitionEntry onDisk;
        bool withWritten;
        bool sameDisk;
        bool matches;
    };
    const Case cases[] = {
        {"MBR FAT32", false, true, Mbr(0x0B), false, true, true},
        {"MBR FAT32 with LBA", false, true, Mbr(0x0C), false, true, true},
        {"MBR NTFS", false, true, Mbr(0x07), false, true, false},
        {"MBR on another disk", false, true, Mbr(0x0B), false, false, false},
        {"not partitioned", false, false, Mbr(0x0B), false, true, false},
        {"GPT asked, MBR found", true, true, Mbr(0x0B), false, true, false},
        {"MBR asked, GPT found", false, true, Gpt("SBC Instalation software", type, id), false,
         true, false},
        {"GPT name in other case", true, true, Gpt("sbc INSTALATION SOFTWARE", type, id), true,
         true, true},
        {"GPT name spelt right is not ours", true, true, Gpt("SBC Installation software", type, id),
         true, true, false},
        {"GPT other partition id", true, true,
         Gpt("SBC Instalation software", type, "11111111-2222-4333-8444-555555555555"), true, true,
         false},
        {"GPT other type", true, true,
         Gpt("SBC Instalation software", "0FC63DAF-8483-4772-8E79-3D69D8477DE4", id), true, true,
         false},
        {"GPT id in lower case", true, true,
         Gpt("SBC Instalation software", type, "0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f0"), true, true,
         true},
        {"GPT without a written entry", true, true,
         Gpt("x Instalation software y", "0FC63DAF-8483-4772-8E79-3D69D8477DE4", "1"), false, true,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        disks.disks = {Stick("sdb", 16, "99", 2ull << 30, "A")};  // a new identity
        disks.tables = {{"sdb", c.onDisk}};
        disks.volumes = {{"sdb", "/dev/sdb1"}};
        app->engine.m_driveVolumeName[0] = u"sdb:42";
        app->record.m_gptPartition = c.gpt;
        app->record.m_partitioned = c.partitioned;
        const RemovableDisk expected =
            c.sameDisk ? disks.disks[0] : Stick("sdc", 32, "42", 2ull << 30, "A");
        app.clock.ClearPauses();
        const std::string got = app->engine.FindDisk(&expected, c.withWritten ? &written : nullptr);
        if (c.matches) {
            EXPECT_EQ(got, "/dev/sdb1");
            EXPECT_EQ(PausesOf(30), 0);
        } else {
            EXPECT_EQ(got, "");
            // 15 s of 30 ms pauses.
            EXPECT_EQ(PausesOf(30), 500);
        }
    }
    EXPECT_NE(Log().find("SetupUSB(): select /dev/sdb1 by partition info"), std::string::npos);
}

TEST_F(DriveDiscoveryTest, FindDiskStopsAtCancel) {
    disks.disks = {Stick("sdb", 16, "99", 2ull << 30, "A")};
    app->engine.m_driveVolumeName[0] = u"sdb:42";
    app->engine.m_workerStop.request_stop();
    EXPECT_EQ(app->engine.FindDisk(nullptr, nullptr), "");
    EXPECT_EQ(PausesOf(30), 1);
}

}  // namespace
}  // namespace flintmere
