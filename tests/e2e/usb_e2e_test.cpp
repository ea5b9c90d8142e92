// Whole stick runs on loop devices over sparse images, admitted as
// removable drives. Every result is read back with tools that share no
// code with the program: sfdisk, blkid, fsck.fat and mtools.
#include "usb_rig.h"

namespace flintmere::testing {
namespace {

TEST_F(usb_e2e, MbrWithLegacyLoader) {
    app->record.m_partitioned = 1;
    app->record.m_legacyBios = 1;
    ASSERT_EQ(Run(), 1) << Log();
    EXPECT_EQ(app->engine.m_setupStatus, SetupComplete);

    const std::string table = Table();
    EXPECT_EQ(JsonValue(table, "label"), "dos") << table;
    EXPECT_EQ(JsonValue(table, "start"), "63") << "byte 32256, 63 hidden sectors";
    EXPECT_EQ(JsonValue(table, "size"), std::to_string(kGeometrySectors - 63));
    EXPECT_EQ(JsonValue(table, "type"), "b");
    EXPECT_EQ(JsonValue(table, "bootable"), "true");
    EXPECT_EQ(table.find("\"node\"", table.find("\"node\"") + 1), std::string::npos)
        << "slots 2 to 4 stay empty";
    ExpectInstalledVolume(stick->Partition(), true);

    const std::string disk = ReadHead(dir / "stick.img", 440);
    const std::string mbr = ReadFileBytes("/usr/lib/syslinux/mbr/mbr.bin").substr(0, 440);
    EXPECT_TRUE(disk == mbr) << "SYSLINUX boot code in the first 440 bytes";

    const std::string log = Log();
    for (const char* line :
         {"SetupUSB(): setup partition scheme", "SetupUSB(): Create partition table of",
          "SetupUSB(): Creating partitions...",
          "SetupUSB(): Format starting: mkfs.fat -F 32 -n tvq -I ", "SetupUSB(): syslinux",
          "SetupUSB(): syslinux.cfg file", "SetupUSB(): usb.conf file", "SetupUSB(): done"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(progress.CloseRequests(), 1);
    std::vector<int> positions = progress.Positions();
    ASSERT_GE(positions.size(), 5u);
    EXPECT_EQ(std::vector<int>(positions.begin(), positions.begin() + 5),
              (std::vector<int>{1, 2, 5, 10, 11}));
    KeepImage("usb-mbr-bios.img");
}

TEST_F(usb_e2e, GptUefiOnly) {
    app->record.m_partitioned = 1;
    app->record.m_gptPartition = 1;
    app->record.m_legacyBios = 1;  // no SYSLINUX on GPT all the same
    ASSERT_EQ(Run(), 1) << Log();

    const std::string table = Table();
    EXPECT_EQ(JsonValue(table, "label"), "gpt") << table;
    EXPECT_EQ(JsonValue(table, "start"), "2048") << "1 MiB";
    EXPECT_EQ(JsonValue(table, "firstlba"), "34");
    EXPECT_EQ(JsonValue(table, "size"), std::to_string(kGeometrySectors - 2048));
    EXPECT_EQ(JsonValue(table, "type"), "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7");
    EXPECT_EQ(JsonValue(table, "name"), "SBC Instalation software");
    ExpectInstalledVolume(stick->Partition(), false);
    EXPECT_EQ(Log().find("SetupUSB(): syslinux"), std::string::npos);
    KeepImage("usb-gpt-uefi.img");
}

TEST_F(usb_e2e, UnpartitionedWithLegacyLoader) {
    // An old table and file system on the stick must go.
    ASSERT_EQ(RunProgram({"sh", "-c", "echo 'start=2048, type=83' | sfdisk -q " + stick->Device()})
                  .exitStatus,
              0);
    app->record.m_partitioned = 0;
    app->record.m_legacyBios = 1;
    ASSERT_EQ(Run(), 1) << Log();
    EXPECT_EQ(Blkid(stick->Device(), "PTTYPE"), "");
    ExpectInstalledVolume(stick->Device(), true);
    EXPECT_NE(Log().find("syslinux/syslinux -f " + stick->Device()), std::string::npos);
    EXPECT_EQ(Log().find("Create partition table"), std::string::npos);
}

TEST_F(usb_e2e, CopyOnlyKeepsTheStick) {
    app->record.m_partitioned = 1;
    ASSERT_EQ(Run(), 1) << Log();
    const std::string volume = stick->Partition();
    const std::string tableBefore = Table();
    ASSERT_EQ(RunProgram({"sh", "-c",
                          "echo keep | mcopy -i " + volume +
                              " - ::/copyonly && "
                              "echo mine | mcopy -i " +
                              volume + " - ::/operator.txt"},
                         {"MTOOLS_SKIP_CHECK=1"})
                  .exitStatus,
              0);

    app->record.m_serverName = u"sbc-second";
    progress.SetCurrentPos(0);
    const std::size_t logBefore = Log().size();
    ASSERT_EQ(Run(), 1) << Log();
    const std::string log = Log().substr(logBefore);
    EXPECT_EQ(log.find("setup partition scheme"), std::string::npos) << "no wipe, no format";
    EXPECT_EQ(log.find("SetupUSB(): syslinux"), std::string::npos);
    EXPECT_EQ(Table(), tableBefore);
    EXPECT_EQ(Mtype(volume, "copyonly"), "keep\n");
    EXPECT_EQ(Mtype(volume, "operator.txt"), "mine\n");
    ExpectInstalledVolume(volume, true);  // the loader of the first run stays
}

TEST_F(usb_e2e, DatabaseSourceWithBranding) {
    std::string db = ReadFileBytes(FLINTMERE_SOURCE_DIR "/samples/config.xml");
    if (db.empty()) GTEST_SKIP() << "samples/config.xml is missing";
    WriteFileBytes(dir / "site.xml", db);
    ASSERT_TRUE(app->config.OpenDbFile(app->record, FromPath(dir / "site.xml")));
    app->record.m_configSource = ConfigFromDatabase;
    app->record.m_partitioned = 1;
    app->record.m_companyName = u"M\u00fcller Telekom";
    app->record.m_productName = u"Branch SBC";
    app->record.m_tla = u"";
    app->record.m_logoFile = u"logo.png";
    app->record.m_logoData = {0x89, 'P', 'N', 'G', 0, 1, 2};
    // The stick writer reads the logo again, where the operator chose it.
    app->stickWriter.m_logoSourcePath = FromPath(dir / "logo.png");
    WriteFileBytes(dir / "logo.png",
                   std::string(app->record.m_logoData.begin(), app->record.m_logoData.end()));
    ASSERT_EQ(Run(), 1) << Log();
    const std::string volume = stick->Partition();
    ExpectInstalledVolume(volume, true);
    EXPECT_TRUE(Mtype(volume, "config.xml") == db);
    EXPECT_EQ(Mtype(volume, "branding/companyName"), "M\xC3\xBCller Telekom");
    EXPECT_EQ(Mtype(volume, "branding/productName"), "Branch SBC");
    EXPECT_FALSE(Exists(volume, "branding/tla"));
    EXPECT_EQ(Mtype(volume, "branding/logoPicture/logo.png"), std::string("\x89PNG\0\1\2", 7));
    // node.cfg 11, database 12, two texts and the logo 13..15.
    std::vector<int> positions = progress.Positions();
    ASSERT_GE(positions.size(), 9u);
    EXPECT_EQ(std::vector<int>(positions.begin() + 3, positions.begin() + 9),
              (std::vector<int>{10, 11, 12, 13, 14, 15}));

    // The stick writer's stick is byte for byte the one this process writes,
    // but for the ids that each run draws anew.
    auto capture = [&] {
        std::string all = ReadHead(dir / "stick.img", 440) + Table();
        for (const char* key : {"id", "uuid"}) {
            for (std::size_t at = all.find("\"" + std::string(key) + "\""); at != std::string::npos;
                 at = all.find("\"" + std::string(key) + "\"", at + 1)) {
                all.erase(at, all.find_first_of(",\n", at) - at);
            }
        }
        for (const char* path :
             {"node.cfg", "config.xml", "branding/companyName", "branding/productName",
              "branding/logoPicture/logo.png", "syslinux.cfg", "ldlinux.c32",
              "EFI/BOOT/BOOTX64.EFI", "loader/loader.conf", "loader/entries/auto.conf", "vmlinuz",
              "initrd.gz", "image_zev-1.2.3.4-5.tar"}) {
            all += std::string("\n== ") + path + "\n" + Mtype(volume, path);
        }
        return all;
    };
    const std::string fromWriter = capture();
    app->stickWriter.m_stickRunInProcess = [this] { return app->engine.SetupUSB(); };
    ASSERT_EQ(Run(), 1) << Log();
    EXPECT_TRUE(capture() == fromWriter) << "the two runs wrote different sticks";
}

TEST_F(usb_e2e, HeldStickIsBlocked) {
    // Something the run must not destroy.
    ASSERT_EQ(RunProgram({"sh", "-c", "echo 'start=2048, type=c' | sfdisk -q " + stick->Device()})
                  .exitStatus,
              0);
    const std::string before = ReadHead(dir / "stick.img", 16384);
    UniqueFd holder(::open(stick->Device().c_str(), O_RDONLY | O_EXCL | O_CLOEXEC));
    ASSERT_TRUE(holder.Valid()) << "could not hold the stick";
    app->record.m_partitioned = 1;
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(app->engine.m_setupStatus, SetupBlocked);
    EXPECT_NE(Log().find("SetupUSB(): Could not delete the partition table"), std::string::npos)
        << Log();
    const std::vector<int> pauses = WriterPauses();
    EXPECT_EQ(std::count(pauses.begin(), pauses.end(), 1000), 1 + 1 + 4)
        << "verify, erase, retries";
    EXPECT_TRUE(ReadHead(dir / "stick.img", 16384) == before) << "stick untouched";
    EXPECT_EQ(progress.CloseRequests(), 1);
}

}  // namespace
}  // namespace flintmere::testing
