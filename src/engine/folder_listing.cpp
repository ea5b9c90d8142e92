#include "engine/folder_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace flintmere {
namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

FolderEntry::Kind KindOf(int dirFd, const char* name) {
    struct stat st {};
    if (::fstatat(dirFd, name, &st, 0) != 0) return FolderEntry::Other;
    if (S_ISDIR(st.st_mode)) return FolderEntry::Folder;
    if (S_ISREG(st.st_mode)) return FolderEntry::File;
    return FolderEntry::Other;
}

}  // namespace

bool FolderIdOf(const std::string& path, FolderId& id) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return true;
}

std::vector<FolderId> FolderAndAncestors(const std::string& folder) {
    std::vector<FolderId> ids;
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(folder.c_str(), nullptr),
                                                     &std::free);
    if (!real) return ids;
    std::string path = real.get();
    for (;;) {
        FolderId id;
        if (FolderIdOf(path.empty() ? "/" : path, id)) ids.push_back(id);
        if (path.empty() || path == "/") break;
        path.resize(path.rfind('/'));
    }
    return ids;
}

bool ListFolder(const std::string& folder, std::vector<FolderEntry>& entries, int& error) {
    entries.clear();
    std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
    if (!dir) {
        error = errno;
        return false;
    }
    int dirFd = ::dirfd(dir.get());
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (!entry) {
            if (errno != 0) {
                error = errno;
                entries.clear();
                return false;
            }
            break;
        }
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        FolderEntry::Kind kind = FolderEntry::Other;
        bool link = entry->d_type == DT_LNK;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat st {};
            link = ::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                   S_ISLNK(st.st_mode);
        }
        switch (entry->d_type) {
            case DT_DIR:
                kind = FolderEntry::Folder;
                break;
            case DT_REG:
                kind = FolderEntry::File;
                break;
            default:
                kind = KindOf(dirFd, entry->d_name);
                break;
        }
        entries.push_back({entry->d_name, kind, link});
    }
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    error = 0;
    return true;
}

}  // namespace flintmere
