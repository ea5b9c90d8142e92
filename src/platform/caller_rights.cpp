#include "platform/caller_rights.h"

#include <grp.h>
#include <pwd.h>
#include <sys/fsuid.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>

namespace flintmere {
namespace {

// The raw calls: glibc's wrappers of setgroups change every thread.
long SetThreadGroups(const std::vector<gid_t>& groups) {
    return ::syscall(SYS_setgroups, groups.size(), groups.data());
}

}  // namespace

std::optional<Caller> CallerOfThisRun(std::string& error) {
    Caller caller;
    const char* given = std::getenv("PKEXEC_UID");
    if (::getuid() != 0 || !given || !*given) {
        caller.uid = ::getuid();
        caller.gid = ::getgid();
        const int count = ::getgroups(0, nullptr);
        caller.groups.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
        if (count > 0 && ::getgroups(count, caller.groups.data()) != count) caller.groups.clear();
        return caller;
    }
    const char* end = given + std::strlen(given);
    auto [ptr, ec] = std::from_chars(given, end, caller.uid);
    if (ec != std::errc() || ptr != end) {
        error = "PKEXEC_UID is not a user id";
        return std::nullopt;
    }
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(caller.uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) {
        error = "no user has the id " + std::string(given);
        return std::nullopt;
    }
    caller.gid = entry.pw_gid;
    int count = 64;
    caller.groups.resize(static_cast<std::size_t>(count));
    if (::getgrouplist(entry.pw_name, entry.pw_gid, caller.groups.data(), &count) < 0) {
        caller.groups.resize(static_cast<std::size_t>(count));
        ::getgrouplist(entry.pw_name, entry.pw_gid, caller.groups.data(), &count);
    }
    caller.groups.resize(static_cast<std::size_t>(count));
    return caller;
}

bool ActAsCallerOnThisThread(const Caller& caller) {
    if (::geteuid() != 0) return true;  // the rights are the caller's already
    if (SetThreadGroups(caller.groups) != 0) return false;
    ::setfsgid(caller.gid);
    ::setfsuid(caller.uid);
    // setfsuid reports the previous id, never an error: ask again.
    return ::setfsuid(static_cast<uid_t>(-1)) == static_cast<int>(caller.uid) &&
           ::setfsgid(static_cast<gid_t>(-1)) == static_cast<int>(caller.gid);
}

RootFileAccess::RootFileAccess()
    : uid_(::setfsuid(static_cast<uid_t>(-1))), gid_(::setfsgid(static_cast<gid_t>(-1))) {
    ::setfsuid(0);
    ::setfsgid(0);
}

RootFileAccess::~RootFileAccess() {
    ::setfsgid(static_cast<gid_t>(gid_));
    ::setfsuid(static_cast<uid_t>(uid_));
}

}  // namespace flintmere
