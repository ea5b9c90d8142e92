// A stick whose partition is mounted and in use: the run must leave every
// byte of it alone and end as blocked, not hang and not format it.
#include <sys/mount.h>

#include <cerrno>
#include <cstring>

#include "support/recording_presenter.h"
#include "usb_rig.h"

namespace flintmere::testing {
namespace {

// A file system of the stick's partition mounted at a folder, with one file
// on it held open. Unmounted on every path.
class BusyMount {
  public:
    BusyMount(const std::string& device, const std::string& folder) : folder_(folder) {
        fs::create_directories(folder_);
        // FAT is what a stick carries; where the kernel has no vfat driver,
        // ext2 shows the same: a mounted, busy partition of the stick.
        if (Mount(device, "vfat")) {
            type_ = "vfat";
        } else if (errno == ENODEV &&
                   RunProgram({"mkfs.ext4", "-q", "-F", "-t", "ext2", device}).exitStatus == 0 &&
                   Mount(device, "ext2")) {
            type_ = "ext2";
        } else {
            error_ = std::strerror(errno);
            return;
        }
        held_.Reset(::open((folder_ + "/held.txt").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
        if (!held_.Valid()) error_ = std::strerror(errno);
    }
    ~BusyMount() {
        held_.Reset();
        if (mounted_ && ::umount2(folder_.c_str(), 0) != 0) ::umount2(folder_.c_str(), MNT_DETACH);
    }
    BusyMount(const BusyMount&) = delete;
    BusyMount& operator=(const BusyMount&) = delete;

    bool Ready() const { return mounted_ && held_.Valid(); }
    const std::string& Error() const { return error_; }
    const std::string& Type() const { return type_; }
    bool StillMounted() const { return RunProgram({"mountpoint", "-q", folder_}).exitStatus == 0; }

  private:
    bool Mount(const std::string& device, const char* type) {
        mounted_ = ::mount(device.c_str(), folder_.c_str(), type, 0, nullptr) == 0;
        return mounted_;
    }

    std::string folder_;
    std::string type_;
    std::string error_;
    bool mounted_ = false;
    UniqueFd held_;
};

TEST_F(usb_e2e, BusyMountedPartitionIsNeverWritten) {
    ASSERT_EQ(RunProgram({"sh", "-c", "echo 'start=2048, type=c' | sfdisk -q " + stick->Device()})
                  .exitStatus,
              0);
    // Some kernels read no partition table themselves.
    if (!fs::exists(stick->Partition())) RunProgram({"partx", "-u", stick->Device()});
    for (int i = 0; i < 100 && !fs::exists(stick->Partition()); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ProgramResult made = RunProgram({"mkfs.fat", "-F", "32", "-n", "OLD", stick->Partition()});
    ASSERT_EQ(made.exitStatus, 0) << made.err;
    const std::string mountDir = dir / "mnt";
    BusyMount busy(stick->Partition(), mountDir);
    if (!busy.Ready()) GTEST_SKIP() << "cannot mount the stick's partition: " << busy.Error();
    {
        // Whatever the mount and the held file changed is on the stick now,
        // so nothing but the run could change it from here on.
        UniqueFd folder(::open(mountDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        ASSERT_TRUE(folder.Valid());
        ASSERT_EQ(::syncfs(folder.Get()), 0) << std::strerror(errno);
    }
    // The table, the partition start and the file system's first blocks.
    constexpr std::size_t kWatched = (2048 + 128) * 512;
    const std::string before = ReadHead(dir / "stick.img", kWatched);

    struct Case {
        const char* name;
        int partitioned;
        int gpt;
    };
    const Case cases[] = {{"unpartitioned", 0, 0}, {"MBR", 1, 0}, {"GPT", 1, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        app->record.m_partitioned = c.partitioned;
        app->record.m_gptPartition = c.gpt;
        app->record.m_legacyBios = 1;
        app.presenter.Clear();
        ClearWriterPauses();
        const int closesBefore = progress.CloseRequests();
        const std::size_t logBefore = Log().size();

        EXPECT_EQ(RunBounded(std::chrono::seconds(30)), 0);
        const std::string log = Log().substr(logBefore);
        EXPECT_EQ(app->engine.m_setupStatus, SetupBlocked) << log;
        EXPECT_NE(log.find("SetupUSB(): Could not delete the partition table"), std::string::npos);
        EXPECT_EQ(log.find("SetupUSB(): Format starting"), std::string::npos)
            << "a busy stick is never formatted";
        // The kernel refuses to re-read the table of a disk with a mounted
        // partition; that ends the run with the system's text.
        const std::vector<ShownMessage> shown = app.presenter.Shown();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].caption, u"Error");
        EXPECT_EQ(ToPath(shown[0].text), AppServices::SystemErrorText(EBUSY));
        EXPECT_EQ(progress.CloseRequests(), closesBefore + 1);
        const std::vector<int> pauses = WriterPauses();
        EXPECT_EQ(std::count(pauses.begin(), pauses.end(), 1000), 1 + 1 + 4)
            << "verify, erase, four write attempts";

        EXPECT_TRUE(ReadHead(dir / "stick.img", kWatched) == before) << "stick untouched";
        EXPECT_TRUE(busy.StillMounted()) << "a busy mount is not torn away";
    }
}

}  // namespace
}  // namespace flintmere::testing
