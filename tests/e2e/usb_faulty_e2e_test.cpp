// Whole stick runs on a faulty stick (a FUSE-served file behind a loop
// device): a fault set at one step of the run ends it as an error, with the
// true reason in the box, no tool left running and no "done".
#include <linux/fs.h>
#include <sys/ioctl.h>

#include <memory>
#include <string_view>

#include "usb_rig.h"

namespace flintmere::testing {
namespace {

constexpr std::size_t kLargeFile = 64u << 20;  // two flushes' worth of the copy
// MBR partition 1 starts at 32256; mkfs.fat keeps 32 reserved sectors before
// the first FAT. One bit of FAT entry 100, free while the boot loader goes
// in; set, it points past the last cluster.
constexpr std::uint64_t kFatEntry100 = 32256 + 32 * 512 + 400 + 3;  // its top byte

// Sets a fault on the stick when the run shows the action that starts a step.
class FaultAtStep final : public ProgressDialog {
  public:
    FaultAtStep(RecordingProgress& inner, FaultyStickServer& stick)
        : inner_(inner), stick_(stick) {}
    struct Step {
        std::string_view action;  // the start of the action text
        std::string control;
    };
    std::vector<Step> steps;
    std::atomic<bool> set{false};

    bool IsReady() override { return inner_.IsReady(); }
    void SetPos(int position) override { inner_.SetPos(position); }
    int GetPos() override { return inner_.GetPos(); }
    void SetAction(const u16& text) override {
        const std::string action = ToPath(text);
        for (const Step& step : steps) {
            if (action.rfind(step.action, 0) == 0 && stick_.Control(step.control)) set = true;
        }
        inner_.SetAction(text);
    }
    void RequestClose() override { inner_.RequestClose(); }

  private:
    RecordingProgress& inner_;
    FaultyStickServer& stick_;
};

// A fault set while the stick writer waits at one of its pauses
// ("pause-1000-4": the fourth of a second), so that it is in place before
// the step after that pause starts.
struct HeldFault {
    const char* point;
    std::string control;
    bool dropCache = false;  // the stick's cached pages, so that the tools read the stick
};

struct StickFault {
    const char* name;
    std::vector<FaultAtStep::Step> steps;
    const char* box;  // in the box's text
    const char* notInLog;
    std::vector<HeldFault> held = {};  // the first must come
    const char16_t* companyName = u"";
};

// The kernel's cached pages of a block device, written back and dropped.
void DropCachedPages(const std::string& device) {
    UniqueFd fd(::open(device.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Valid()) ::ioctl(fd.Get(), BLKFLSBUF, 0);
}

constexpr char kGone[] = "The USB stick was removed or stopped responding.";

class usb_faulty_e2e : public usb_e2e, public ::testing::WithParamInterface<StickFault> {
  protected:
    void SetUp() override {
        usb_e2e::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        const std::string why = UseFaultyStick();
        if (!why.empty()) GTEST_SKIP() << why;
        largePath = inst + "/kx/large.bin";
        WriteFileBytes(largePath, std::string(kLargeFile, 'L'));
        app->record.m_partitioned = 1;
        app->record.m_gptPartition = 0;
        app->record.m_legacyBios = 1;
    }
    void TearDown() override {
        usb_e2e::TearDown();
        std::error_code ec;
        fs::remove(largePath, ec);
    }
    std::string largePath;
};

TEST_P(usb_faulty_e2e, EndsWithTheTrueReason) {
    const StickFault& fault = GetParam();
    FaultAtStep watching(progress, *faulty);
    watching.steps = fault.steps;
    app->engine.m_pProgressDlg = &watching;
    app->record.m_companyName = fault.companyName;
    std::vector<std::unique_ptr<WriterStop>> stops;
    for (const HeldFault& held : fault.held) {
        stops.push_back(std::make_unique<WriterStop>(Hooks(), held.point, [this, held] {
            if (held.dropCache) {
                DropCachedPages(stick->Device());
                DropCachedPages(stick->Partition());
            }
            faulty->Control(held.control);
        }));
    }

    const int result = RunBounded(std::chrono::seconds(90));
    const std::string log = Log();
    ASSERT_TRUE(fault.steps.empty() || watching.set.load()) << "the step never came:\n" << log;
    ASSERT_TRUE(stops.empty() || stops.front()->Reached()) << "the pause never came:\n" << log;
    EXPECT_EQ(result, 0);
    EXPECT_EQ(app->engine.m_setupStatus, SetupError);
    ASSERT_EQ(app.presenter.Shown().size(), 1u) << log;
    EXPECT_EQ(app.presenter.Shown()[0].caption, u"Error");
    const std::string box = ToPath(app.presenter.Shown()[0].text);
    EXPECT_NE(box.find(fault.box), std::string::npos) << box;
    EXPECT_EQ(log.find("SetupUSB(): done"), std::string::npos);
    EXPECT_EQ(log.find(fault.notInLog), std::string::npos) << log;
    EXPECT_EQ(ChildProcesses(), std::vector<std::string>{}) << "no tool is left running";
}

INSTANTIATE_TEST_SUITE_P(
    Steps, usb_faulty_e2e,
    ::testing::Values(StickFault{"Partitioning",
                                 {{"Erasing USB Stick partitions", "write_fail_range=0-1048576"}},
                                 "Input/output error",
                                 "Format starting"},
                      StickFault{"Formatting",
                                 {{"Creating the FAT32 filesystem", "write_fail_after=0"}},
                                 "mkfs.fat: ",
                                 "SetupUSB(): syslinux"},
                      StickFault{"BootLoaderOnAStickThatStopsAnswering",
                                 {{"Installing SysLinux bootloader", "io_fail_after=0"}},
                                 kGone,
                                 "syslinux.cfg file"},
                      // Without a flush during the copy the error would show only after it.
                      StickFault{"CopyOfALargeFile",
                                 {{"Copying Files...\r\nlarge.bin", "write_fail_after=0"}},
                                 "Input/output error",
                                 "CopyFiles(): done"},
                      // After the last flush of the copy: only the final flush sees it.
                      StickFault{"TheCopysLastWrites",
                                 {{"Copying Files...\r\nvmlinuz", "write_fail_after=0"}},
                                 "Input/output error",
                                 "bytes verified"},
                      StickFault{"ReadBack",
                                 {{"Verifying files", "read_fail_range=8388608-1258291200"}},
                                 "could not be read: Input/output error.",
                                 "bytes verified"},
                      // One bit of the FAT read wrong while the installer allocates its
                      // files: written back by the tools, found only by a check of the
                      // file system as a whole.
                      StickFault{"FatDamagedWhileTheToolsWroteIt",
                                 {{"Installing SysLinux bootloader",
                                   "flip_range=" + std::to_string(kFatEntry100) + "-" +
                                       std::to_string(kFatEntry100 + 1)},
                                  {"Copying files...\r\nsyslinux.cfg", "clear=1"}},
                                 "Verification failed: the file system on the stick is damaged.",
                                 "bytes verified"},
                      // node.cfg cannot be written: the stick does not give mcopy its boot
                      // sector once. A branding text makes a pause after it, where the stick
                      // recovers: the run would go on to the end.
                      StickFault{"NodeCfg",
                                 {},
                                 "Input/output error",
                                 "CreateNodeCfgFile(): written",
                                 {{"pause-1000-4", "read_fail_range=32256-32768", true},
                                  {"pause-1000-5", "clear=1"}},
                                 u"Example Telecom"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace flintmere::testing
