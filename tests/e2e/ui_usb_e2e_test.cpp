// The operator makes a stick at the window: a loop device over a sparse
// image stands in for it, and the result is read back with sfdisk, blkid,
// fsck.fat and mtools, which share no code with the program.
#include "support/recording_presenter.h"
#include "support/ui_harness.h"
#include "ui/hardware_lists.h"
#include "usb_rig.h"

namespace flintmere::testing {
namespace {

using namespace ui;

class UiUsbE2e : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs root to attach and write loop devices";
        if (::access("/dev/loop-control", F_OK) != 0) GTEST_SKIP() << "no loop devices here";
        FLINTMERE_REQUIRE_TOOLS("losetup", "sfdisk", "blkid", "fsck.fat", "mkfs.fat", "mtype");
        if (!h.SkipReason().empty()) GTEST_SKIP() << h.SkipReason();
        stick = std::make_unique<LoopStick>(h.dir / "stick.img");
        if (stick->Device().empty()) GTEST_SKIP() << "no free loop device: " << stick->Error();
        service = std::make_unique<LinuxDiskService>(DiskRoots{},
                                                     std::vector<std::string>{stick->Name()});
        h.app().engine.SetDiskService(service.get());
        // The window hands the stick to the stick writer beside it.
        ::setenv("FLINTMERE_TEST_ADMIT", stick->Name().c_str(), 1);
        ASSERT_EQ(
            RunProgram({"cp", FLINTMERE_TEST_WRITER, h.installPath + "/flintmere-stick-writer"})
                .exitStatus,
            0);
        std::string error;
        writerHome = std::make_unique<TempDir>("/run");
        h.app().stickWriter.m_stickWriterPlaces = {
            InstallWriter(h.installPath, *writerHome, error)};
        ASSERT_TRUE(error.empty()) << error;
        TellTestWriter(h.app().stickWriter.m_stickWriterPlaces.front());
        h.app().stickWriter.m_stickRunInProcess = nullptr;
        ASSERT_TRUE(h.Start()) << h.Dump();
    }

    void TearDown() override {
        // The worker must be gone before the stick it writes.
        h.app().engine.CancelWorker();
        if (HasFailure()) std::cerr << h.Dump();
    }

    std::string Mtype(const std::string& volume, const std::string& path) {
        return RunProgram({"mtype", "-i", volume, "::/" + path}, {"MTOOLS_SKIP_CHECK=1"}).out;
    }
    bool Exists(const std::string& volume, const std::string& path) {
        return RunProgram({"mdir", "-a", "-b", "-i", volume, "::/" + path}, {"MTOOLS_SKIP_CHECK=1"})
                   .exitStatus == 0;
    }

    std::unique_ptr<TempDir> writerHome;
    UiHarness h{{.sticks = 0}};
    std::unique_ptr<LoopStick> stick;
    std::unique_ptr<LinuxDiskService> service;
};

TEST_F(UiUsbE2e, UefiBiosStickFromTypedValues) {
    ASSERT_EQ(h.surface().ComboCount(IdMediaSelect), 2) << "the loop device, then the ISO entry";
    ASSERT_EQ(ToPath(h.surface().ComboEntry(IdMediaSelect, 0)).rfind(stick->Device() + " ", 0), 0u);
    ASSERT_EQ(h.surface().ComboSelection(IdMediaSelect), 0);

    ScriptedOperator& op = h.op();
    op.Type(IdHostName, u"sbc-usb-01");
    op.TypeAddress(IdIpAddress, {192, 0, 2, 10});
    op.TypeAddress(IdIpNetmask, {255, 255, 255, 0});
    op.TypeAddress(IdIpGateway, {192, 0, 2, 1});
    op.Click(IdChkSingleArmed);
    op.Choose(IdHardwareType, UsbHwUefiBios);
    h.MarkLog();
    op.Click(IdOk);  // the erase question is answered Yes

    const std::vector<ShownMessage> boxes = h.app_.presenter.Shown();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(ToPath(boxes[0].caption), "USB Stick Setup");
    EXPECT_EQ(ToPath(boxes[1].text), "USB Stick Setup complete");
    EXPECT_TRUE(h.dialog().Ended());
    EXPECT_EQ(h.host.mainDialogResult, kIdOk);
    EXPECT_FALSE(h.host.progressTimedOut);

    // UEFI BIOS: a GPT stick without the legacy loader.
    const std::string table = RunProgram({"sfdisk", "--json", stick->Device()}).out;
    EXPECT_EQ(JsonValue(table, "label"), "gpt") << table;
    const std::string volume = stick->Partition();
    EXPECT_EQ(Blkid(volume, "TYPE"), "vfat");
    EXPECT_EQ(Blkid(volume, "LABEL"), "tvq");
    ProgramResult fsck = RunProgram({"fsck.fat", "-n", volume});
    EXPECT_EQ(fsck.exitStatus, 0) << fsck.out << fsck.err;
    EXPECT_TRUE(Mtype(volume, "EFI/BOOT/BOOTX64.EFI") ==
                ReadFileBytes(h.installPath + "/systemd-boot/systemd-bootx64.efi"));
    EXPECT_TRUE(Mtype(volume, "image_zev-1.2.3.4-5.tar") ==
                ReadFileBytes(h.installPath + "/kx/image_zev-1.2.3.4-5.tar"));
    EXPECT_FALSE(Exists(volume, "ldlinux.sys"));

    // node.cfg as the writer makes it of the record the window left.
    LocalFolderRoot reference(h.dir.Path());
    ASSERT_TRUE(h.app().config.CreateNodeCfgFile(h.app().record, reference, false));
    const std::string node = Mtype(volume, "node.cfg");
    EXPECT_EQ(node, ReadFileBytes(h.dir / "node.cfg"));
    for (const char* line :
         {"kestrel_label: sbc-usb-01\n", "kestrel_wan: 192.0.2.10 255.255.255.0\n",
          "usb_stick_partitioned: 1\n", "uefi: 1\n", "legacy_bios: 0\n", "gpt_partition: 1\n",
          "singlearmed: 1\n"}) {
        EXPECT_NE(node.find(line), std::string::npos) << line << node;
    }

    const std::vector<std::string> log =
        Filtered(h.LogMessages(), {"OnBnClickedOk", "SetupUSB(): start", "SetupUSB(): done"});
    EXPECT_EQ(log, (std::vector<std::string>{"OnBnClickedOk(): start", "SetupUSB(): start",
                                             "SetupUSB(): done"}));
}

}  // namespace
}  // namespace flintmere::testing
