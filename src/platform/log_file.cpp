#include "platform/log_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fd_io.h"

namespace flintmere {

bool LogFile::Open(const std::string& path) {
    std::lock_guard lock(mutex_);
    // The name in the temporary folder is easy to guess: a link or a FIFO
    // planted there must neither redirect the log nor block the start.
    UniqueFd fd(::open(path.c_str(),
                       O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644));
    if (!fd.Valid()) return false;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) return false;
    fd_ = std::move(fd);
    path_ = path;
    return true;
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
