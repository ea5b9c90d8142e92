#include "engine/staged_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/fd_io.h"
#include "platform/unique_fd.h"

namespace flintmere {
namespace {

constexpr off_t kSectorSize = 2048;
// The primary volume descriptor follows the 16 sectors of the system area.
constexpr off_t kDescriptorOffset = 16 * kSectorSize;

// The process's umask, read without changing it (other threads may create files).
mode_t CurrentUmask() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Umask:", 0) == 0) {
            return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8) & 0777);
        }
    }
    return 022;
}

std::uint32_t LittleEndian32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint16_t LittleEndian16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// Makes a rename in `folder` survive a crash; failures only cost that.
void SyncFolder(const std::string& folder) {
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Valid()) SyncFile(fd.Get());
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

StagedImage::~StagedImage() {
    Discard();
}

bool StagedImage::Create(const std::string& finalPath) {
    std::string pattern = finalPath + ".XXXXXX";
    // mkostemp opens with O_CREAT | O_EXCL: the name is this run's alone.
    UniqueFd fd(::mkostemp(pattern.data(), O_CLOEXEC));
    if (!fd.Valid()) return false;
    final_ = finalPath;
    path_ = pattern;
    live_ = true;
    // mkostemp makes it 0600; the image reads like any file the user creates.
    if (::fchmod(fd.Get(), 0666 & ~CurrentUmask()) != 0 || !fd.Close()) {
        const int error = errno;
        Discard();
        errno = error;
        return false;
    }
    return true;
}

bool StagedImage::HoldsIso9660Image() const {
    UniqueFd fd(::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid()) return false;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) return false;
    if (!S_ISREG(st.st_mode) || st.st_size < kDescriptorOffset + kSectorSize) {
        errno = EINVAL;
        return false;
    }
    unsigned char pvd[kSectorSize];
    ssize_t n;
    do {
        n = ::pread(fd.Get(), pvd, sizeof pvd, kDescriptorOffset);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return false;
    // Type 1 (primary), "CD001", version 1.
    if (n != kSectorSize || pvd[0] != 1 || std::memcmp(pvd + 1, "CD001", 5) != 0 || pvd[6] != 1) {
        errno = EINVAL;
        return false;
    }
    // A tool that ended early leaves fewer blocks than the volume counts.
    const std::uint64_t blocks = LittleEndian32(pvd + 80);
    const std::uint64_t blockSize = LittleEndian16(pvd + 128);
    if (blockSize == 0 || static_cast<std::uint64_t>(st.st_size) < blocks * blockSize) {
        errno = EINVAL;
        return false;
    }
    return true;
}

bool StagedImage::Commit() {
    {
        UniqueFd fd(::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!fd.Valid() || !SyncFile(fd.Get())) return false;
    }
    if (!live_) {
        errno = ENOENT;
        return false;
    }
    if (::rename(path_.c_str(), final_.c_str()) != 0) return false;
    live_ = false;
    SyncFolder(FolderOf(final_));
    return true;
}

bool StagedImage::Discard() {
    if (!live_) return false;
    live_ = false;
    return ::unlink(path_.c_str()) == 0;
}

}  // namespace flintmere
