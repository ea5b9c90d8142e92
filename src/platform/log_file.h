// The run's log file: Windows-1252 lines ending with CR LF, each one append.
#pragma once

#include <ctime>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace flintmere {

class LogFile {
  public:
    // Creates a new file (0600) at `path` and opens it for appending. When
    // the name is taken, "_1", "_2", ... go before its extension, and after
    // "_999" a random "_XXXXXX"; an existing file is never opened. Path() is
    // the name used. False with errno set.
    bool Open(const std::string& path);
    bool IsOpen() const;
    void Close();
    const std::string& Path() const { return path_; }

    // Appends "[<first 19 chars of the C time text>] message\r\n" in one write.
    // Control characters of the message are written escaped ("\n", "\r",
    // "\x1b"), so every entry is one line whatever names it holds.
    void WriteLine(std::string_view ansiMessage, std::time_t now);

    // The first 19 characters of asctime() for `now` in local time.
    static std::string TimeText(std::time_t now);

  private:
    mutable std::mutex mutex_;
    UniqueFd fd_;
    std::string path_;
};

}  // namespace flintmere
