#include "helper/clean_start.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/trusted_place.h"
#include "platform/unique_fd.h"

namespace flintmere {

PrivateTemp::~PrivateTemp() {
    if (path_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

bool PrivateTemp::Make(std::string& error) {
    // /tmp is root's and sticky: nobody else can rename or remove our folder.
    std::string pattern = "/tmp/flintmere-writer-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        error = std::string("cannot make a private folder: ") + std::strerror(errno);
        return false;
    }
    path_ = pattern;
    return true;
}

bool CleanStart(PrivateTemp& temp, std::string& error) {
    ::umask(022);
    if (::geteuid() == 0) {
        const gid_t rootGroup = 0;
        if (::setgroups(1, &rootGroup) != 0 || ::setgid(0) != 0) {
            error = std::string("cannot take root's groups: ") + std::strerror(errno);
            return false;
        }
    }
    if (::chdir("/") != 0) {
        error = "cannot change to /";
        return false;
    }
    ::close_range(3, ~0u, 0);
    // PKEXEC_UID names the caller; it is the one value kept, and only read.
    const char* given = std::getenv("PKEXEC_UID");
    const std::string caller = given ? given : "";
    ::clearenv();
    if (!temp.Make(error)) return false;
    const std::string mtoolsrc = temp.Path() + "/mtools.conf";
    UniqueFd config(::open(mtoolsrc.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!config.Valid()) {
        error = "cannot make the mtools configuration";
        return false;
    }
    if (::setenv("PATH", kRootToolPath, 1) != 0 || ::setenv("HOME", temp.Path().c_str(), 1) != 0 ||
        ::setenv("TMPDIR", temp.Path().c_str(), 1) != 0 ||
        ::setenv("MTOOLSRC", mtoolsrc.c_str(), 1) != 0 || ::setenv("LC_ALL", "C", 1) != 0 ||
        (!caller.empty() && ::setenv("PKEXEC_UID", caller.c_str(), 1) != 0)) {
        error = "cannot set the environment";
        return false;
    }
    return true;
}

std::string OwnPlaceProblem(const std::string& ownFile) {
    if (std::string why = WriterPlaceProblem(ownFile); !why.empty()) return why;
    return LoadedCodeProblem();
}

}  // namespace flintmere
