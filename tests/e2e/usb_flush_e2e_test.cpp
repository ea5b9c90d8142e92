// When a stick run reports complete, its files are on the stick itself, not
// only in the kernel's cache of the stick's device.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "usb_rig.h"

namespace flintmere::testing {
namespace {

// Copies what the backing image holds, reading around its holes with
// O_DIRECT so that nothing comes from a cache. Returns why it could not, or "".
std::string CopyBackingImage(const std::string& image, const std::string& copy) {
    constexpr std::size_t kBlock = 1 << 20;
    UniqueFd in(::open(image.c_str(), O_RDONLY | O_CLOEXEC | O_DIRECT));
    if (!in.Valid()) return "cannot open the image with O_DIRECT: " + std::string(strerror(errno));
    UniqueFd out(::open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!out.Valid()) return "cannot create the copy";
    const off_t size = ::lseek(in.Get(), 0, SEEK_END);
    if (size <= 0 || ::ftruncate(out.Get(), size) != 0) return "cannot size the copy";
    void* raw = nullptr;
    if (::posix_memalign(&raw, 4096, kBlock) != 0) return "out of memory";
    const std::unique_ptr<char, decltype(&std::free)> buffer(static_cast<char*>(raw), &std::free);
    off_t at = 0;
    while (at < size) {
        off_t data = ::lseek(in.Get(), at, SEEK_DATA);
        if (data < 0) break;  // only holes are left
        data &= ~static_cast<off_t>(4095);
        const off_t hole = ::lseek(in.Get(), data, SEEK_HOLE);
        for (off_t pos = data; pos < hole; pos += static_cast<off_t>(kBlock)) {
            const ssize_t n = ::pread(in.Get(), buffer.get(), kBlock, pos);
            if (n < 0) return "O_DIRECT read failed: " + std::string(strerror(errno));
            if (n == 0) break;
            if (::pwrite(out.Get(), buffer.get(), static_cast<std::size_t>(n), pos) != n) {
                return "cannot write the copy";
            }
        }
        at = hole;
    }
    return {};
}

TEST_F(usb_e2e, CompleteMeansTheFilesAreOnTheDisk) {
    app->record.m_partitioned = 1;
    app->record.m_gptPartition = 1;
    // From the moment the run releases the stick's mounts, its volume is held
    // open, as a desktop's disk monitor may. The kernel then writes nothing
    // back when the tools close the device: only a flush of the run puts the
    // files on the disk.
    UniqueFd held;
    WriterStop released(Hooks(), "released-mounts", [&] {
        held = UniqueFd(::open(stick->Partition().c_str(), O_RDONLY | O_CLOEXEC));
    });

    ASSERT_EQ(Run(), 1) << Log();
    ASSERT_EQ(app->engine.m_setupStatus, SetupComplete);
    EXPECT_TRUE(released.Reached() && held.Valid()) << "the volume was not held during the run";

    // Read while the volume is still held: what is not on the image now was
    // not flushed when the run said complete.
    const std::string copy = dir / "copy.img";
    const std::string error = CopyBackingImage(dir / "stick.img", copy);
    held.Reset();
    if (!error.empty()) GTEST_SKIP() << error;
    // GPT: partition 1 starts at sector 2048.
    const std::string volume = copy + "@@1048576";
    const std::pair<const char*, const char*> files[] = {
        {"systemd-boot/systemd-bootx64.efi", "EFI/BOOT/BOOTX64.EFI"},
        {"kx/vmlinuz", "vmlinuz"},
        {"kx/image_zev-1.2.3.4-5.tar", "image_zev-1.2.3.4-5.tar"},
    };
    for (const auto& [source, target] : files) {
        EXPECT_TRUE(Mtype(volume, target) == ReadFileBytes(inst + "/" + source))
            << target << " is not on the disk";
    }
    LocalFolderRoot reference(dir.Path());
    ASSERT_TRUE(app->config.CreateNodeCfgFile(app->record, reference, false));
    EXPECT_EQ(Mtype(volume, "node.cfg"), ReadFileBytes(dir / "node.cfg"));
}

}  // namespace
}  // namespace flintmere::testing
