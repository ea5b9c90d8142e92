#include "platform/tool_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace flintmere {
namespace {

bool CarriesTools(const std::string& programFolder) {
    if (programFolder.empty()) return false;
    struct stat st {};
    return ::stat((programFolder + "/tools").c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsProgram(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// The formatter lives in sbin, which a desktop session's PATH may lack.
std::string FindOnSystem(const std::string& name) {
    std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    path += ":/usr/sbin:/sbin:/usr/bin:/bin";
    std::size_t begin = 0;
    while (begin <= path.size()) {
        std::size_t end = path.find(':', begin);
        if (end == std::string::npos) end = path.size();
        const std::string dir = path.substr(begin, end - begin);
        if (!dir.empty() && IsProgram(dir + "/" + name)) return dir + "/" + name;
        begin = end + 1;
    }
    return name;
}

}  // namespace

const std::vector<std::string> kBundledTools = {
    "mkfs.fat", "fsck.fat", "mcopy",    "mdir",   "mmd",         "mshowfat",
    "mattrib",  "mtype",    "syslinux", "sfdisk", "genisoimage",
};

std::string ToolPath(const std::string& programFolder, const std::string& name) {
    if (CarriesTools(programFolder)) return programFolder + "/tools/" + name;
    return FindOnSystem(name);
}

std::string MissingTool(const std::string& programFolder) {
    if (!CarriesTools(programFolder)) return {};
    for (const std::string& name : kBundledTools) {
        if (!IsProgram(programFolder + "/tools/" + name)) return "tools/" + name;
    }
    return {};
}

}  // namespace flintmere
