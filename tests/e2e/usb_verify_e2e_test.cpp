// The read-back of a real stick on a loop device: a fault planted in the
// stick's backing file behind the kernel's cache of the device is found,
// which a check served from that cache would miss.
#include <cstring>
#include <random>

#include "usb_rig.h"

namespace flintmere::testing {
namespace {

constexpr std::size_t kProbeBytes = 48u << 20;

// Records like RecordingProgress and tells when the check has begun.
class WatchingProgress final : public ProgressDialog {
  public:
    explicit WatchingProgress(RecordingProgress& inner) : inner_(inner) {}
    std::atomic<bool> checking{false};
    bool IsReady() override { return inner_.IsReady(); }
    void SetPos(int position) override { inner_.SetPos(position); }
    int GetPos() override { return inner_.GetPos(); }
    void SetAction(const u16& text) override {
        if (text.rfind(u"Verifying files...", 0) == 0) checking = true;
        inner_.SetAction(text);
    }
    void RequestClose() override { inner_.RequestClose(); }

  private:
    RecordingProgress& inner_;
};

class usb_verify_e2e : public usb_e2e {
  protected:
    void SetUp() override {
        usb_e2e::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        // A distribution file of our own whose bytes occur nowhere else.
        std::string probe(kProbeBytes, '\0');
        std::mt19937_64 random(20261209);
        for (std::size_t i = 0; i + 8 <= probe.size(); i += 8) {
            const std::uint64_t v = random();
            std::memcpy(probe.data() + i, &v, 8);
        }
        probePath = inst + "/kx/probe.bin";
        WriteFileBytes(probePath, probe);
        app->record.m_partitioned = 1;
        app->record.m_gptPartition = 1;
    }
    void TearDown() override {
        usb_e2e::TearDown();
        std::error_code ec;
        fs::remove(probePath, ec);
    }

    // Byte offset in the stick's backing file where `needle` starts.
    std::int64_t FindInImage(const std::string& needle) {
        UniqueFd fd(::open((dir / "stick.img").c_str(), O_RDONLY | O_CLOEXEC));
        std::string window(16u << 20, '\0');
        std::int64_t base = 0;
        for (;;) {
            const ssize_t n = ::pread(fd.Get(), window.data(), window.size(), base);
            if (n <= 0) return -1;
            const std::size_t at = std::string_view(window.data(), n).find(needle);
            if (at != std::string::npos) return base + static_cast<std::int64_t>(at);
            if (static_cast<std::size_t>(n) <= needle.size()) return -1;  // the end: not found
            base += n - static_cast<ssize_t>(needle.size());
        }
    }
    // Changes one byte of the backing file, past the loop device's cache.
    void FlipImageByte(std::int64_t offset) {
        UniqueFd fd(::open((dir / "stick.img").c_str(), O_RDWR | O_CLOEXEC));
        char byte = 0;
        ASSERT_EQ(::pread(fd.Get(), &byte, 1, offset), 1);
        byte = static_cast<char>(~byte);
        ASSERT_EQ(::pwrite(fd.Get(), &byte, 1, offset), 1);
        ASSERT_EQ(::fsync(fd.Get()), 0);
    }
    void ExpectVerificationBox(const std::string& file) {
        EXPECT_EQ(app->engine.m_setupStatus, SetupError);
        ASSERT_EQ(app.presenter.Shown().size(), 1u) << Log();
        EXPECT_EQ(ToPath(app.presenter.Shown()[0].text),
                  "Verification failed: " + file +
                      " on the stick differs from the installation folder. The stick may be "
                      "faulty.");
        EXPECT_EQ(Log().find("SetupUSB(): done"), std::string::npos);
    }

    // Runs `plant` after the last write and the flush, before the read-back.
    int RunPlanting(std::function<void()> plant) {
        WriterStop beforeCheck(Hooks(), "before-check", std::move(plant));
        const int result = Run();
        EXPECT_TRUE(beforeCheck.Reached()) << "the writer never came to its read-back";
        return result;
    }

    std::string probePath;
};

TEST_F(usb_verify_e2e, ACleanStickIsVerifiedAndCompletes) {
    ASSERT_EQ(Run(), 1) << Log();
    EXPECT_EQ(app->engine.m_setupStatus, SetupComplete);
    const std::string log = Log();
    EXPECT_NE(log.find("VerifyStick(): start"), std::string::npos);
    EXPECT_NE(log.find("bytes verified"), std::string::npos) << log;
}

TEST_F(usb_verify_e2e, AByteChangedBehindTheCacheIsFound) {
    const std::string probe = ReadFileBytes(probePath);
    std::int64_t planted = -1;
    // Someone else holds the volume open (as a desktop's disk daemon may), so
    // the kernel keeps its cached pages after each tool closes it.
    UniqueFd holder;
    EXPECT_EQ(RunPlanting([&] {
                  const std::int64_t start = FindInImage(probe.substr(0, 64));
                  if (start < 0) return;
                  planted = start + (1 << 20) + 17;
                  holder = UniqueFd(::open(stick->Partition().c_str(), O_RDONLY | O_CLOEXEC));
                  ASSERT_TRUE(holder.Valid());
                  std::string cached(kProbeBytes, '\0');
                  const std::int64_t inVolume = start - 2048 * 512;  // GPT: partition 1 at 1 MiB
                  ASSERT_EQ(::pread(holder.Get(), cached.data(), cached.size(), inVolume),
                            static_cast<ssize_t>(cached.size()));
                  ASSERT_TRUE(cached == probe) << "the volume's cache holds the file as written";
                  FlipImageByte(planted);
                  ASSERT_EQ(::pread(holder.Get(), cached.data(), cached.size(), inVolume),
                            static_cast<ssize_t>(cached.size()));
                  ASSERT_TRUE(cached == probe) << "the change is behind the cache";
              }),
              0);
    ASSERT_GE(planted, 0) << "the probe file was not found in the stick image";
    ExpectVerificationBox("probe.bin");
    EXPECT_NE(Log().find("VerifyStick(): probe.bin differs at offset 1048593"), std::string::npos)
        << Log();
}

TEST_F(usb_verify_e2e, ARemovedFileIsFound) {
    EXPECT_EQ(
        RunPlanting([&] {
            RunProgram({"mdel", "-i", stick->Partition(), "::/initrd.gz"}, {"MTOOLS_SKIP_CHECK=1"});
        }),
        0);
    ExpectVerificationBox("initrd.gz");
}

TEST_F(usb_verify_e2e, AChangedNodeCfgIsFound) {
    EXPECT_EQ(RunPlanting([&] {
                  const std::int64_t at = FindInImage("sbc-e2e");
                  if (at >= 0) FlipImageByte(at);
              }),
              0);
    ExpectVerificationBox("node.cfg");
}

// A byte the tools wrote outside any file, changed behind the cache: ahead
// of the volume (partition table, boot code) on a stick with a table, in the
// volume's own boot sector on one without.
struct BootAreaFault {
    const char* name;
    bool partitioned, gpt;
    std::int64_t offset;  // in the stick's image
    const char* box;      // what the box says differs
};

void PrintTo(const BootAreaFault& fault, std::ostream* os) {
    *os << fault.name;
}

class usb_verify_boot_area_e2e : public usb_verify_e2e,
                                 public ::testing::WithParamInterface<BootAreaFault> {};

TEST_P(usb_verify_boot_area_e2e, EndsTheRunWithTheVerificationBox) {
    const BootAreaFault& fault = GetParam();
    app->record.m_partitioned = fault.partitioned;
    app->record.m_gptPartition = fault.gpt;
    app->record.m_legacyBios = 1;  // SYSLINUX's boot code where the layout has it
    EXPECT_EQ(RunPlanting([&] { FlipImageByte(fault.offset); }), 0);
    EXPECT_EQ(app->engine.m_setupStatus, SetupError);
    ASSERT_EQ(app.presenter.Shown().size(), 1u) << Log();
    EXPECT_EQ(ToPath(app.presenter.Shown()[0].text),
              std::string("Verification failed: ") + fault.box + ". The stick may be faulty.");
    const std::string log = Log();
    const std::string what = std::string(fault.box).substr(0, std::string(fault.box).find(" on "));
    EXPECT_NE(log.find(what + " differs at offset " + std::to_string(fault.offset) + "\r\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("SetupUSB(): done"), std::string::npos);
}

constexpr const char* kTableBox =
    "the partition table and boot code on the stick differ from what was written";
constexpr const char* kBootSectorBox =
    "the file system's boot sector on the stick differs from what was written";

INSTANTIATE_TEST_SUITE_P(Layouts, usb_verify_boot_area_e2e,
                         ::testing::Values(
                             // SYSLINUX's boot code, then the first entry's start sector.
                             BootAreaFault{"MbrBootCode", true, false, 0x40, kTableBox},
                             BootAreaFault{"MbrPartitionTable", true, false, 446 + 8, kTableBox},
                             // Past the first sector: the GPT header's CRC, the entry's name.
                             BootAreaFault{"GptHeader", true, true, 512 + 16, kTableBox},
                             BootAreaFault{"GptPartitionEntry", true, true, 1024 + 56, kTableBox},
                             // No table: SYSLINUX's boot code in the volume's boot sector.
                             BootAreaFault{"NoneBootSector", false, false, 0x100, kBootSectorBox}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(usb_verify_e2e, CancelDuringTheCheckEndsQuickly) {
    // The read-back of a fast stick can end before a cancel asked a moment
    // late reaches it; on a stick that reads slowly it lasts long enough.
    if (const std::string why = UseFaultyStick(); !why.empty()) GTEST_SKIP() << why;
    WriterStop slowReads(Hooks(), "before-check",
                         [&] { EXPECT_TRUE(faulty->Control("read_rate=4000000\n")); });
    WatchingProgress watching(progress);
    app->engine.m_pProgressDlg = &watching;
    SelectStick();
    ASSERT_TRUE(app->engine.StartWorker([this] { return app->stickWriter.RunStickSetup(); }));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!watching.checking && app->engine.WorkerRunning() &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(watching.checking.load()) << Log();
    const auto asked = std::chrono::steady_clock::now();
    app->engine.CancelSetup();
    const auto took = std::chrono::steady_clock::now() - asked;
    EXPECT_EQ(app->engine.m_setupStatus, SetupCanceled);
    EXPECT_LT(took, std::chrono::seconds(3));
    EXPECT_TRUE(ChildProcesses().empty()) << "no mtools left running";
    EXPECT_TRUE(app.presenter.Shown().empty());
    EXPECT_TRUE(slowReads.Reached()) << "the writer never came to its read-back";
}

}  // namespace
}  // namespace flintmere::testing
