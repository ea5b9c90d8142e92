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

#include "platform/disk_layout.h"
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

// A USB stick's serial number is an attribute of the USB device, a few
// levels above the SCSI disk in sysfs.
std::string SerialNumber(const std::string& sysBlock) {
    std::error_code ec;
    fs::path at = fs::canonical(sysBlock + "/device", ec);
    for (int level = 0; !ec && level < 6 && at.has_relative_path(); ++level, at = at.parent_path()) {
        const std::string serial = ReadText((at / "serial").string());
        if (!serial.empty()) return serial;
    }
    return {};
}

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
        disk.serial = SerialNumber(sys);
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
    // A plain file at the node's name (left by a dd to a stick that was not
    // there) would take the whole file system and report it written.
    if (!S_ISBLK(st.st_mode) && roots_.dev == "/dev") return {};
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
    // A busy mount makes the writes fail (the stick is held); no rights to
    // unmount means no rights to write, which the operator must be told as such.
    if (!UnmountPartitions(disk, unmountError) &&
        (unmountError == EPERM || unmountError == EACCES)) {
        error = unmountError;
        return nullptr;
    }
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
    return MakeLinuxDiskWriter(disk, std::move(shared), std::move(syncNodes));
}

}  // namespace flintmere
