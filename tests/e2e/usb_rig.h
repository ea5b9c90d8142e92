// The stick rig of the end-to-end USB tests: a loop device over a sparse
// image, admitted as a removable drive, an installation folder with the
// built program, and an app wired to both. Header only: every test file
// of this folder is a program of its own.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "platform/disk_service.h"
#include "platform/unique_fd.h"
#include "support/background_program.h"
#include "support/fakes.h"
#include "support/install_folder.h"
#include "support/recording_progress.h"
#include "support/run_program.h"

namespace flintmere::testing {

namespace fs = std::filesystem;

inline constexpr std::uint64_t kImageBytes = 1200ull << 20;
// 1200 MiB in whole 255 x 63 cylinders of 512-byte sectors.
inline constexpr std::uint64_t kGeometrySectors = (kImageBytes / 512 / 16065) * 16065;

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

// A stick that misbehaves on request: tests/support/faulty_stick serving one
// sparse file through FUSE, for a LoopStick over File(). Unmounted and ended
// on every path (after the loop device is gone).
class FaultyStickServer {
  public:
    FaultyStickServer(const std::string& folder, std::uint64_t size) : mount_(folder + "/faulty") {
        if (std::string(FLINTMERE_FAULTY_STICK).empty()) {
            error_ = "the faulty stick was not built (libfuse3-dev missing)";
        } else if (::access("/dev/fuse", R_OK | W_OK) != 0) {
            error_ = "no /dev/fuse here";
        } else {
            fs::create_directories(mount_);
            server_ = std::make_unique<BackgroundProgram>(
                std::vector<std::string>{FLINTMERE_FAULTY_STICK, folder + "/faulty.img",
                                         std::to_string(size), mount_},
                std::vector<std::string>{}, folder);
            if (!WaitFor([this] { return fs::exists(File()); }, std::chrono::seconds(5))) {
                error_ = "the faulty stick did not come up";
            }
        }
    }
    ~FaultyStickServer() {
        if (server_) RunProgram({"umount", "-l", mount_});
    }
    FaultyStickServer(const FaultyStickServer&) = delete;
    FaultyStickServer& operator=(const FaultyStickServer&) = delete;

    const std::string& Error() const { return error_; }
    std::string File() const { return mount_ + "/stick"; }
    // "key=value" lines, see faulty_stick.cpp.
    bool Control(const std::string& lines) {
        UniqueFd fd(::open((mount_ + "/control").c_str(), O_WRONLY | O_CLOEXEC));
        return fd.Valid() &&
               ::write(fd.Get(), lines.data(), lines.size()) == static_cast<ssize_t>(lines.size());
    }
    // "read" or "written": bytes the device moved so far.
    std::uint64_t Counter(const std::string& key) {
        const std::string text = ReadFileBytes(mount_ + "/control");
        const std::size_t at = text.find(key + "=");
        return at == std::string::npos ? 0 : std::stoull(text.substr(at + key.size() + 1));
    }

  private:
    std::string mount_;
    std::string error_;
    std::unique_ptr<BackgroundProgram> server_;
};

// The value after "key": in sfdisk's JSON, without quotes.
inline std::string JsonValue(const std::string& json, const std::string& key) {
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
inline std::string ReadHead(const std::string& path, std::size_t size) {
    std::string out(size, '\0');
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    ssize_t n = fd.Valid() ? ::pread(fd.Get(), out.data(), size, 0) : -1;
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
}

// Stops the stick writer once at `point` (see tests/helper/test_writer_main.cpp)
// and runs `action` in this process while the writer waits.
class WriterStop {
  public:
    WriterStop(const std::string& hooks, const std::string& point, std::function<void()> action)
        : wait_(hooks + "/" + point + ".wait"), reached_(hooks + "/" + point + ".reached") {
        WriteFileBytes(wait_, "");
        thread_ = std::jthread([this, action = std::move(action)](std::stop_token stop) {
            while (!stop.stop_requested() && !fs::exists(reached_)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            if (stop.stop_requested()) return;
            action();
            done_ = true;
            std::error_code ec;
            fs::remove(wait_, ec);
        });
    }
    ~WriterStop() {
        Reached();
        std::error_code ec;
        fs::remove(wait_, ec);
        fs::remove(reached_, ec);
    }
    WriterStop(const WriterStop&) = delete;
    WriterStop& operator=(const WriterStop&) = delete;

    // After the run: whether the writer stopped here and the action ran.
    bool Reached() {
        if (thread_.joinable()) {
            thread_.request_stop();
            thread_.join();
        }
        return done_;
    }

  private:
    std::string wait_;
    std::string reached_;
    std::atomic<bool> done_{false};
    std::jthread thread_;
};

// The writer of `inst` put where only root can change it, as the field does
// with install-stick-writer: the path to start it by, or "" with `error`.
inline std::string InstallWriter(const std::string& inst, TempDir& home, std::string& error) {
    const std::string dest = home.Path() + "/writer";
    const ProgramResult put =
        RunProgram({inst + "/install-stick-writer", "--dest", dest, "--actions", ""});
    if (put.exitStatus != 0) {
        error = "install-stick-writer: " + put.out + put.err;
        return {};
    }
    return dest + "/flintmere-stick-writer";
}

// The window starts the writer with a clean environment: the test writer
// takes FLINTMERE_TEST_ADMIT and FLINTMERE_TEST_HOOKS, as this process has
// them now, from a file beside itself.
inline void TellTestWriter(const std::string& writer) {
    std::string settings;
    for (const char* name : {"FLINTMERE_TEST_ADMIT", "FLINTMERE_TEST_HOOKS"}) {
        const char* value = std::getenv(name);
        if (value) settings += std::string(name) + "=" + value + "\n";
    }
    WriteFileBytes(writer.substr(0, writer.rfind('/')) + "/test-settings", settings);
}

inline std::string Blkid(const std::string& device, const std::string& tag) {
    ProgramResult r = RunProgram({"blkid", "-p", "-o", "value", "-s", tag, device});
    return r.out.substr(0, r.out.find('\n'));
}

class usb_e2e : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (::geteuid() != 0 || ::access("/dev/loop-control", F_OK) != 0) return;
        installDir = std::make_unique<TempDir>();
        const char* given = std::getenv("FLINTMERE_E2E_INSTALL_DIR");
        inst = given && *given ? given : (*installDir) / "inst";
        if (!(given && *given)) {
            const InstallFolder made = MakeInstallFolder(inst, true);
            if (!made.Made()) installError = made.error;
        }
        writerHome = std::make_unique<TempDir>("/run");
        if (installError.empty()) writer = InstallWriter(inst, *writerHome, installError);
    }
    static void TearDownTestSuite() {
        installDir.reset();
        writerHome.reset();
    }

    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs root to attach and write loop devices";
        if (::access("/dev/loop-control", F_OK) != 0) GTEST_SKIP() << "no loop devices here";
        FLINTMERE_REQUIRE_TOOLS("losetup", "sfdisk", "blkid", "fsck.fat", "mkfs.fat", "mcopy");
        ASSERT_TRUE(installError.empty()) << installError;
        stick = std::make_unique<LoopStick>(dir / "stick.img");
        if (stick->Device().empty()) GTEST_SKIP() << "no free loop device: " << stick->Error();
        AdmitStick();
        app.env.tempFolder = FromPath(dir.Path() + "/");
        app->services.OpenLog();
        // Every stick run goes through the test writer, which reports here.
        app->stickWriter.m_stickRunInProcess = nullptr;
        app->stickWriter.m_stickWriterPlaces = {writer};
        fs::create_directories(Hooks());
        ::setenv("FLINTMERE_TEST_HOOKS", Hooks().c_str(), 1);
        TellTestWriter(writer);
        app->record.m_exeFolder = FromPath(inst);
        app->record.m_distFolder = FromPath(inst + "/kx/");
        app->engine.SetDiskService(service.get());
        app->engine.m_pProgressDlg = &progress;
        app->record.m_configSource = ConfigGenerateNodeFile;
        app->record.ResetConfiguration(true);
        app->record.m_serverName = u"sbc-e2e";
        app->record.m_lanDisabled = 0;
        app->record.m_lanAddress = u"192.0.2.10";
        app->record.m_lanNetmask = u"255.255.255.0";
        app->record.m_gateway = u"192.0.2.1";
        app->record.m_hwType = HwLegacyBios;
    }

    void TearDown() override {
        if (!HasFailure() || !app->services.m_logFile.IsOpen()) return;
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
        app->engine.RefreshDevices(list);
        for (std::size_t i = 0; i + 1 < list.entries.size(); ++i) {
            if (ToPath(list.entries[i]).rfind(stick->Device() + " ", 0) == 0) {
                app->engine.m_selectedDrive = static_cast<int>(i);
                return;
            }
        }
        FAIL() << "the loop device is not in the media list";
    }

    // The loop device counts as a removable disk here and in the stick writer.
    void AdmitStick() {
        service = std::make_unique<LinuxDiskService>(DiskRoots{},
                                                     std::vector<std::string>{stick->Name()});
        ::setenv("FLINTMERE_TEST_ADMIT", stick->Name().c_str(), 1);
        if (!writer.empty()) TellTestWriter(writer);
    }

    // The stick run as the window makes it: in flintmere-stick-writer.
    int Run() {
        SelectStick();
        return app->stickWriter.RunStickSetup();
    }

    std::string Hooks() { return dir / "hooks"; }
    // The pauses the writer made, in milliseconds.
    std::vector<int> WriterPauses() {
        std::istringstream in(ReadFileBytes(Hooks() + "/pauses"));
        std::vector<int> out;
        for (int ms = 0; in >> ms;) out.push_back(ms);
        return out;
    }
    void ClearWriterPauses() {
        std::error_code ec;
        fs::remove(Hooks() + "/pauses", ec);
    }

    std::string Log() { return ReadFileBytes(app->services.m_logFile.Path()); }
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
        ASSERT_TRUE(app->config.CreateNodeCfgFile(app->record, reference, false));
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

    // Puts the stick on another image (for example one on a file system
    // the test controls). Returns why it could not, or "".
    std::string ReattachStick(const std::string& image) {
        service.reset();
        stick.reset();
        stick = std::make_unique<LoopStick>(image);
        if (stick->Device().empty()) return "no free loop device: " + stick->Error();
        AdmitStick();
        app->engine.SetDiskService(service.get());
        return {};
    }

    // Puts the stick on a faulty stick of `size` bytes. Returns why it
    // could not, or "".
    std::string UseFaultyStick(std::uint64_t size = kImageBytes) {
        service.reset();
        stick.reset();
        faulty = std::make_unique<FaultyStickServer>(dir.Path(), size);
        if (!faulty->Error().empty()) return faulty->Error();
        return ReattachStick(faulty->File());
    }

    // The stick run on the worker thread, given `limit` to end. A run that does
    // not end in time fails the test and is asked to stop.
    int RunBounded(std::chrono::seconds limit) {
        SelectStick();
        std::atomic<int> result{-1};
        if (!app->engine.StartWorker([this, &result] {
                result = app->stickWriter.RunStickSetup();
                return result.load();
            })) {
            ADD_FAILURE() << "the worker could not be started";
            return -1;
        }
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (app->engine.WorkerRunning() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (app->engine.WorkerRunning()) {
            ADD_FAILURE() << "SetupUSB did not end within " << limit.count() << " s";
            app->engine.CancelWorker();
        }
        app->engine.WaitWorker();
        return result;
    }

    // Processes whose parent is this test program (tools left running).
    static std::vector<std::string> ChildProcesses() {
        std::vector<std::string> out;
        const std::string self = std::to_string(::getpid());
        std::error_code ec;
        for (const auto& e : fs::directory_iterator("/proc", ec)) {
            const std::string pid = e.path().filename().string();
            if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
            const std::string stat = ReadFileBytes(e.path().string() + "/stat");
            // "pid (comm) state ppid ..."; comm may hold blanks, so read after ')'.
            const std::size_t close = stat.rfind(')');
            if (close == std::string::npos) continue;
            std::istringstream fields(stat.substr(close + 1));
            std::string state, ppid;
            // The faulty stick's server is the test's own, not a tool's.
            if (stat.find("(faulty_stick)") != std::string::npos) continue;
            if (fields >> state >> ppid && ppid == self) {
                out.push_back(e.path().filename().string() + " " + stat.substr(0, close + 1));
            }
        }
        return out;
    }

    static inline std::unique_ptr<TempDir> installDir;
    static inline std::string inst;
    static inline std::string installError;
    // The test writer where only root can change it (InstallWriter).
    static inline std::unique_ptr<TempDir> writerHome;
    static inline std::string writer;

    TempDir dir;
    TestApp app;
    RecordingProgress progress;
    std::unique_ptr<FaultyStickServer> faulty;  // outlives the loop device over it
    std::unique_ptr<LoopStick> stick;
    std::unique_ptr<LinuxDiskService> service;
};

}  // namespace flintmere::testing
