#include "platform/whole_disk.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>

namespace flintmere {
namespace {

bool ReadLine(const std::filesystem::path& path, std::string& line) {
    std::ifstream in(path);
    return static_cast<bool>(std::getline(in, line));
}

}  // namespace

bool FindWholeDisk(const std::string& partition, WholeDisk& disk) {
    struct stat st {};
    if (::stat(partition.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return false;
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path node =
        fs::canonical(fs::path("/sys/dev/block") / (std::to_string(major(st.st_rdev)) + ":" +
                                                    std::to_string(minor(st.st_rdev))),
                      ec);
    std::string start;
    if (ec || !fs::exists(node / "partition") || !ReadLine(node / "start", start)) return false;
    // The disk's node sits beside the partition's; its numbers must agree.
    std::string numbers;
    if (!ReadLine(node.parent_path() / "dev", numbers)) return false;
    const std::string device =
        (fs::path(partition).parent_path() / node.parent_path().filename()).string();
    struct stat diskSt {};
    if (::stat(device.c_str(), &diskSt) != 0 || !S_ISBLK(diskSt.st_mode) ||
        std::to_string(major(diskSt.st_rdev)) + ":" + std::to_string(minor(diskSt.st_rdev)) !=
            numbers) {
        return false;
    }
    try {
        disk.start = std::stoull(start) * 512;  // sysfs counts 512-byte units
    } catch (const std::exception&) {
        return false;
    }
    disk.device = device;
    return true;
}

}  // namespace flintmere
