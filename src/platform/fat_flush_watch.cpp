#include "platform/fat_flush_watch.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/caller_rights.h"
#include "platform/whole_disk.h"

namespace flintmere {

int FatFlushWatch::Restart(bool on) {
    if (flusher_.joinable()) {
        flusher_.request_stop();
        flusher_.join();
    }
    // An error the flusher met after the copy last asked would be lost
    // here: its flush took the error, and no later flush sees it again.
    const int pending = flushError_;
    const int leaveError = LeaveWholeDisk();
    const int left = leaveError != 0 ? leaveError : pending;
    // The kernel reads ahead around the tools' writes into the device's
    // cache: on a stick that doubled the bytes moved. Nothing is read there
    // that the copy needs, so read-ahead is off while it runs.
    if (watchFd_.Valid() && savedReadAhead_ >= 0) {
        ::ioctl(watchFd_.Get(), BLKRASET, static_cast<unsigned long>(savedReadAhead_));
    }
    savedReadAhead_ = -1;
    unsynced_ = 0;
    flushError_ = 0;
    if (on) {
        const RootFileAccess asRoot;  // the stick writer reads sources as its caller
        watchFd_ = UniqueFd(::open(volume_.c_str(), O_RDONLY | O_CLOEXEC));
    } else {
        watchFd_ = UniqueFd();
    }
    if (!watchFd_.Valid()) return left;
    long readAhead = 0;
    if (::ioctl(watchFd_.Get(), BLKRAGET, &readAhead) == 0 &&
        ::ioctl(watchFd_.Get(), BLKRASET, 0UL) == 0) {
        savedReadAhead_ = readAhead;
    }
    PlanWholeDisk();
    // Flushes beside the copy, so that the tools never wait for the stick
    // more than its own speed makes them.
    flusher_ = std::jthread([this](std::stop_token stop) {
        std::unique_lock lock(flushLock_);
        while (!stop.stop_requested()) {
            if (!due_.wait(lock, stop, [&] { return unsynced_ >= kSyncBytes; })) break;
            unsynced_ = 0;
            lock.unlock();
            int error = ::fsync(watchFd_.Get()) == 0 ? 0 : errno;
            if (error == 0 && diskFd_.Valid() && ::fsync(diskFd_.Get()) != 0) error = errno;
            lock.lock();
            if (error != 0 && flushError_ == 0) flushError_ = error;
        }
    });
    return left;
}

// The kernel writes a partition back in pieces of its block size, which is
// 512 bytes when the partition's length is an odd number of sectors (as a
// partition that starts one track in is): a request then carries 64 KiB,
// and a stick spends more time between requests than moving the bytes.
// The whole disk is written back in pages, so while the writes are watched
// the tools write through it at the partition's offset.
void FatFlushWatch::PlanWholeDisk() {
    WholeDisk disk;
    if (!FindWholeDisk(volume_, disk)) return;
    UniqueFd fd;
    {
        const RootFileAccess asRoot;
        fd = UniqueFd(::open(disk.device.c_str(), O_RDONLY | O_CLOEXEC));
    }
    int diskBlock = 0, volumeBlock = 0;
    if (!fd.Valid() || ::ioctl(fd.Get(), BLKBSZGET, &diskBlock) != 0 ||
        ::ioctl(watchFd_.Get(), BLKBSZGET, &volumeBlock) != 0 || diskBlock <= volumeBlock) {
        return;
    }
    diskFd_ = std::move(fd);
    diskVolume_ = disk.device + "@@" + std::to_string(disk.start);
    diskPlanned_ = true;
}

const std::string& FatFlushWatch::ToolVolume(bool writing) {
    if (diskPlanned_ && writing) {
        diskPlanned_ = false;
        // Each node has its own cache. What other tools wrote through the
        // partition goes to the device, and the disk's cache forgets what
        // it held of the volume, before the tools read through the disk.
        onDisk_ = ::fsync(watchFd_.Get()) == 0 && ::ioctl(diskFd_.Get(), BLKFLSBUF, 0) == 0;
        if (!onDisk_) diskFd_.Reset();
    }
    return onDisk_ ? diskVolume_ : volume_;
}

int FatFlushWatch::LeaveWholeDisk() {
    // The error of a failed write goes to the first flush after it: later
    // flushes through other descriptors would not see it.
    const int error = !onDisk_ || ::fsync(diskFd_.Get()) == 0 ? 0 : errno;
    const bool flushed = error == 0;
    // Whatever reads the partition next must not find its stale pages.
    if (onDisk_ && flushed && ::ioctl(watchFd_.Get(), BLKFLSBUF, 0) != 0) {
        ::posix_fadvise(watchFd_.Get(), 0, 0, POSIX_FADV_DONTNEED);
    }
    onDisk_ = diskPlanned_ = false;
    diskFd_.Reset();
    return error;
}

int FatFlushWatch::SyncWhenDue(std::uint64_t streamed) {
    if (!flusher_.joinable()) return 0;
    std::lock_guard hold(flushLock_);
    unsynced_ += streamed;
    if (unsynced_ >= kSyncBytes) due_.notify_all();
    return flushError_;
}

}  // namespace flintmere
