// Whole stick runs on loop devices over sparse images, admitted as
// removable drives. Every result is read back with tools that share no
// code with the program: sfdisk, blkid, fsck.fat and mtools.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "support/fakes.h"
#include "support/recording_progress.h"
#include "support/run_program.h"

namespace flintmere::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kImageBytes = 1200ull << 20;
// 1200 MiB in whole 255 x 63 cylinders of 512-byte sectors.
constexpr std::uint64_t kGeometrySectors = (kImageBytes / 512 / 16065) * 16065;

// A sparse image attached to a loop device, detached and removed on every path.
class LoopStick {
  public:
    explicit LoopStick(const std::string& image) : image_(image) {
        WriteFileBytes(image_, "");
        fs::resize_file(image_, kImageBytes);
        ProgramResult r = RunProgram({"losetup", "-f", "--show", "-P", image_});
        if (r.exitStatus == 0 && !r.out.empty()) {
            device_ = r.out.substr(0, r.out.find('\n'));
        } else {
            error_ = r.err;
        }
    }
    ~LoopStick() {
        if (!device_.empty()) RunProgram({"losetup", "-d", device_});
        std::error_code ec;
        fs::remove(image_, ec);
    }
    LoopStick(const LoopStick&) = delete;
    LoopStick& operator=(const LoopStick&) = delete;

    const std::string& Device() const { return device_; }
    std::string Name() const { return fs::path(device_).filename().string(); }
    std::string Partition() const { return device_ + "p1"; }
    const std::string& Error() const { return error_; }

  private:
    std::string image_;
    std::string device_;
    std::string error_;
};

// The value after "key": in sfdisk's JSON, without quotes.
std::string JsonValue(const std::string& json, const std::string& key) {
    const std::string tag = "\"" + key + "\":";
    std::size_t at = json.find(tag);
    if (at == std::string::npos) return {};
    at += tag.size();
    while (at < json.size() && json[at] == ' ') ++at;
    std::size_t end = at;
    if (json[at] == '"') {
        end = json.find('"', at + 1);
        return json.substr(at + 1, end - at - 1);
    }
    while (end < json.size() && json[end] != ',' && json[end] != '\n' && json[end] != '}') ++end;
    return json.substr(at, end - at);
}

// The first `size` bytes of a (large, sparse) file.
std::string ReadHead(const std::string& path, std::size_t size) {
    std::string out(size, '\0');
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    ssize_t n = fd.Valid() ? ::pread(fd.Get(), out.data(), size, 0) : -1;
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
}

std::string Blkid(const std::string& device, const std::string& tag) {
    ProgramResult r = RunProgram({"blkid", "-p", "-o", "value", "-s", tag, device});
    return r.out.substr(0, r.out.find('\n'));
}

class usb_e2e : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (::geteuid() != 0 || ::access("/dev/loop-control", F_OK) != 0) return;
        installDir = new TempDir();
        const char* given = std::getenv("FLINTMERE_E2E_INSTALL_DIR");
        inst = given && *given ? given : (*installDir) / "inst";
        if (!(given && *given)) {
            ProgramResult made =
                RunProgram({"bash", FLINTMERE_SOURCE_DIR "/scripts/make-install-folder", inst},
                           {std::string("FLINTMERE_BIN=") + FLINTMERE_BINARY});
            if (made.exitStatus != 0) installError = made.err;
        }
    }
    static void TearDownTestSuite() {
        delete installDir;
        installDir = nullptr;
    }

    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs root to attach and write loop devices";
        if (::access("/dev/loop-control", F_OK) != 0) GTEST_SKIP() << "no loop devices here";
        for (const char* tool : {"losetup", "sfdisk", "blkid", "fsck.fat", "mkfs.fat", "mcopy"}) {
            if (RunProgram({"sh", "-c", std::string("command -v ") + tool}).exitStatus != 0) {
                GTEST_SKIP() << tool << " is not installed (scripts/install-deps installs it)";
            }
        }
        ASSERT_TRUE(installError.empty()) << installError;
        stick = std::make_unique<LoopStick>(dir / "stick.img");
        if (stick->Device().empty()) GTEST_SKIP() << "no free loop device: " << stick->Error();
        service = std::make_unique<LinuxDiskService>(DiskRoots{},
                                                     std::vector<std::string>{stick->Name()});
        app.env.tempFolder = FromPath(dir.Path() + "/");
        app->OpenLog();
        app->m_exeFolder = FromPath(inst);
        app->m_distFolder = FromPath(inst + "/kx/");
        app->SetDiskService(service.get());
        app->m_pProgressDlg = &progress;
        app->m_configSource = ConfigGenerateNodeFile;
        app->ResetConfiguration(true);
        app->m_serverName = u"sbc-e2e";
        app->m_lanDisabled = 0;
        app->m_lanAddress = u"192.0.2.10";
        app->m_lanNetmask = u"255.255.255.0";
        app->m_gateway = u"192.0.2.1";
        app->m_hwType = HwLegacyBios;
    }

    void TearDown() override {
        if (!HasFailure() || !app->m_logFile.IsOpen()) return;
        // The run's log without the search passes, to see where it went wrong.
        std::istringstream in(Log());
        std::string shown;
        for (std::string line; std::getline(in, line);) {
            if (line.find("Finding disk") == std::string::npos &&
                line.find("Checking") == std::string::npos) {
                shown += line + "\n";
            }
        }
        std::cerr << shown;
    }

    void SelectStick() {
        MediaList list;
        app->RefreshDevices(list);
        for (std::size_t i = 0; i + 1 < list.entries.size(); ++i) {
            if (ToPath(list.entries[i]).rfind(stick->Device() + " ", 0) == 0) {
                app->m_selectedDrive = static_cast<int>(i);
                return;
            }
        }
        FAIL() << "the loop device is not in the media list";
    }

    int Run() {
        SelectStick();
        return app->SetupUSB();
    }

    std::string Log() { return ReadFileBytes(app->m_logFile.Path()); }
    std::string Table() { return RunProgram({"sfdisk", "--json", stick->Device()}).out; }
    std::string Mtype(const std::string& volume, const std::string& path) {
        return RunProgram({"mtype", "-i", volume, "::/" + path}, {"MTOOLS_SKIP_CHECK=1"}).out;
    }
    bool Exists(const std::string& volume, const std::string& path) {
        return RunProgram({"mdir", "-a", "-b", "-i", volume, "::/" + path}, {"MTOOLS_SKIP_CHECK=1"})
                   .exitStatus == 0;
    }

    // The volume holds a clean FAT32 "tvq" with every file the run writes.
    void ExpectInstalledVolume(const std::string& volume, bool legacyLoader) {
        EXPECT_EQ(Blkid(volume, "TYPE"), "vfat");
        EXPECT_EQ(Blkid(volume, "LABEL"), "tvq");
        ProgramResult fsck = RunProgram({"fsck.fat", "-n", volume});
        EXPECT_EQ(fsck.exitStatus, 0) << fsck.out << fsck.err;
        const std::pair<const char*, const char*> copies[] = {
            {"systemd-boot/systemd-bootx64.efi", "EFI/BOOT/BOOTX64.EFI"},
            {"systemd-boot/loader.conf", "loader/loader.conf"},
            {"systemd-boot/usb.conf", "loader/entries/auto.conf"},
            {"kx/vmlinuz", "vmlinuz"},
            {"kx/initrd.gz", "initrd.gz"},
            {"kx/image_zev-1.2.3.4-5.tar", "image_zev-1.2.3.4-5.tar"},
        };
        for (const auto& [source, target] : copies) {
            const std::string bytes = ReadFileBytes(inst + "/" + source);
            ASSERT_FALSE(bytes.empty()) << source;
            EXPECT_TRUE(Mtype(volume, target) == bytes) << target << " differs from " << source;
        }
        // node.cfg as the writer makes it for a plain folder.
        LocalFolderRoot reference(dir.Path());
        ASSERT_TRUE(app->CreateNodeCfgFile(reference, false));
        EXPECT_EQ(Mtype(volume, "node.cfg"), ReadFileBytes(dir / "node.cfg"));
        EXPECT_EQ(Exists(volume, "ldlinux.sys"), legacyLoader);
        EXPECT_EQ(Exists(volume, "syslinux.cfg"), legacyLoader);
        if (legacyLoader) {
            EXPECT_EQ(Mtype(volume, "syslinux.cfg"),
                      ReadFileBytes(inst + "/syslinux/syslinux.cfg"));
        }
    }

    // Keeps the image for the boot proofs when asked to.
    void KeepImage(const std::string& name) {
        const char* keep = std::getenv("FLINTMERE_E2E_KEEP_DIR");
        if (!keep || !*keep) return;
        ProgramResult r = RunProgram(
            {"cp", "--sparse=always", dir / "stick.img", std::string(keep) + "/" + name});
        EXPECT_EQ(r.exitStatus, 0) << r.err;
    }

    static inline TempDir* installDir = nullptr;
    static inline std::string inst;
    static inline std::string installError;

    TempDir dir;
    TestApp app;
    RecordingProgress progress;
    std::unique_ptr<LoopStick> stick;
    std::unique_ptr<LinuxDiskService> service;
};

TEST_F(usb_e2e, MbrWithLegacyLoader) {
    app->m_partitioned = 1;
    app->m_legacyBios = 1;
    ASSERT_EQ(Run(), 1) << Log();
    EXPECT_EQ(app->m_setupStatus, SetupComplete);

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
    app->m_partitioned = 1;
    app->m_gptPartition = 1;
    app->m_legacyBios = 1;  // no SYSLINUX on GPT all the same
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
    app->m_partitioned = 0;
    app->m_legacyBios = 1;
    ASSERT_EQ(Run(), 1) << Log();
    EXPECT_EQ(Blkid(stick->Device(), "PTTYPE"), "");
    ExpectInstalledVolume(stick->Device(), true);
    EXPECT_NE(Log().find("syslinux/syslinux -f " + stick->Device()), std::string::npos);
    EXPECT_EQ(Log().find("Create partition table"), std::string::npos);
}

TEST_F(usb_e2e, CopyOnlyKeepsTheStick) {
    app->m_partitioned = 1;
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

    app->m_serverName = u"sbc-second";
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
    ASSERT_TRUE(app->OpenDbFile(FromPath(dir / "site.xml")));
    app->m_configSource = ConfigFromDatabase;
    app->m_partitioned = 1;
    app->m_companyName = u"M\u00fcller Telekom";
    app->m_productName = u"Branch SBC";
    app->m_tla = u"";
    app->m_logoFile = u"logo.png";
    app->m_logoData = {0x89, 'P', 'N', 'G', 0, 1, 2};
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
}

TEST_F(usb_e2e, HeldStickIsBlocked) {
    // Something the run must not destroy.
    ASSERT_EQ(RunProgram({"sh", "-c", "echo 'start=2048, type=c' | sfdisk -q " + stick->Device()})
                  .exitStatus,
              0);
    const std::string before = ReadHead(dir / "stick.img", 16384);
    UniqueFd holder(::open(stick->Device().c_str(), O_RDONLY | O_EXCL | O_CLOEXEC));
    ASSERT_TRUE(holder.Valid()) << "could not hold the stick";
    app->m_partitioned = 1;
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(app->m_setupStatus, SetupBlocked);
    EXPECT_NE(Log().find("SetupUSB(): Could not delete the partition table"), std::string::npos)
        << Log();
    const std::vector<int> pauses = app.clock.Pauses();
    EXPECT_EQ(std::count(pauses.begin(), pauses.end(), 1000), 1 + 1 + 4)
        << "verify, erase, retries";
    EXPECT_TRUE(ReadHead(dir / "stick.img", 16384) == before) << "stick untouched";
    EXPECT_EQ(progress.CloseRequests(), 1);
}

}  // namespace
}  // namespace flintmere::testing
