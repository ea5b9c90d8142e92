// Flushes what the tools write to a volume beside the copy, so that a write
// the medium refuses ends the copy early instead of showing at the end.
// While it watches, the tools may write through the whole disk at the
// partition's offset, which the kernel writes back in larger pieces.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

#include "platform/unique_fd.h"

namespace flintmere {

class FatFlushWatch {
  public:
    explicit FatFlushWatch(const std::string& volume) : volume_(volume) {}
    ~FatFlushWatch() { Restart(false); }
    FatFlushWatch(const FatFlushWatch&) = delete;
    FatFlushWatch& operator=(const FatFlushWatch&) = delete;

    // Ends the watch in progress, and starts a new one when `on`. Returns
    // the error of a write that failed during the watch that ended, else 0.
    int Restart(bool on);
    // Counts `streamed` bytes; the volume is flushed every kSyncBytes.
    // Returns the error once a flush has failed, else 0.
    int SyncWhenDue(std::uint64_t streamed);
    // What the tools are given as the volume; a `writing` tool switches to
    // the whole disk when that was planned.
    const std::string& ToolVolume(bool writing = false);

    static constexpr std::uint64_t kSyncBytes = 32u << 20;

  private:
    void PlanWholeDisk();
    // 0, or the error the last flush through the disk gave.
    int LeaveWholeDisk();

    const std::string& volume_;
    UniqueFd watchFd_;  // opened before the writes, so it sees their errors
    std::mutex flushLock_;
    std::condition_variable_any due_;
    std::uint64_t unsynced_ = 0;  // guarded by flushLock_, as flushError_
    int flushError_ = 0;
    std::jthread flusher_;
    long savedReadAhead_ = -1;  // the device's, restored when the watch ends
    UniqueFd diskFd_;           // the whole disk, when the tools may write through it
    std::string diskVolume_;    // "DISK@@OFFSET" for the tools
    bool diskPlanned_ = false;  // switched to at the first tool run
    bool onDisk_ = false;
};

}  // namespace flintmere
