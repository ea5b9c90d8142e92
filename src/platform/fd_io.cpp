#include "platform/fd_io.h"

#include <unistd.h>

#include <cerrno>

namespace flintmere {
namespace {

std::function<int(int)>& SyncHook() {
    static std::function<int(int)> hook;
    return hook;
}

}  // namespace

bool WriteAll(int fd, const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool SyncFile(int fd) {
    const std::function<int(int)>& hook = SyncHook();
    return (hook ? hook(fd) : ::fsync(fd)) == 0;
}

SyncOverride::SyncOverride(std::function<int(int fd)> sync) {
    SyncHook() = std::move(sync);
}

SyncOverride::~SyncOverride() {
    SyncHook() = nullptr;
}

}  // namespace flintmere
