// A small tmpfs mounted at a folder, for runs that must meet a full disk.
// Needs root; unmounted on every path.
#pragma once

#include <string>

namespace flintmere::testing {

class SmallTmpfs {
  public:
    // `size` as mount takes it: "8m".
    SmallTmpfs(std::string folder, const std::string& size);
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
