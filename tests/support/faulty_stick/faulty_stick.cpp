// A stick that misbehaves on request: one backing file served through FUSE
// as "stick" (to be attached to a loop device), and a "control" file. A test
// writes "key=value" lines to control to set a fault; reading control gives
// the bytes read and written so far.
//
//   faulty_stick BACKING SIZE MOUNTPOINT
//
// Keys (byte counts and offsets are decimal; "A-B" is the range [A, B)):
//   write_fail_after=N   writes fail once N more bytes have been written
//   write_fail_range=A-B writes touching the range fail
//   flip_range=A-B       reads return each byte of the range with bit 0 flipped
//   read_fail_range=A-B  reads touching the range fail
//   io_fail_after=N      every read and write fails once N more bytes moved
//   write_rate=R, read_rate=R   bytes per second (0: unlimited)
//   clear=1              no faults, no limits
#define FUSE_USE_VERSION 35
#include <fcntl.h>
#include <fuse.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

namespace {

constexpr std::uint64_t kNone = UINT64_MAX;

struct Range {
    std::uint64_t begin = 0, end = 0;
    bool Touches(std::uint64_t offset, std::uint64_t size) const {
        return offset < end && offset + size > begin;
    }
};

struct Faults {
    std::uint64_t writeFailAt = kNone;  // in bytes written
    Range writeFail;
    Range flip;
    Range readFail;
    std::uint64_t ioFailAt = kNone;  // in bytes moved
    std::uint64_t writeRate = 0, readRate = 0;
};

struct Stick {
    int fd = -1;
    std::uint64_t size = 0;
    std::mutex lock;
    Faults faults;
    std::uint64_t readBytes = 0, writtenBytes = 0;
    // When the device is free again: the rate limit queues requests.
    std::chrono::steady_clock::time_point busyUntil{};
};

Stick g;

bool ParseRange(const std::string& text, Range& range) {
    const std::size_t dash = text.find('-');
    if (dash == std::string::npos) return false;
    range.begin = std::strtoull(text.c_str(), nullptr, 10);
    range.end = std::strtoull(text.c_str() + dash + 1, nullptr, 10);
    return range.end >= range.begin;
}

int ApplyControl(const std::string& text) {
    std::lock_guard hold(g.lock);
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) return -EINVAL;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        const std::uint64_t n = std::strtoull(value.c_str(), nullptr, 10);
        Faults& f = g.faults;
        if (key == "write_fail_after") {
            f.writeFailAt = g.writtenBytes + n;
        } else if (key == "io_fail_after") {
            f.ioFailAt = g.readBytes + g.writtenBytes + n;
        } else if (key == "write_fail_range") {
            if (!ParseRange(value, f.writeFail)) return -EINVAL;
        } else if (key == "read_fail_range") {
            if (!ParseRange(value, f.readFail)) return -EINVAL;
        } else if (key == "flip_range") {
            if (!ParseRange(value, f.flip)) return -EINVAL;
        } else if (key == "write_rate") {
            f.writeRate = n;
        } else if (key == "read_rate") {
            f.readRate = n;
        } else if (key == "clear") {
            f = Faults{};
        } else {
            return -EINVAL;
        }
    }
    return 0;
}

std::string Counters() {
    std::lock_guard hold(g.lock);
    return "read=" + std::to_string(g.readBytes) + "\nwritten=" + std::to_string(g.writtenBytes) +
           "\n";
}

// Holds the request for as long as the device would take to move `n` bytes.
void Throttle(std::uint64_t rate, std::size_t n) {
    if (rate == 0) return;
    const auto now = std::chrono::steady_clock::now();
    const auto start = std::max(now, g.busyUntil);
    g.busyUntil = start + std::chrono::nanoseconds(n * 1000000000ull / rate);
    // Small requests run up a debt that is paid in one pause: a pause per
    // request would cost more than the request itself.
    if (g.busyUntil - now > std::chrono::milliseconds(2))
        std::this_thread::sleep_until(g.busyUntil);
}

bool IsStick(const char* path) {
    return std::strcmp(path, "/stick") == 0;
}

int GetAttr(const char* path, struct stat* st, fuse_file_info*) {
    std::memset(st, 0, sizeof *st);
    if (std::strcmp(path, "/") == 0) {
        st->st_mode = S_IFDIR | 0755;
        st->st_nlink = 2;
    } else if (IsStick(path)) {
        st->st_mode = S_IFREG | 0600;
        st->st_nlink = 1;
        st->st_size = static_cast<off_t>(g.size);
    } else if (std::strcmp(path, "/control") == 0) {
        st->st_mode = S_IFREG | 0600;
        st->st_nlink = 1;
        st->st_size = 4096;
    } else {
        return -ENOENT;
    }
    return 0;
}

int ReadDir(const char* path, void* buf, fuse_fill_dir_t fill, off_t, fuse_file_info*,
            fuse_readdir_flags) {
    if (std::strcmp(path, "/") != 0) return -ENOENT;
    for (const char* name : {".", "..", "stick", "control"}) {
        fill(buf, name, nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    }
    return 0;
}

int Open(const char* path, fuse_file_info* fi) {
    if (!IsStick(path) && std::strcmp(path, "/control") != 0) return -ENOENT;
    // Every request reaches this server: no page cache of ours in between.
    fi->direct_io = 1;
    return 0;
}

int Read(const char* path, char* buf, size_t size, off_t offset, fuse_file_info*) {
    if (!IsStick(path)) {
        const std::string text = Counters();
        if (static_cast<std::size_t>(offset) >= text.size()) return 0;
        const std::size_t n = std::min(size, text.size() - offset);
        std::memcpy(buf, text.data() + offset, n);
        return static_cast<int>(n);
    }
    std::lock_guard hold(g.lock);
    const std::uint64_t at = static_cast<std::uint64_t>(offset);
    if (at >= g.size) return 0;
    size = static_cast<size_t>(std::min<std::uint64_t>(size, g.size - at));
    Throttle(g.faults.readRate, size);  // failing takes the device's time too
    if (g.readBytes + g.writtenBytes + size > g.faults.ioFailAt ||
        g.faults.readFail.Touches(at, size)) {
        return -EIO;
    }
    const ssize_t n = ::pread(g.fd, buf, size, offset);
    if (n < 0) return -errno;
    g.readBytes += static_cast<std::uint64_t>(n);
    const Range& flip = g.faults.flip;
    for (std::uint64_t i = std::max(flip.begin, at); i < std::min(flip.end, at + n); ++i) {
        buf[i - at] ^= 1;
    }
    return static_cast<int>(n);
}

int Write(const char* path, const char* buf, size_t size, off_t offset, fuse_file_info*) {
    if (!IsStick(path)) {
        const int rc = ApplyControl(std::string(buf, size));
        return rc < 0 ? rc : static_cast<int>(size);
    }
    std::lock_guard hold(g.lock);
    const std::uint64_t at = static_cast<std::uint64_t>(offset);
    if (at + size > g.size) return -ENOSPC;
    const Faults& f = g.faults;
    Throttle(f.writeRate, size);
    if (g.readBytes + g.writtenBytes + size > f.ioFailAt || g.writtenBytes + size > f.writeFailAt ||
        f.writeFail.Touches(at, size)) {
        return -EIO;
    }
    const ssize_t n = ::pwrite(g.fd, buf, size, offset);
    if (n < 0) return -errno;
    g.writtenBytes += static_cast<std::uint64_t>(n);
    return static_cast<int>(n);
}

int Truncate(const char*, off_t, fuse_file_info*) {
    return 0;  // a device keeps its size
}

int Fsync(const char* path, int, fuse_file_info*) {
    if (!IsStick(path)) return 0;
    std::lock_guard hold(g.lock);
    if (g.readBytes + g.writtenBytes >= g.faults.ioFailAt) return -EIO;
    return ::fdatasync(g.fd) == 0 ? 0 : -errno;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s BACKING SIZE MOUNTPOINT\n", argv[0]);
        return 2;
    }
    g.fd = ::open(argv[1], O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    g.size = std::strtoull(argv[2], nullptr, 10);
    if (g.fd < 0 || ::ftruncate(g.fd, static_cast<off_t>(g.size)) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    fuse_operations ops{};
    ops.getattr = GetAttr;
    ops.readdir = ReadDir;
    ops.open = Open;
    ops.read = Read;
    ops.write = Write;
    ops.truncate = Truncate;
    ops.fsync = Fsync;
    ops.init = [](fuse_conn_info* conn, fuse_config*) -> void* {
        conn->max_write = 1u << 20;  // large requests, as a stick takes them
        return nullptr;
    };
    // Foreground and one thread: requests are served in turn, as by a stick.
    char* fuseArgs[] = {argv[0], const_cast<char*>("-f"), const_cast<char*>("-s"), argv[3]};
    return fuse_main(4, fuseArgs, &ops, nullptr);
}
