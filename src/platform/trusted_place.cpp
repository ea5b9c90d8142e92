#include "platform/trusted_place.h"

#include <dirent.h>
#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <vector>

namespace flintmere {
namespace {

std::string Parent(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

// One entry as it stands (a link is judged as a link: its folder decides).
std::string EntryReason(const std::string& path, const struct stat& st) {
    if (st.st_uid != 0) {
        return path + " belongs to user " + std::to_string(st.st_uid) + ", not to root";
    }
    if (!S_ISLNK(st.st_mode) && (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return path + " can be changed by its group or by others";
    }
    return {};
}

// `path` and every folder above it, without following the last link.
std::string ChainReason(const std::string& path) {
    for (std::string at = path;; at = Parent(at)) {
        struct stat st {};
        if (::lstat(at.c_str(), &st) == 0) {
            if (std::string why = EntryReason(at, st); !why.empty()) return why;
        } else if (errno != ENOENT && errno != ENOTDIR) {
            return "cannot check " + at;
        }
        if (at == "/") return {};
    }
}

}  // namespace

std::string UntrustedReason(const std::string& path) {
    if (path.empty() || path.front() != '/' || path.find("/../") != std::string::npos) {
        return "'" + path + "' is not a plain absolute path";
    }
    if (std::string why = ChainReason(path); !why.empty()) return why;
    // The same for where the links lead.
    std::string existing = path;
    while (existing != "/") {
        struct stat st {};
        if (::lstat(existing.c_str(), &st) == 0) break;
        existing = Parent(existing);
    }
    char resolved[PATH_MAX];
    if (!::realpath(existing.c_str(), resolved)) return "cannot check " + existing;
    return resolved == existing ? std::string() : ChainReason(resolved);
}

std::string WriterPlaceProblem(const std::string& writerFile) {
    if (std::string why = UntrustedReason(writerFile); !why.empty()) return why;
    const std::string folder = Parent(writerFile);
    std::vector<std::string> paths = {folder + "/lib", folder + "/syslinux/syslinux",
                                      folder + "/syslinux/mbr.bin",
                                      folder + "/syslinux/gptmbr.bin"};
    for (const std::string& listed : {folder + "/tools", folder + "/lib"}) {
        paths.push_back(listed);
        std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(listed.c_str()), ::closedir);
        while (dir) {
            const dirent* entry = ::readdir(dir.get());
            if (!entry) break;
            const std::string name = entry->d_name;
            if (name != "." && name != "..") paths.push_back(listed + "/" + name);
        }
    }
    const std::string system = kRootToolPath;
    for (std::size_t begin = 0; begin < system.size();) {
        std::size_t end = system.find(':', begin);
        if (end == std::string::npos) end = system.size();
        paths.push_back(system.substr(begin, end - begin));
        begin = end + 1;
    }
    for (const std::string& path : paths) {
        if (std::string why = UntrustedReason(path); !why.empty()) return why;
    }
    return {};
}

std::string LoadedCodeProblem() {
    std::vector<std::string> paths;
    ::dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) {
            const std::string name = info->dlpi_name ? info->dlpi_name : "";
            if (name.find('/') != std::string::npos) {
                static_cast<std::vector<std::string>*>(data)->push_back(name);
            }
            return 0;
        },
        &paths);
    // The loader's search path, run paths included, as it would use it now.
    void* self = ::dlopen(nullptr, RTLD_LAZY | RTLD_NOLOAD);
    Dl_serinfo size{};
    if (!self || ::dlinfo(self, RTLD_DI_SERINFOSIZE, &size) != 0) {
        return "cannot learn where the loader takes libraries from";
    }
    std::vector<std::max_align_t> storage(size.dls_size / sizeof(std::max_align_t) + 1);
    auto* info = reinterpret_cast<Dl_serinfo*>(storage.data());
    info->dls_size = size.dls_size;
    info->dls_cnt = size.dls_cnt;
    if (::dlinfo(self, RTLD_DI_SERINFO, info) != 0) {
        return "cannot learn where the loader takes libraries from";
    }
    for (unsigned i = 0; i < info->dls_cnt; ++i) {
        std::string dir = info->dls_serpath[i].dls_name;
        while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
        paths.push_back(dir);
    }
    for (const std::string& path : paths) {
        if (std::string why = UntrustedReason(path); !why.empty()) return "loaded code: " + why;
    }
    return {};
}

}  // namespace flintmere
