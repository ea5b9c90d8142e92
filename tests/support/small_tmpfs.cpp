#include "support/small_tmpfs.h"

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

namespace flintmere::testing {

SmallTmpfs::SmallTmpfs(std::string folder, const std::string& size, int inodes)
    : folder_(std::move(folder)) {
    if (::geteuid() != 0) {
        error_ = "mounting a tmpfs needs root";
        return;
    }
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    std::string options = "size=" + size + ",mode=0755";
    if (inodes > 0) options += ",nr_inodes=" + std::to_string(inodes);
    if (::mount("tmpfs", folder_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
        error_ = std::string("mount -t tmpfs: ") + std::strerror(errno);
        return;
    }
    mounted_ = true;
}

SmallTmpfs::~SmallTmpfs() {
    if (!mounted_) return;
    // A file still held open somewhere must not keep the mount alive.
    if (::umount2(folder_.c_str(), 0) != 0) ::umount2(folder_.c_str(), MNT_DETACH);
}

}  // namespace flintmere::testing
