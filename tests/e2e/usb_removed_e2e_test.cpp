// A stick that goes away in the middle of the distribution copy. The stick's
// image lies on a file system of its own, which the test shuts down at a
// pause of the copy: from then on every read and write that reaches the
// stick fails with an I/O error, as it does for a pulled stick.
#include <linux/types.h>
#include <sys/ioctl.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>

#include "support/recording_presenter.h"
#include "usb_rig.h"

#ifndef FS_IOC_SHUTDOWN
#define FS_IOC_SHUTDOWN _IOR('X', 125, __u32)
#endif

namespace flintmere::testing {
namespace {

// Shut down without flushing the journal: the device is simply gone.
constexpr __u32 kShutdownNoLogFlush = 0x2;

// An ext4 file system on its own loop device, mounted at a folder; removed
// on every path.
class FailableFolder {
  public:
    FailableFolder(const std::string& image, const std::string& folder)
        : image_(image), folder_(folder) {
        WriteFileBytes(image_, "");
        fs::resize_file(image_, kImageBytes + (128ull << 20));
        ProgramResult made =
            RunProgram({"mkfs.ext4", "-q", "-F", "-E", "nodiscard,lazy_itable_init=1", image_});
        if (made.exitStatus != 0) {
            error_ = "mkfs.ext4: " + made.err;
            return;
        }
        ProgramResult loop = RunProgram({"losetup", "-f", "--show", image_});
        if (loop.exitStatus != 0 || loop.out.empty()) {
            error_ = "losetup: " + loop.err;
            return;
        }
        device_ = loop.out.substr(0, loop.out.find('\n'));
        fs::create_directories(folder_);
        if (::mount(device_.c_str(), folder_.c_str(), "ext4", 0, nullptr) != 0) {
            error_ = std::string("mount ext4: ") + std::strerror(errno);
            return;
        }
        mounted_ = true;
    }
    ~FailableFolder() {
        if (mounted_ && ::umount2(folder_.c_str(), 0) != 0) ::umount2(folder_.c_str(), MNT_DETACH);
        if (!device_.empty()) RunProgram({"losetup", "-d", device_});
        std::error_code ec;
        fs::remove(image_, ec);
    }
    FailableFolder(const FailableFolder&) = delete;
    FailableFolder& operator=(const FailableFolder&) = delete;

    bool Ready() const { return mounted_; }
    const std::string& Error() const { return error_; }

    // Every later I/O on the file system fails.
    bool Shutdown() {
        UniqueFd fd(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        __u32 flags = kShutdownNoLogFlush;
        return fd.Valid() && ::ioctl(fd.Get(), FS_IOC_SHUTDOWN, &flags) == 0;
    }

  private:
    std::string image_;
    std::string folder_;
    std::string device_;
    std::string error_;
    bool mounted_ = false;
};

TEST_F(usb_e2e, StickRemovedDuringTheCopy) {
    FailableFolder shelf(dir / "shelf.img", dir / "shelf");
    if (!shelf.Ready()) GTEST_SKIP() << "no file system to put the stick on: " << shelf.Error();
    // The stick on the shelf goes before the shelf itself.
    struct StickRelease {
        std::unique_ptr<LoopStick>& stick;
        std::unique_ptr<LinuxDiskService>& service;
        ~StickRelease() {
            service.reset();
            stick.reset();
        }
    } release{stick, service};
    const std::string why = ReattachStick(dir / "shelf/stick.img");
    if (!why.empty()) GTEST_SKIP() << why;

    app->record.m_partitioned = 0;
    app->record.m_legacyBios = 1;
    // The copy engine pauses after each copied file but the first.
    std::atomic<bool> pullFailed{false};
    WriterStop pull(Hooks(), "pause-500", [&] {
        if (!shelf.Shutdown()) pullFailed = true;
    });

    const auto started = std::chrono::steady_clock::now();
    const int result = RunBounded(std::chrono::seconds(60));
    const auto took = std::chrono::steady_clock::now() - started;

    ASSERT_TRUE(pull.Reached()) << "the copy never paused:\n" << Log();
    ASSERT_FALSE(pullFailed) << "could not shut the stick's file system down";
    const std::string log = Log();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(app->engine.m_setupStatus, SetupError) << log;
    EXPECT_NE(log.find("SetupUSB(): copying files"), std::string::npos)
        << "the stick went away during the copy, not before";
    EXPECT_NE(log.find("CopyDirFiles(): file initrd.gz"), std::string::npos);
    EXPECT_EQ(log.find("SetupUSB(): done"), std::string::npos);

    const std::vector<ShownMessage> shown = app.presenter.Shown();
    ASSERT_FALSE(shown.empty()) << "a failed copy is shown";
    for (const ShownMessage& m : shown) EXPECT_EQ(m.caption, u"Error") << ToPath(m.text);
    EXPECT_EQ(shown[0].text, u"The USB stick was removed or stopped responding.");
    EXPECT_EQ(progress.CloseRequests(), 1);
    EXPECT_LT(took, std::chrono::seconds(60));
    EXPECT_EQ(ChildProcesses(), std::vector<std::string>{}) << "no tool is left running";
}

// A plain file where the stick's partition node belongs (what a dd to a
// stick that was not there leaves in /dev) is not the stick: it must not
// take the file system and be reported written.
TEST_F(usb_e2e, APlainFileAtThePartitionsNameIsNotTheStick) {
    ASSERT_FALSE(fs::exists(stick->Partition())) << "the fresh stick has no partition yet";
    struct Removed {
        std::string path;
        ~Removed() {
            std::error_code ec;
            fs::remove(path, ec);
        }
    } plain{stick->Partition()};
    WriteFileBytes(plain.path, "");
    fs::resize_file(plain.path, 64u << 20);
    app->record.m_partitioned = 1;
    app->record.m_gptPartition = 0;
    app->record.m_legacyBios = 1;

    const int result = RunBounded(std::chrono::seconds(60));

    EXPECT_EQ(result, 0);
    EXPECT_EQ(app->engine.m_setupStatus, SetupError);
    EXPECT_EQ(ReadHead(plain.path, 4096), std::string(4096, '\0'))
        << "the plain file was formatted as the volume";
    EXPECT_FALSE(app.presenter.Shown().empty());
    EXPECT_EQ(Log().find("SetupUSB(): done"), std::string::npos);
}

}  // namespace
}  // namespace flintmere::testing
