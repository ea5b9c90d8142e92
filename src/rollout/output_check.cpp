#include "rollout/output_check.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "platform/app_services.h"
#include "platform/unique_fd.h"

namespace flintmere {
namespace {

namespace fs = std::filesystem;

std::string Error(int error) {
    return AppServices::SystemErrorText(error);
}

std::uint64_t TreeBytes(const std::string& folder) {
    std::uint64_t total = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code sizeError;
        if (it->is_regular_file(sizeError)) {
            const auto size = it->file_size(sizeError);
            if (!sizeError) total += size;
        }
    }
    return total;
}

}  // namespace

std::string PrepareImageFolder(const std::string& folder, std::uint64_t imageBytes) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) {
        const int missing = errno;
        std::error_code made;
        if (missing == ENOENT) fs::create_directories(folder, made);
        if (missing != ENOENT || made) {
            return "the images cannot go to " + folder +
                   ": the folder cannot be made: " + Error(made ? made.value() : missing);
        }
    } else if (!S_ISDIR(st.st_mode)) {
        return "the images cannot go to " + folder + ": it is not a folder";
    }
    std::string probe = folder + "/.flintmere_probe_XXXXXX";
    UniqueFd fd(::mkstemp(probe.data()));
    if (!fd.Valid()) {
        return "the images cannot go to " + folder + ": no file can be made there: " + Error(errno);
    }
    ::unlink(probe.c_str());
    struct statvfs room {};
    if (::fstatvfs(fd.Get(), &room) == 0) {
        const std::uint64_t free = static_cast<std::uint64_t>(room.f_bavail) * room.f_frsize;
        if (free < imageBytes) {
            return "the images cannot go to " + folder + ": it has room for " + DecimalSize(free) +
                   ", and one image needs about " + DecimalSize(imageBytes);
        }
    }
    return "";
}

std::uint64_t EstimatedImageBytes(const std::string& distFolder, const std::string& exeFolder) {
    return TreeBytes(distFolder) + TreeBytes(exeFolder + "/syslinux") +
           TreeBytes(exeFolder + "/systemd-boot");
}

std::string DecimalSize(std::uint64_t bytes) {
    static constexpr const char* kUnits[] = {"bytes", "kB", "MB", "GB", "TB", "PB"};
    double value = static_cast<double>(bytes);
    std::size_t unit = 0;
    while (value >= 999.5 && unit + 1 < std::size(kUnits)) {
        value /= 1000;
        ++unit;
    }
    char text[32];
    if (unit == 0) {
        std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
    } else {
        const int decimals = value < 9.995 ? 2 : value < 99.95 ? 1 : 0;
        std::snprintf(text, sizeof text, "%.*f %s", decimals, value, kUnits[unit]);
    }
    return text;
}

}  // namespace flintmere
