#include "platform/system_env.h"

#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace flintmere {

u16 LinuxSystemEnv::TempFolder() {
    const char* dir = std::getenv("TMPDIR");
    std::string folder = (dir && *dir) ? dir : "/tmp";
    // Paths built on it reach tools as arguments: a relative TMPDIR such as
    // "-x" must not read as an option, nor change meaning with the directory.
    if (folder.front() != '/') {
        std::vector<char> cwd(4096);
        if (!::getcwd(cwd.data(), cwd.size())) return {};
        std::string base = cwd.data();
        if (base.back() != '/') base += '/';
        folder = base + folder;
    }
    if (folder.back() != '/') folder += '/';
    return FromPath(folder);
}

u16 LinuxSystemEnv::ExecutablePath() {
    std::vector<char> buf(4096);
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return {};
    return FromPath(std::string_view(buf.data(), static_cast<size_t>(n)));
}

}  // namespace flintmere
