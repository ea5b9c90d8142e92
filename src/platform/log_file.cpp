#include "platform/log_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/fd_io.h"

namespace flintmere {

namespace {

// Up to this many "_N" names are tried when the first one is taken.
constexpr int kMaxSuffix = 999;

// "dir/name.log" with "_N" before the extension (N = 0: the name itself).
std::string WithSuffix(const std::string& path, int n) {
    if (n == 0) return path;
    const std::size_t slash = path.rfind('/');
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = path.size();
    return path.substr(0, dot) + "_" + std::to_string(n) + path.substr(dot);
}

}  // namespace

bool LogFile::Open(const std::string& path) {
    std::lock_guard lock(mutex_);
    // The name in the temporary folder is easy to guess. Only a file this
    // run creates is written: a planted file, link or FIFO, or the log of
    // another run, is never followed or appended to; the log moves aside.
    for (int n = 0; n <= kMaxSuffix; ++n) {
        const std::string name = WithSuffix(path, n);
        UniqueFd fd(::open(name.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!fd.Valid()) {
            if (errno == EEXIST) continue;
            return false;
        }
        fd_ = std::move(fd);
        path_ = name;
        return true;
    }
    return false;
}

bool LogFile::IsOpen() const {
    std::lock_guard lock(mutex_);
    return fd_.Valid();
}

void LogFile::Close() {
    std::lock_guard lock(mutex_);
    fd_.Reset();
}

std::string LogFile::TimeText(std::time_t now) {
    ::tzset();
    std::tm local{};
    ::localtime_r(&now, &local);
    char buf[64] = {};
    ::asctime_r(&local, buf);
    return std::string(buf, 19);
}

void LogFile::WriteLine(std::string_view ansiMessage, std::time_t now) {
    std::string line;
    line.reserve(ansiMessage.size() + 24);
    line += '[';
    line += TimeText(now);
    line += "] ";
    line += ansiMessage;
    line += "\r\n";
    std::lock_guard lock(mutex_);
    if (!fd_.Valid()) return;
    // A full disk loses the line; the run goes on without it.
    WriteAll(fd_.Get(), line.data(), line.size());
}

}  // namespace flintmere
