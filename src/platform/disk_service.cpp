#include "platform/disk_service.h"

#include <fcntl.h>
#include <libfdisk/libfdisk.h>
#include <linux/blkpg.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "platform/unique_fd.h"

namespace flintmere {
namespace fs = std::filesystem;

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    if (!in) return {};
    std::stringstream ss;
    ss << in.rdbuf();
    std::string text = ss.str();
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    std::size_t first = 0;
    while (first < text.size() && std::isspace(static_cast<unsigned char>(text[first]))) ++first;
    return text.substr(first);
}

bool ReadNumber(const std::string& path, std::uint64_t& value) {
    std::string text = ReadText(path);
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0') return false;
    value = v;
    return true;
}

// "8:16" as found in sysfs `dev` files and in mountinfo.
bool ParseDevNumber(const std::string& text, std::uint64_t& value) {
    unsigned major = 0, minor = 0;
    if (std::sscanf(text.c_str(), "%u:%u", &major, &minor) != 2) return false;
    value = makedev(major, minor);
    return true;
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

// Block devices that are never sticks, whatever their flags say.
bool IsExcludedKind(const std::string& name) {
    static const char* const kPrefixes[] = {"fd", "sr",  "loop", "ram", "zram", "dm-",
                                            "md", "nbd", "nvme", "vd",  "xvd",  "mmcblk"};
    for (const char* p : kPrefixes) {
        if (StartsWith(name, p)) return true;
    }
    return false;
}

// Mount points are written with octal escapes for blanks and backslashes.
std::string UnescapeMountPath(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && std::isdigit((unsigned char)text[i + 1]) &&
            std::isdigit((unsigned char)text[i + 2]) && std::isdigit((unsigned char)text[i + 3])) {
            out += static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 +
                                     (text[i + 3] - '0'));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

struct MountEntry {
    std::uint64_t device = 0;
    std::string mountPoint;
    std::string source;  // "/dev/sdb1", or what the file system names instead
};

std::vector<MountEntry> ReadMounts(const std::string& procRoot) {
    std::vector<MountEntry> mounts;
    std::ifstream in(procRoot + "/self/mountinfo");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, parent, devText, root, mountPoint;
        if (!(fields >> id >> parent >> devText >> root >> mountPoint)) continue;
        MountEntry entry;
        if (!ParseDevNumber(devText, entry.device)) continue;
        entry.mountPoint = UnescapeMountPath(mountPoint);
        // After the optional fields: " - type source options".
        std::string field, type, source;
        while (fields >> field && field != "-") {
        }
        if (field == "-" && fields >> type >> source) entry.source = UnescapeMountPath(source);
        mounts.push_back(std::move(entry));
    }
    return mounts;
}

bool IsSystemMountPoint(const std::string& path) {
    return path == "/" || path == "/boot" || path == "/boot/efi" || path == "/usr" ||
           path == "/home";
}

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
        if (exclusive_.Valid() && ::fsync(fd) != 0) return Fail(errno);
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
        if (::fsync(exclusive_.Get()) != 0) return Fail(errno);
        return true;
    }

    RemovableDisk disk_;
    UniqueFd shared_;
    UniqueFd exclusive_;
    std::function<bool()> syncNodes_;
    int lastError_ = 0;
};

}  // namespace

DiskGeometry DiskGeometry::FromLength(std::uint64_t lengthBytes, std::uint32_t bytesPerSector) {
    DiskGeometry g;
    g.bytesPerSector = bytesPerSector;
    const std::uint64_t cylinder = std::uint64_t{g.tracksPerCylinder} * g.TrackSize();
    g.cylinders = cylinder ? lengthBytes / cylinder : 0;
    return g;
}

std::string NewGuidText() {
    std::uint8_t b[16] = {};
    std::size_t got = 0;
    while (got < sizeof b) {
        ssize_t n = ::getrandom(b + got, sizeof b - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    b[6] = static_cast<std::uint8_t>((b[6] & 0x0f) | 0x40);
    b[8] = static_cast<std::uint8_t>((b[8] & 0x3f) | 0x80);
    return FormatA("%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[0],
                   b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                   b[14], b[15]);
}

LinuxDiskService::LinuxDiskService(Roots roots, std::vector<std::string> admitted)
    : roots_(std::move(roots)), admitted_(std::move(admitted)) {}

std::string LinuxDiskService::SysBlock(const std::string& name) const {
    return roots_.sys + "/block/" + name;
}

std::vector<RemovableDisk> LinuxDiskService::ListRemovableDisks() {
    std::vector<RemovableDisk> disks;
    std::error_code ec;
    for (const auto& item : fs::directory_iterator(roots_.sys + "/block", ec)) {
        const std::string name = item.path().filename().string();
        const std::string sys = SysBlock(name);
        const bool admitted =
            std::find(admitted_.begin(), admitted_.end(), name) != admitted_.end();
        if (!admitted) {
            if (IsExcludedKind(name)) continue;
            std::uint64_t removable = 0;
            ReadNumber(sys + "/removable", removable);
            std::error_code cec;
            const std::string real = fs::canonical(sys, cec).string();
            const bool onUsb = !cec && real.find("/usb") != std::string::npos;
            if (removable != 1 && !onUsb) continue;
            // SCSI peripheral type 0 is a disk; optical drives and the like differ.
            const std::string scsiType = ReadText(sys + "/device/type");
            if (!scsiType.empty() && scsiType != "0") continue;
        }
        std::uint64_t sectors = 0;
        if (!ReadNumber(sys + "/size", sectors) || sectors == 0) continue;  // no media
        RemovableDisk disk;
        disk.name = name;
        disk.devicePath = roots_.dev + "/" + name;
        if (!ParseDevNumber(ReadText(sys + "/dev"), disk.deviceNumber) || disk.deviceNumber == 0) {
            continue;
        }
        const std::string seq = ReadText(sys + "/diskseq");
        disk.identity = seq.empty() ? name : name + ":" + seq;
        std::string vendor = ReadText(sys + "/device/vendor");
        std::string model = ReadText(sys + "/device/model");
        disk.description = vendor.empty() ? model : model.empty() ? vendor : vendor + " " + model;
        std::uint64_t bps = 512;
        if (!ReadNumber(sys + "/queue/logical_block_size", bps) || bps == 0) bps = 512;
        disk.lengthBytes = sectors * 512;  // sysfs counts 512-byte units
        disk.geometry = DiskGeometry::FromLength(disk.lengthBytes, static_cast<std::uint32_t>(bps));
        if (HoldsSystem(disk)) continue;
        disks.push_back(std::move(disk));
    }
    std::sort(disks.begin(), disks.end(), [](const RemovableDisk& a, const RemovableDisk& b) {
        if (a.name.size() != b.name.size()) return a.name.size() < b.name.size();
        return a.name < b.name;
    });
    return disks;
}

std::vector<LinuxDiskService::Node> LinuxDiskService::DiskNodes(const RemovableDisk& disk) {
    std::vector<Node> nodes{{disk.name, disk.deviceNumber}};
    std::error_code ec;
    for (const auto& item : fs::directory_iterator(SysBlock(disk.name), ec)) {
        const std::string child = item.path().filename().string();
        if (!fs::exists(item.path() / "partition")) continue;
        Node node{child, 0};
        if (ParseDevNumber(ReadText((item.path() / "dev").string()), node.deviceNumber)) {
            nodes.push_back(node);
        }
    }
    return nodes;
}

bool LinuxDiskService::BuiltOn(std::uint64_t device, const std::string& source,
                               const std::vector<Node>& nodes) const {
    std::vector<std::string> pending;
    std::error_code ec;
    const fs::path byNumber =
        fs::canonical(roots_.sys + FormatA("/dev/block/%u:%u", major(device), minor(device)), ec);
    if (!ec) pending.push_back(byNumber.filename().string());
    if (StartsWith(source, "/dev/")) {
        const fs::path bySource = fs::canonical(roots_.dev + source.substr(4), ec);
        pending.push_back(ec ? fs::path(source).filename().string() : bySource.filename().string());
    }
    // Device-mapper and md devices name what they are built on in "slaves".
    std::vector<std::string> seen;
    while (!pending.empty() && seen.size() < 64) {
        const std::string name = pending.back();
        pending.pop_back();
        if (std::find(seen.begin(), seen.end(), name) != seen.end()) continue;
        seen.push_back(name);
        if (std::any_of(nodes.begin(), nodes.end(),
                        [&](const Node& n) { return n.name == name; })) {
            return true;
        }
        for (const auto& item : fs::directory_iterator(SysBlock(name) + "/slaves", ec)) {
            pending.push_back(item.path().filename().string());
        }
    }
    return false;
}

bool LinuxDiskService::HoldsSystem(const RemovableDisk& disk) {
    const std::vector<Node> nodes = DiskNodes(disk);
    auto ours = [&](std::uint64_t dev) {
        return std::any_of(nodes.begin(), nodes.end(),
                           [dev](const Node& n) { return n.deviceNumber == dev; });
    };
    // A btrfs mount shows an anonymous device number, an LVM or encrypted
    // one that of its mapping: the source and the slaves tell the disk.
    for (const MountEntry& m : ReadMounts(roots_.proc)) {
        if (IsSystemMountPoint(m.mountPoint) &&
            (ours(m.device) || BuiltOn(m.device, m.source, nodes))) {
            return true;
        }
    }
    std::ifstream swaps(roots_.proc + "/swaps");
    std::string line;
    std::getline(swaps, line);  // header
    while (std::getline(swaps, line)) {
        std::istringstream fields(line);
        std::string path;
        if (!(fields >> path)) continue;
        path = UnescapeMountPath(path);
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) continue;
        if ((S_ISBLK(st.st_mode) && (ours(st.st_rdev) || BuiltOn(st.st_rdev, {}, nodes))) ||
            ours(st.st_dev)) {
            return true;
        }
    }
    return false;
}

bool LinuxDiskService::ReleaseMounts(const RemovableDisk& disk, int& error) {
    return UnmountPartitions(disk, error);
}

bool LinuxDiskService::UnmountPartitions(const RemovableDisk& disk, int& error) {
    const std::vector<Node> nodes = DiskNodes(disk);
    std::vector<MountEntry> mounts = ReadMounts(roots_.proc);
    bool ok = true;
    // Newest first, so that mounts on top of the stick's mounts go first.
    for (auto it = mounts.rbegin(); it != mounts.rend(); ++it) {
        const bool ours = std::any_of(nodes.begin(), nodes.end(),
                                      [&](const Node& n) { return n.deviceNumber == it->device; });
        if (!ours) continue;
        if (::umount2(it->mountPoint.c_str(), 0) != 0) {
            error = errno;
            ok = false;
        }
    }
    return ok;
}

bool LinuxDiskService::ReadPartitionInfo(const RemovableDisk& disk, PartitionEntry& entry) {
    FdiskContext cxt(fdisk_new_context());
    if (!cxt) return false;
    fdisk_disable_dialogs(cxt.get(), 1);
    if (fdisk_assign_device(cxt.get(), disk.devicePath.c_str(), 1) != 0) return false;
    ReadEntryFromContext(cxt.get(), ReadFirstSector(disk.devicePath), entry);
    return true;
}

std::string LinuxDiskService::VolumeDevice(const RemovableDisk& disk) {
    PartitionEntry entry;
    if (!ReadPartitionInfo(disk, entry)) return {};
    if (entry.style == PartitionStyle::Raw) return disk.devicePath;
    if (entry.length == 0) return {};
    const bool digit =
        !disk.name.empty() && std::isdigit(static_cast<unsigned char>(disk.name.back()));
    const std::string part = disk.name + (digit ? "p1" : "1");
    const std::string sys = SysBlock(disk.name) + "/" + part;
    std::uint64_t start = 0, size = 0, dev = 0;
    if (!ReadNumber(sys + "/start", start) || !ReadNumber(sys + "/size", size)) return {};
    // A node left from the old table is not the new volume.
    if (start * 512 != entry.startingOffset || size * 512 != entry.length) return {};
    const std::string node = roots_.dev + "/" + part;
    struct stat st {};
    if (::stat(node.c_str(), &st) != 0) return {};
    if (S_ISBLK(st.st_mode) &&
        (!ParseDevNumber(ReadText(sys + "/dev"), dev) || st.st_rdev != dev)) {
        return {};
    }
    return node;
}

std::unique_ptr<DiskWriter> LinuxDiskService::OpenForWriting(const RemovableDisk& disk,
                                                             int& error) {
    const std::vector<RemovableDisk> listed = ListRemovableDisks();
    const bool isListed = std::any_of(listed.begin(), listed.end(), [&](const RemovableDisk& d) {
        return d.name == disk.name && d.deviceNumber == disk.deviceNumber &&
               d.devicePath == disk.devicePath;
    });
    if (!isListed || HoldsSystem(disk)) {
        error = ENODEV;
        return nullptr;
    }
    int unmountError = 0;
    UnmountPartitions(disk, unmountError);  // a busy mount makes the writes fail
    UniqueFd shared(::open(disk.devicePath.c_str(), O_RDONLY | O_CLOEXEC));
    if (!shared.Valid()) {
        error = errno;
        return nullptr;
    }
    struct stat st {};
    if (::fstat(shared.Get(), &st) != 0 || !S_ISBLK(st.st_mode) ||
        st.st_rdev != disk.deviceNumber) {
        error = ENODEV;
        return nullptr;
    }
    const int sharedFd = shared.Get();
    auto syncNodes = [this, disk, sharedFd]() {
        PartitionEntry entry;
        if (!ReadPartitionInfo(disk, entry)) return false;
        const bool want = entry.style != PartitionStyle::Raw && entry.length > 0;
        bool have = false;
        for (const Node& node : DiskNodes(disk)) {
            if (node.name == disk.name) continue;
            std::uint64_t partno = 0, start = 0, size = 0;
            const std::string sys = SysBlock(disk.name) + "/" + node.name;
            ReadNumber(sys + "/partition", partno);
            ReadNumber(sys + "/start", start);
            ReadNumber(sys + "/size", size);
            if (want && partno == 1 && start * 512 == entry.startingOffset &&
                size * 512 == entry.length) {
                have = true;
                continue;
            }
            blkpg_partition part{};
            part.pno = static_cast<int>(partno);
            blkpg_ioctl_arg arg{};
            arg.op = BLKPG_DEL_PARTITION;
            arg.datalen = sizeof part;
            arg.data = &part;
            if (::ioctl(sharedFd, BLKPG, &arg) != 0) return false;
        }
        if (want && !have) {
            blkpg_partition part{};
            part.pno = 1;
            part.start = static_cast<long long>(entry.startingOffset);
            part.length = static_cast<long long>(entry.length);
            blkpg_ioctl_arg arg{};
            arg.op = BLKPG_ADD_PARTITION;
            arg.datalen = sizeof part;
            arg.data = &part;
            if (::ioctl(sharedFd, BLKPG, &arg) != 0) return false;
        }
        return true;
    };
    return std::make_unique<LinuxDiskWriter>(disk, std::move(shared), std::move(syncNodes));
}

bool LinuxDiskService::FlushDisk(const RemovableDisk& disk, int& error) {
    // Each node has its own cache: the tools wrote through the partition.
    bool ok = true;
    for (const Node& node : DiskNodes(disk)) {
        UniqueFd fd(::open((roots_.dev + "/" + node.name).c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd.Valid()) {
            if (node.name == disk.name) {
                error = errno;
                ok = false;
            }
            continue;
        }
        if (::fsync(fd.Get()) != 0) {
            error = errno;
            ok = false;
        }
    }
    return ok;
}

}  // namespace flintmere
