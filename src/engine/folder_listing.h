// One folder's entries, in a fixed order, for the copy engine and the image check.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace flintmere {

struct FolderEntry {
    enum Kind { File, Folder, Other };
    std::string name;
    Kind kind = Other;  // symbolic links are followed; a dangling one is Other
    bool link = false;  // the entry itself is a symbolic link
};

// A folder's identity (device and inode, symbolic links followed): the
// same folder reached by another path has the same one.
struct FolderId {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FolderId&) const = default;
};

// False when `path` cannot be looked up.
bool FolderIdOf(const std::string& path, FolderId& id);

// `folder` and every folder above it up to "/", as the system resolves them.
std::vector<FolderId> FolderAndAncestors(const std::string& folder);

// Lists `folder` without "." and "..", sorted by the bytes of the names so
// that every run (and every file system) copies in the same order.
// Returns false with `error` set (errno) when the folder cannot be read.
bool ListFolder(const std::string& folder, std::vector<FolderEntry>& entries, int& error);

}  // namespace flintmere
