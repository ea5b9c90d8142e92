#pragma once

#include <cstddef>
#include <functional>

namespace flintmere {

// Writes every byte, retrying short writes and EINTR. On failure errno tells
// why (EIO when the descriptor accepted nothing).
bool WriteAll(int fd, const void* data, std::size_t size);

// Writes out what the kernel holds of the file behind `fd` (fsync). False
// with errno set. Every sync whose failure must end a run goes through here.
bool SyncFile(int fd);

// While one lives, SyncFile calls `sync` in place of fsync: tests make the
// disk refuse with it. `sync` returns 0 or -1 with errno set, as fsync does.
// Set it before the worker starts; one at a time.
class SyncOverride {
  public:
    explicit SyncOverride(std::function<int(int fd)> sync);
    ~SyncOverride();
    SyncOverride(const SyncOverride&) = delete;
    SyncOverride& operator=(const SyncOverride&) = delete;
};

}  // namespace flintmere
