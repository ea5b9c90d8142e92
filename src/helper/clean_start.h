// What the stick writer does before anything else: it runs as root for a
// caller it does not trust, so nothing of the caller's environment, groups,
// working folder or descriptors may reach it or the tools it runs.
#pragma once

#include <string>

namespace flintmere {

// A folder of the writer's own, removed with its contents when it ends.
class PrivateTemp {
  public:
    PrivateTemp() = default;
    ~PrivateTemp();
    PrivateTemp(const PrivateTemp&) = delete;
    PrivateTemp& operator=(const PrivateTemp&) = delete;
    bool Make(std::string& error);
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

// Root's groups only, working folder /, descriptors above 2 closed, and an
// environment of its own: PATH of root's folders, HOME and TMPDIR in `temp`,
// MTOOLSRC at an empty configuration there, LC_ALL=C. False with `error`.
bool CleanStart(PrivateTemp& temp, std::string& error);

// Why this program must not run as root from where it stands (its file,
// its tools, its libraries), or "" when only root can change any of them.
std::string OwnPlaceProblem(const std::string& ownFile);

}  // namespace flintmere
