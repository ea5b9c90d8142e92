// Partition tables through libfdisk: reading partition 1 back and the
// writer of a stick's whole-disk device.
#include "platform/disk_layout.h"

#include <fcntl.h>
#include <libfdisk/libfdisk.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/fd_io.h"
#include "platform/text.h"

namespace flintmere {
namespace {

struct FdiskContextDeleter {
    void operator()(fdisk_context* cxt) const { fdisk_unref_context(cxt); }
};
using FdiskContext = std::unique_ptr<fdisk_context, FdiskContextDeleter>;
struct FdiskPartitionDeleter {
    void operator()(fdisk_partition* pa) const { fdisk_unref_partition(pa); }
};
using FdiskPartition = std::unique_ptr<fdisk_partition, FdiskPartitionDeleter>;
struct FdiskTypeDeleter {
    void operator()(fdisk_parttype* t) const { fdisk_unref_parttype(t); }
};
using FdiskType = std::unique_ptr<fdisk_parttype, FdiskTypeDeleter>;

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Fills `entry` from the table libfdisk has read into `cxt`.
// A real table: boot indicators 0x00 or 0x80, and a used slot that starts
// past sector 0 (a formatter's fake entry for the whole volume starts at 0).
bool SaneMbrEntries(const std::vector<std::uint8_t>& sector) {
    if (sector.size() < 512) return false;
    bool used = false;
    for (int slot = 0; slot < 4; ++slot) {
        const std::uint8_t* e = &sector[446 + 16 * slot];
        if (e[0] != 0x00 && e[0] != 0x80) return false;
        const std::uint32_t start =
            e[8] | (e[9] << 8) | (e[10] << 16) | (std::uint32_t{e[11]} << 24);
        if (e[4] != 0 && start > 0) used = true;
    }
    return used;
}

std::vector<std::uint8_t> ReadFirstSector(const std::string& path) {
    std::vector<std::uint8_t> sector(512);
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid() || ::pread(fd.Get(), sector.data(), sector.size(), 0) != 512) sector.clear();
    return sector;
}

void ReadEntryFromContext(fdisk_context* cxt, const std::vector<std::uint8_t>& firstSector,
                          PartitionEntry& entry) {
    entry = PartitionEntry();
    if (!fdisk_has_label(cxt)) return;
    // A FAT boot sector ends like an MBR. Where a file system starts at
    // sector 0, the table counts only when its entries look like one (as the
    // kernel decides it).
    if (fdisk_get_collision(cxt) && !fdisk_is_ptcollision(cxt) &&
        (!fdisk_is_label(cxt, DOS) || !SaneMbrEntries(firstSector))) {
        return;
    }
    const bool gpt = fdisk_is_label(cxt, GPT);
    const bool dos = fdisk_is_label(cxt, DOS);
    if (!gpt && !dos) {
        entry.style = PartitionStyle::Raw;
        entry.length = 0;
        return;
    }
    entry.style = gpt ? PartitionStyle::Gpt : PartitionStyle::Mbr;
    char* id = nullptr;
    if (fdisk_get_disklabel_id(cxt, &id) == 0 && id) {
        if (gpt) {
            entry.gptDiskId = Upper(id);
        } else {
            entry.mbrSignature = static_cast<std::uint32_t>(std::strtoul(id, nullptr, 16));
        }
        std::free(id);
    }
    fdisk_partition* raw = nullptr;
    if (fdisk_get_partition(cxt, 0, &raw) != 0 || !raw) return;
    FdiskPartition pa(raw);
    if (!fdisk_partition_has_start(pa.get()) || !fdisk_partition_has_size(pa.get())) return;
    const std::uint64_t ss = fdisk_get_sector_size(cxt);
    entry.startingOffset = fdisk_partition_get_start(pa.get()) * ss;
    entry.length = fdisk_partition_get_size(pa.get()) * ss;
    if (fdisk_parttype* type = fdisk_partition_get_type(pa.get())) {
        if (gpt) {
            if (const char* s = fdisk_parttype_get_string(type)) entry.gptType = Upper(s);
        } else {
            entry.mbrType = static_cast<std::uint8_t>(fdisk_parttype_get_code(type));
        }
    }
    if (gpt) {
        if (const char* uuid = fdisk_partition_get_uuid(pa.get())) entry.gptId = Upper(uuid);
        if (const char* name = fdisk_partition_get_name(pa.get()))
            entry.gptName = Utf8ToUtf16(name);
    } else {
        entry.bootIndicator = fdisk_partition_is_bootable(pa.get()) != 0;
        entry.hiddenSectors = static_cast<std::uint32_t>(fdisk_partition_get_start(pa.get()));
    }
}

// The whole-disk device of a listed stick.
class LinuxDiskWriter final : public DiskWriter {
  public:
    LinuxDiskWriter(RemovableDisk disk, UniqueFd shared, std::function<bool()> syncNodes)
        : disk_(std::move(disk)), shared_(std::move(shared)), syncNodes_(std::move(syncNodes)) {
        TryExclusive();
    }

    bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
        if (!TryExclusive()) return false;
        std::size_t done = 0;
        while (done < data.size()) {
            ssize_t n = ::pwrite(exclusive_.Get(), data.data() + done, data.size() - done,
                                 static_cast<off_t>(offset + done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return Fail(n == 0 ? EIO : errno);
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    bool Refresh() override {
        const int fd = exclusive_.Valid() ? exclusive_.Get() : shared_.Get();
        if (exclusive_.Valid() && !SyncFile(fd)) return Fail(errno);
        if (::ioctl(fd, BLKRRPART) != 0) return Fail(errno);
        // Some kernels read no table at all (no partition parsers, loop
        // devices): make the nodes follow the table on the disk ourselves.
        if (!syncNodes_()) return Fail(errno);
        return true;
    }

    bool ReadLength(std::uint64_t& lengthBytes) override {
        std::uint64_t length = 0;
        if (::ioctl(shared_.Get(), BLKGETSIZE64, &length) != 0) return Fail(errno);
        lengthBytes = length;
        return true;
    }

    bool ReadGeometry(DiskGeometry& geometry) override {
        int sectorSize = 0;
        std::uint64_t length = 0;
        if (::ioctl(shared_.Get(), BLKSSZGET, &sectorSize) != 0) return Fail(errno);
        if (::ioctl(shared_.Get(), BLKGETSIZE64, &length) != 0) return Fail(errno);
        if (sectorSize <= 0) return Fail(EINVAL);
        geometry = DiskGeometry::FromLength(length, static_cast<std::uint32_t>(sectorSize));
        return true;
    }

    bool CreateDisk(const PartitionEntry& entry) override {
        FdiskContext cxt;
        if (!OpenContext(cxt)) return false;
        const bool gpt = entry.style == PartitionStyle::Gpt;
        if (int rc = fdisk_create_disklabel(cxt.get(), gpt ? "gpt" : "dos"); rc != 0) {
            return Fail(-rc);
        }
        std::string id = gpt ? entry.gptDiskId : FormatA("0x%08x", entry.mbrSignature);
        if (int rc = fdisk_set_disklabel_id_from_string(cxt.get(), id.c_str()); rc != 0) {
            return Fail(-rc);
        }
        return WriteContext(cxt);
    }

    bool SetLayout(const PartitionEntry& entry) override {
        FdiskContext cxt;
        if (!OpenContext(cxt)) return false;
        const bool gpt = entry.style == PartitionStyle::Gpt;
        if (!fdisk_has_label(cxt.get()) || fdisk_is_label(cxt.get(), GPT) != gpt) {
            return Fail(EINVAL);
        }
        // Slots 2 to 4 (and any other) carry nothing.
        for (std::size_t i = 0; i < fdisk_get_npartitions(cxt.get()); ++i) {
            if (fdisk_is_partition_used(cxt.get(), i)) fdisk_delete_partition(cxt.get(), i);
        }
        const std::uint64_t ss = fdisk_get_sector_size(cxt.get());
        const std::uint64_t start = entry.startingOffset / ss;
        std::uint64_t size = entry.length / ss;
        const std::uint64_t lastUsable = fdisk_get_last_lba(cxt.get());
        if (start > lastUsable) return Fail(ENOSPC);
        // The geometry size may leave no room for the backup table.
        if (start + size - 1 > lastUsable) size = lastUsable - start + 1;

        FdiskPartition pa(fdisk_new_partition());
        if (!pa) return Fail(ENOMEM);
        fdisk_partition_set_partno(pa.get(), 0);
        fdisk_partition_set_start(pa.get(), start);
        fdisk_partition_set_size(pa.get(), size);
        fdisk_partition_size_explicit(pa.get(), 1);
        FdiskType type(gpt ? fdisk_label_parse_parttype(fdisk_get_label(cxt.get(), nullptr),
                                                        entry.gptType.c_str())
                           : fdisk_new_parttype());
        if (!type) return Fail(EINVAL);
        if (!gpt) fdisk_parttype_set_code(type.get(), entry.mbrType);
        fdisk_partition_set_type(pa.get(), type.get());
        if (gpt) {
            fdisk_partition_set_uuid(pa.get(), entry.gptId.c_str());
            fdisk_partition_set_name(pa.get(), Utf16ToUtf8(entry.gptName).c_str());
        }
        if (int rc = fdisk_add_partition(cxt.get(), pa.get(), nullptr); rc != 0) return Fail(-rc);
        if (!gpt && entry.bootIndicator) {
            if (int rc = fdisk_toggle_partition_flag(cxt.get(), 0, DOS_FLAG_ACTIVE); rc != 0) {
                return Fail(-rc);
            }
        }
        return WriteContext(cxt);
    }

    int LastError() const override { return lastError_; }

  private:
    bool Fail(int error) {
        lastError_ = error;
        errno = error;
        return false;
    }

    // Writes need the disk to ourselves; another holder makes them fail.
    bool TryExclusive() {
        if (exclusive_.Valid()) return true;
        int fd = ::open(disk_.devicePath.c_str(), O_RDWR | O_EXCL | O_CLOEXEC);
        if (fd < 0) return Fail(errno);
        exclusive_.Reset(fd);
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISBLK(st.st_mode) || st.st_rdev != disk_.deviceNumber) {
            exclusive_.Reset();
            return Fail(ENODEV);
        }
        return true;
    }

    bool OpenContext(FdiskContext& cxt) {
        if (!TryExclusive()) return false;
        cxt.reset(fdisk_new_context());
        if (!cxt) return Fail(ENOMEM);
        fdisk_disable_dialogs(cxt.get(), 1);
        if (int rc =
                fdisk_assign_device_by_fd(cxt.get(), exclusive_.Get(), disk_.devicePath.c_str(), 0);
            rc != 0) {
            return Fail(-rc);
        }
        const DiskGeometry& g = disk_.geometry;
        fdisk_override_geometry(cxt.get(), static_cast<unsigned>(g.cylinders), g.tracksPerCylinder,
                                g.sectorsPerTrack);
        // Our offsets are exact; no alignment of our own choice.
        fdisk_set_first_lba(cxt.get(), 1);
        return true;
    }

    bool WriteContext(FdiskContext& cxt) {
        if (int rc = fdisk_write_disklabel(cxt.get()); rc != 0) return Fail(-rc);
        if (int rc = fdisk_deassign_device(cxt.get(), 1); rc != 0) return Fail(-rc);
        if (!SyncFile(exclusive_.Get())) return Fail(errno);
        return true;
    }

    RemovableDisk disk_;
    UniqueFd shared_;
    UniqueFd exclusive_;
    std::function<bool()> syncNodes_;
    int lastError_ = 0;
};

}  // namespace

std::unique_ptr<DiskWriter> MakeLinuxDiskWriter(const RemovableDisk& disk, UniqueFd shared,
                                                std::function<bool()> syncNodes) {
    return std::make_unique<LinuxDiskWriter>(disk, std::move(shared), std::move(syncNodes));
}

bool LinuxDiskService::ReadPartitionInfo(const RemovableDisk& disk, PartitionEntry& entry) {
    FdiskContext cxt(fdisk_new_context());
    if (!cxt) return false;
    fdisk_disable_dialogs(cxt.get(), 1);
    if (fdisk_assign_device(cxt.get(), disk.devicePath.c_str(), 1) != 0) return false;
    ReadEntryFromContext(cxt.get(), ReadFirstSector(disk.devicePath), entry);
    return true;
}

}  // namespace flintmere
