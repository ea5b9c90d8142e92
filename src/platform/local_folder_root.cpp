#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/fd_io.h"
#include "platform/media_root.h"
#include "platform/unique_fd.h"

namespace flintmere {

LocalFolderRoot::LocalFolderRoot(std::string folder) : folder_(std::move(folder)) {
    while (folder_.size() > 1 && folder_.back() == '/') folder_.pop_back();
}

std::string LocalFolderRoot::Join(std::string_view relPath) const {
    if (relPath.empty()) return folder_;
    return folder_ + "/" + std::string(relPath);
}

bool LocalFolderRoot::Fail() {
    lastError_ = errno;
    return false;
}

u16 LocalFolderRoot::DisplayPath(std::string_view relPath) const {
    return FromPath(Join(relPath));
}

bool LocalFolderRoot::MakeFolder(std::string_view relPath) {
    std::string path = Join(relPath);
    if (::mkdir(path.c_str(), 0755) == 0) return true;
    struct stat st {};
    if (errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
    return Fail();
}

bool LocalFolderRoot::WriteFile(std::string_view relPath, std::span<const std::uint8_t> data) {
    return Track(relPath, WriteFileOnce(relPath, data));
}

bool LocalFolderRoot::CopyFileIn(const std::string& sourcePath, std::string_view relPath,
                                 const ChunkProgress& progress) {
    return Track(relPath, CopyFileOnce(sourcePath, relPath, progress));
}

bool LocalFolderRoot::WriteFileOnce(std::string_view relPath, std::span<const std::uint8_t> data) {
    std::string path = Join(relPath);
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd.Valid()) return Fail();
    if (!WriteAll(fd.Get(), data.data(), data.size())) return Fail();
    if (!fd.Close()) return Fail();
    return true;
}

bool LocalFolderRoot::FileExists(std::string_view relPath) {
    struct stat st {};
    return ::stat(Join(relPath).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool LocalFolderRoot::CopyFileOnce(const std::string& sourcePath, std::string_view relPath,
                                   const ChunkProgress& progress) {
    UniqueFd in(::open(sourcePath.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in.Valid()) return Fail();
    std::string target = Join(relPath);
    UniqueFd out(::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!out.Valid()) return Fail();
    ::posix_fadvise(in.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    std::uint64_t done = 0;
    auto reportChunk = [&](std::size_t n) {
        done += n;
        if (progress && !progress(done)) {
            errno = ECANCELED;
            return false;
        }
        return true;
    };
    // The kernel copies without bouncing the data through this process (and
    // may share extents); chunks keep the progress moving. Where the file
    // systems cannot do that, fall back to reading and writing.
    bool kernelCopy = true;
    std::vector<std::uint8_t> buffer;
    for (;;) {
        ssize_t n = -1;
        if (kernelCopy) {
            n = ::copy_file_range(in.Get(), nullptr, out.Get(), nullptr, kChunkSize, 0);
            if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                          errno == EOPNOTSUPP || errno == EBADF)) {
                kernelCopy = false;
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return Fail();
        } else {
            if (buffer.empty()) buffer.resize(kChunkSize);
            n = ::read(in.Get(), buffer.data(), buffer.size());
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return Fail();
            if (n > 0 && !WriteAll(out.Get(), buffer.data(), static_cast<std::size_t>(n))) {
                return Fail();
            }
        }
        if (n == 0) break;
        if (!reportChunk(static_cast<std::size_t>(n))) return Fail();
    }
    if (!out.Close()) return Fail();
    return true;
}

}  // namespace flintmere
