// What the kernel holds of a stick in memory: written out before the run
// says done, and dropped before the read-back so that it reads the medium.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include "platform/disk_service.h"
#include "platform/fd_io.h"
#include "platform/unique_fd.h"

namespace flintmere {
namespace {

// Opens a node and writes out what its cache holds; an invalid descriptor
// when either fails. A node that cannot be opened fails the call only when
// it is `required`.
UniqueFd OpenSynced(const std::string& path, bool required, bool& ok, int& error) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) {
        if (required) {
            error = errno;
            ok = false;
        }
        return fd;
    }
    if (!SyncFile(fd.Get())) {
        error = errno;
        ok = false;
        return UniqueFd();
    }
    return fd;
}

}  // namespace

bool LinuxDiskService::FlushDisk(const RemovableDisk& disk, int& error) {
    // Each node has its own cache: the tools wrote through the partition.
    bool ok = true;
    for (const Node& node : DiskNodes(disk)) {
        OpenSynced(roots_.dev + "/" + node.name, node.name == disk.name, ok, error);
    }
    return ok;
}

bool LinuxDiskService::DropCachedPages(const RemovableDisk& disk, const std::string& volume,
                                       int& error) {
    // Each node has its own cache; the files were read and written through `volume`.
    std::vector<std::string> devices;
    for (const Node& node : DiskNodes(disk)) devices.push_back(roots_.dev + "/" + node.name);
    if (std::find(devices.begin(), devices.end(), volume) == devices.end()) {
        devices.push_back(volume);
    }
    bool ok = true;
    for (const std::string& device : devices) {
        const UniqueFd fd =
            OpenSynced(device, device == volume || device == disk.devicePath, ok, error);
        if (!fd.Valid()) continue;
        // BLKFLSBUF needs the admin capability; without it the advice
        // still drops the clean pages.
        if (::ioctl(fd.Get(), BLKFLSBUF, 0) != 0) {
            if (int rc = ::posix_fadvise(fd.Get(), 0, 0, POSIX_FADV_DONTNEED); rc != 0) {
                error = rc;
                ok = false;
            }
        }
    }
    return ok;
}

int LinuxDiskService::Probe(const RemovableDisk& disk) {
    // Past the cache, so the medium itself must answer.
    constexpr std::size_t kProbe = 4096;
    UniqueFd fd(::open(disk.devicePath.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC));
    if (!fd.Valid()) return errno;
    std::unique_ptr<void, decltype(&std::free)> buffer(std::aligned_alloc(kProbe, kProbe),
                                                       &std::free);
    if (!buffer) return ENOMEM;
    const ssize_t n = ::pread(fd.Get(), buffer.get(), kProbe, 0);
    if (n < 0) return errno;
    return n == static_cast<ssize_t>(kProbe) ? 0 : EIO;
}

}  // namespace flintmere
