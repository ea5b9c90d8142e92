// A small tmpfs mounted at a folder, for runs that must meet a full disk.
// Needs root; unmounted on every path.
#pragma once

#include <string>

namespace flintmere::testing {

class SmallTmpfs {
  public:
    // `size` as mount takes it: "8m"; `inodes` limits the files and folders
    // it holds (its root counts as one), 0 for tmpfs's own limit.
    SmallTmpfs(std::string folder, const std::string& size, int inodes = 0);
    ~SmallTmpfs();
    SmallTmpfs(const SmallTmpfs&) = delete;
    SmallTmpfs& operator=(const SmallTmpfs&) = delete;

    bool Mounted() const { return mounted_; }
    // Why it is not mounted.
    const std::string& Error() const { return error_; }
    const std::string& Folder() const { return folder_; }

  private:
    std::string folder_;
    std::string error_;
    bool mounted_ = false;
};

}  // namespace flintmere::testing
