#include <sys/stat.h>

#include <cerrno>
#include <vector>

#include "config/pattern_matcher.h"
#include "engine/folder_listing.h"
#include "engine/media_engine.h"
#include "platform/tool_path.h"

namespace flintmere {
namespace {

// Relative to the program's folder, in the order they are tested.
const std::vector<u16> kGptFiles = {
    u"/systemd-boot/systemd-bootx64.efi",
    u"/systemd-boot/loader.conf",
    u"/systemd-boot/iso.conf",
    u"/systemd-boot/usb.conf",
    u"/kx/initrd.gz",
    u"/kx/vmlinuz",
};

const std::vector<u16> kLegacyFiles = {
    u"/syslinux/syslinux.cfg",
    u"/syslinux/isolinux.bin",
    u"/syslinux/ldlinux.c32",
    u"/syslinux/mkisofs",
    u"/syslinux/syslinux",
    u"/systemd-boot/systemd-bootx64.efi",
    u"/systemd-boot/loader.conf",
    u"/systemd-boot/iso.conf",
    u"/systemd-boot/usb.conf",
    u"/kx/initrd.gz",
    u"/kx/vmlinuz",
};

// Missing only when the path certainly does not exist; a file we may not
// look at (EACCES and the like) is given the benefit of the doubt. A missing
// folder makes its files missing too: they are needed all the same.
bool IsMissing(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return false;
    return errno == ENOENT || errno == ENOTDIR;
}

}  // namespace

bool MediaEngine::CheckPendriveSoftware() {
    const std::vector<u16>& files = request_.m_gptPartition ? kGptFiles : kLegacyFiles;
    services_.WriteLog("Checking TVQ pendrive software...");
    bool result = true;
    for (const u16& entry : files) {
        if (IsMissing(ToPath(request_.m_exeFolder + entry))) {
            services_.WriteLogW(u"ERROR: file not found %s", entry);
            result = false;
            break;
        }
        services_.WriteLogW(u" - found %s", entry);
    }
    // A folder that carries its own tools must carry all of them.
    if (const std::string tool = MissingTool(ToPath(request_.m_exeFolder));
        result && !tool.empty()) {
        services_.WriteLog("ERROR: file not found /%s", tool.c_str());
        result = false;
    }
    services_.WriteLog("Check TVQ pendrive returned: %d", result ? 1 : 0);
    return result;
}

bool MediaEngine::CheckInstallImage() {
    services_.WriteLog("Checking TVQ Install software...");
    bool result = false;
    PatternMatcher matcher;
    if (matcher.Parse(kInstallImagePattern, true) == PatternOk) {
        std::vector<FolderEntry> entries;
        int error = 0;
        if (!ListFolder(ToPath(request_.m_distFolder), entries, error)) {
            services_.DisplayErrorMessage(error);
        } else {
            MatchContext context;
            for (const FolderEntry& entry : entries) {
                u16 name = FromPath(entry.name);
                if (!matcher.Match(name, context) || context.GroupCount() != 1) continue;
                if (context.GroupText(name, 0) == u"tar") result = true;
                services_.WriteLogW(u" - found %s", name);
            }
        }
    }
    services_.WriteLog("Check TVQ install returned: %d", result ? 1 : 0);
    return result;
}

}  // namespace flintmere
