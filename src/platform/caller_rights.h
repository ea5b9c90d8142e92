// The stick writer runs as root but reads the installation folder and the
// logo as the user who asked for it (pkexec's PKEXEC_UID). File rights are
// checked against the file-system ids, which Linux keeps per thread: the
// worker thread takes the caller's ids, and only the opens of the disk's own
// devices take root's back for their duration. A tool started from that
// thread runs as root again (exec resets the file-system ids).
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace flintmere {

struct Caller {
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
};

// The user pkexec ran us for, or the real user when not started by pkexec.
// Empty, with `error`, when PKEXEC_UID names no user.
std::optional<Caller> CallerOfThisRun(std::string& error);

// Takes the caller's file-system ids and groups for the calling thread only.
bool ActAsCallerOnThisThread(const Caller& caller);

// Root's file-system ids on this thread for the lifetime of the object.
class RootFileAccess {
  public:
    RootFileAccess();
    ~RootFileAccess();
    RootFileAccess(const RootFileAccess&) = delete;
    RootFileAccess& operator=(const RootFileAccess&) = delete;

  private:
    int uid_;
    int gid_;
};

}  // namespace flintmere
