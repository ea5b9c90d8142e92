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

// "dir/name_XXXXXX.log", made by mkostemps: a name no one can have taken.
bool OpenUniqueName(const std::string& path, UniqueFd& fd, std::string& name) {
    const std::size_t slash = path.rfind('/');
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = path.size();
    std::string pattern = path.substr(0, dot) + "_XXXXXX" + path.substr(dot);
    fd.Reset(
        ::mkostemps(pattern.data(), static_cast<int>(path.size() - dot), O_APPEND | O_CLOEXEC));
    if (!fd.Valid()) return false;
    name = pattern;
    return true;
}

// A line break or other control character in a message (a file name can
// hold any) would start a forged line: each is written as an escape.
void AppendEscaped(std::string& line, std::string_view message) {
    static const char kHex[] = "0123456789abcdef";
    for (const char c : message) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7f) {
            line += c;
        } else if (c == '\n') {
            line += "\\n";
        } else if (c == '\r') {
            line += "\\r";
        } else if (c == '\t') {
            line += c;
        } else {
            line += "\\x";
            line += kHex[byte >> 4];
            line += kHex[byte & 0xf];
        }
    }
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
    // Every numbered name is taken: a random one of this run's own.
    return OpenUniqueName(path, fd_, path_);
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
    AppendEscaped(line, ansiMessage);
    line += "\r\n";
    std::lock_guard lock(mutex_);
    if (!fd_.Valid()) return;
    // A full disk loses the line; the run goes on without it.
    WriteAll(fd_.Get(), line.data(), line.size());
}

}  // namespace flintmere
