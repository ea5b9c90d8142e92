#include "helper/held_disk.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <cerrno>
#include <charconv>

namespace flintmere {
namespace {

#ifndef BLKGETDISKSEQ
#define BLKGETDISKSEQ _IOR(0x12, 128, __u64)
#endif

std::uint64_t SeqOfIdentity(const std::string& identity) {
    const std::size_t colon = identity.rfind(':');
    std::uint64_t seq = 0;
    if (colon == std::string::npos) return 0;
    const char* end = identity.data() + identity.size();
    auto [ptr, ec] = std::from_chars(identity.data() + colon + 1, end, seq);
    return ec == std::errc() && ptr == end ? seq : 0;
}

}  // namespace

std::uint64_t DiskSeqOf(int fd) {
    __u64 seq = 0;
    return ::ioctl(fd, BLKGETDISKSEQ, &seq) == 0 ? seq : 0;
}

bool HeldDiskService::Hold(const RemovableDisk& disk, std::uint64_t listedSize,
                           std::string& error) {
    const std::string gone = "the disk " + disk.devicePath + " is no longer the disk " +
                             disk.identity + " that the window listed";
    seq_ = SeqOfIdentity(disk.identity);
    UniqueFd fd(::open(disk.devicePath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0 || !S_ISBLK(st.st_mode) ||
        st.st_rdev != disk.deviceNumber || seq_ == 0 || DiskSeqOf(fd.Get()) != seq_) {
        error = gone;
        return false;
    }
    std::uint64_t length = 0;
    int sectorSize = 512;
    if (::ioctl(fd.Get(), BLKGETSIZE64, &length) != 0 ||
        ::ioctl(fd.Get(), BLKSSZGET, &sectorSize) != 0 || sectorSize <= 0 ||
        DiskGeometry::FromLength(length, static_cast<std::uint32_t>(sectorSize)).Size() !=
            listedSize) {
        error = "the disk " + disk.devicePath + " is not the size the window listed";
        return false;
    }
    disk_ = disk;
    held_ = std::move(fd);
    return true;
}

bool HeldDiskService::StillHeld() const {
    int error = 0;
    return Same(disk_, error);
}

bool HeldDiskService::Same(const RemovableDisk& disk, int& error) const {
    error = ENODEV;
    if (!held_.Valid() || disk.identity != disk_.identity || DiskSeqOf(held_.Get()) != seq_) {
        return false;
    }
    UniqueFd now(::open(disk_.devicePath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!now.Valid() || DiskSeqOf(now.Get()) != seq_) return false;
    error = 0;
    return true;
}

std::vector<RemovableDisk> HeldDiskService::ListRemovableDisks() {
    std::vector<RemovableDisk> listed = inner_.ListRemovableDisks();
    // Only the held disk, and only while it is still the one held.
    std::erase_if(listed, [this](const RemovableDisk& d) {
        int error = 0;
        return d.identity != disk_.identity || !Same(d, error);
    });
    return listed;
}

bool HeldDiskService::ReadPartitionInfo(const RemovableDisk& disk, PartitionEntry& entry) {
    int error = 0;
    return Same(disk, error) && inner_.ReadPartitionInfo(disk, entry);
}

std::string HeldDiskService::VolumeDevice(const RemovableDisk& disk) {
    int error = 0;
    return Same(disk, error) ? inner_.VolumeDevice(disk) : std::string();
}

std::unique_ptr<DiskWriter> HeldDiskService::OpenForWriting(const RemovableDisk& disk, int& error) {
    if (!Same(disk, error)) return nullptr;
    return inner_.OpenForWriting(disk, error);
}

bool HeldDiskService::FlushDisk(const RemovableDisk& disk, int& error) {
    return Same(disk, error) && inner_.FlushDisk(disk, error);
}

bool HeldDiskService::DropCachedPages(const RemovableDisk& disk, const std::string& volume,
                                      int& error) {
    return Same(disk, error) && inner_.DropCachedPages(disk, volume, error);
}

bool HeldDiskService::ReleaseMounts(const RemovableDisk& disk, int& error) {
    return Same(disk, error) && inner_.ReleaseMounts(disk, error);
}

bool HeldDiskService::HoldsSystem(const RemovableDisk& disk) {
    int error = 0;
    // A disk that is not the held one is treated as the system's: never written.
    return !Same(disk, error) || inner_.HoldsSystem(disk);
}

int HeldDiskService::Probe(const RemovableDisk& disk) {
    int error = 0;
    // Another disk under the held one's name: the one chosen is gone.
    if (!Same(disk, error)) return error != 0 ? error : ENODEV;
    return inner_.Probe(disk);
}

}  // namespace flintmere
