#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <optional>

#include "engine/media_engine.h"
#include "platform/child_process.h"
#include "platform/fd_io.h"

namespace flintmere {

namespace {

// How long one pass waits for output; also how soon a cancel is noticed.
constexpr int kPassMs = 20;
// A tool gets this long to end after SIGTERM before its group is killed.
constexpr auto kKillGrace = std::chrono::milliseconds(200);
// Output that follows the tool's end is read for this long: a helper the
// tool left running with its output open must not hold the run forever.
constexpr auto kAfterExitLimit = std::chrono::seconds(1);
// What a pipe holds; read from it once the waiting is over.
constexpr int kDrainReads = 16;

bool IsCSpace(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

// The integer at the start of `text`, read the way the C library reads
// decimal text: leading white space, an optional sign, digits up to the
// first other character; 0 when there are none. Clamped to 32 bits.
long long LeadingInteger(u16view text) {
    size_t i = 0;
    while (i < text.size() && IsCSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    long long value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        if (value <= INT_MAX) value = value * 10 + (text[i] - u'0');
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return value;
}

// base + number * (100 - base) / 100, truncating toward zero. The bar keeps
// its range 0..100, so a nonsense percentage cannot put it outside.
int ProgressPosition(int base, long long number) {
    long long position = base + number * (100LL - base) / 100;
    if (position < 0) return 0;
    if (position > 100) return 100;
    return static_cast<int>(position);
}

// True for a line in which a tool reports a failure.
bool ReadsLikeError(std::string_view line) {
    std::string lower(line);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* word : {"error", "fail", "unable", "cannot", "can't", "denied", "invalid",
                             "no such", "no space"}) {
        if (lower.find(word) != std::string::npos) return true;
    }
    return false;
}

}  // namespace

bool MediaEngine::Process(const u16& commandLine, const std::vector<std::string>& argv,
                          bool trackProgress) {
    services_.WriteLogW(u"Process(): starting %s", commandLine);
    m_lastToolLine.clear();
    // The line that says why, for the box when the tool fails: its last line
    // that reads like an error, else its last line (a tool may print its
    // banner after the error). A line may span chunks.
    std::string pending;
    bool errorSeen = false;
    auto rememberLastLine = [this, &pending, &errorSeen](std::string_view bytes) {
        auto remember = [this, &errorSeen](std::string_view line) {
            if (line.find_first_not_of(" \t") == std::string_view::npos) return;
            const bool error = ReadsLikeError(line);
            if (error || !errorSeen) m_lastToolLine = line;
            errorSeen = errorSeen || error;
        };
        pending.append(bytes.substr(0, std::min(bytes.size(), bytes.find('\0'))));
        std::size_t begin = 0;
        for (std::size_t end; (end = pending.find_first_of("\r\n", begin)) != std::string::npos;
             begin = end + 1) {
            remember(std::string_view(pending).substr(begin, end - begin));
        }
        pending.erase(0, begin);
        remember(pending);  // no line feed yet
        if (pending.size() > 4096) pending.clear();
    };
    if (trackProgress) GetProgressPos(m_progressBase);

    UniqueFd outRead;
    UniqueFd outWrite;
    if (!MakePipe(outRead, outWrite)) {
        services_.DisplayErrorMessageStr(u"Stdout pipe creation failed", errno);
        return false;
    }
    UniqueFd inRead;
    UniqueFd inWrite;
    if (!MakePipe(inRead, inWrite)) {
        services_.DisplayErrorMessageStr(u"Stdin pipe creation failed\n", errno);
        return false;
    }

    ChildProcess child;
    const int spawnError = child.Spawn(argv, inRead.Get(), outWrite.Get());
    if (spawnError != 0) {
        services_.WriteLog("Process(): error starting process");
        services_.DisplayErrorMessageStr(commandLine, spawnError);
        return false;
    }
    // Only the child may hold the write end, so the pipe ends with the tool.
    if (!outWrite.Close()) {
        services_.DisplayErrorMessageStr(u"Error closing hChildStdoutWr", errno);
        return false;
    }
    // Answers a prompt for the Enter key. Our read end is still open, so the
    // two bytes land in the pipe even when the tool has already ended.
    if (!WriteAll(inWrite.Get(), "\r\n", 2)) {
        services_.DisplayErrorMessageStr(u"Error writing to pipe", errno);
        return false;
    }
    if (!inWrite.Close()) {
        services_.DisplayErrorMessageStr(u"Error closing hChildStdinWrDup", errno);
        return false;
    }
    inRead.Reset();
    services_.WriteLog("Process(): running...");

    ::fcntl(outRead.Get(), F_SETFL, ::fcntl(outRead.Get(), F_GETFL) | O_NONBLOCK);
    std::array<char, 4096> buffer;
    bool pipeOpen = true;

    auto handleChunk = [&](size_t size) {
        // The last byte gives way to the terminator: it is normally the
        // line feed of the tool's last line.
        std::string chunk(buffer.data(), size - 1);
        chunk.resize(::strnlen(chunk.c_str(), chunk.size()));
        services_.WriteLog("Process(): output \"%s\"", LogTextFromBytes(chunk).c_str());
        rememberLastLine(std::string_view(buffer.data(), size));
        if (!trackProgress) return;
        const u16 text = AnsiToUtf16(chunk);
        const size_t k = text.find(u"% done");
        if (k == u16::npos || k == 0) return;
        SetProgressPos(
            ProgressPosition(m_progressBase, LeadingInteger(u16view(text).substr(0, k))));
    };
    // One read; false once the pipe has nothing more for now.
    auto readOnce = [&]() -> bool {
        ssize_t n = ::read(outRead.Get(), buffer.data(), buffer.size());
        if (n > 0) {
            handleChunk(static_cast<size_t>(n));
            return true;
        }
        if (n < 0 && errno == EINTR) return true;
        if (n < 0 && errno == EAGAIN) return false;
        services_.WriteLog("Process(): closed");
        pipeOpen = false;
        return false;
    };

    // What is buffered now, bounded so that a writer cannot keep it going.
    auto drain = [&] {
        for (int i = 0; i < kDrainReads && pipeOpen && readOnce(); ++i) {
        }
    };

    // Output is read to its end, also after the tool has ended (what it
    // wrote last, what its children still write), up to kAfterExitLimit.
    // A cancel cuts it short.
    bool canceled = false;
    bool killed = false;
    std::chrono::steady_clock::time_point termSent;
    std::optional<std::chrono::steady_clock::time_point> exitSeen;
    for (;;) {
        if (!canceled && StopRequested()) {
            services_.WriteLog("Process(): canceled");
            child.SignalGroup(SIGTERM);
            canceled = true;
            termSent = std::chrono::steady_clock::now();
        }
        const bool exited = child.HasExited();
        if (canceled && exited) {
            // Not reaped yet, so the group id is still the tool's: take
            // whatever it started along with it, then keep what is buffered.
            child.SignalGroup(SIGKILL);
            drain();
            break;
        }
        if (exited && !exitSeen) exitSeen = std::chrono::steady_clock::now();
        if (exitSeen && pipeOpen &&
            std::chrono::steady_clock::now() - *exitSeen >= kAfterExitLimit) {
            drain();
            break;
        }
        if (canceled && !killed && std::chrono::steady_clock::now() - termSent >= kKillGrace) {
            child.SignalGroup(SIGKILL);
            killed = true;
        }
        if (pipeOpen) {
            pollfd p{outRead.Get(), POLLIN, 0};
            // One chunk per pass, so a chatty tool cannot hold off a cancel.
            if (::poll(&p, 1, kPassMs) > 0) readOnce();
        } else if (exited) {
            break;
        } else {
            ::poll(nullptr, 0, kPassMs);
        }
    }
    // Whatever the tool left running in its group ends with it.
    child.SignalGroup(SIGKILL);
    child.Reap();
    m_lastToolExitCode = child.ExitCode();

    bool result = !canceled;
    if (!child.Succeeded()) {
        services_.WriteLog("Process(): Error: command failed (%d)", child.ExitCode());
        result = false;
    }
    services_.WriteLog("Process(): done!");
    return result;
}

}  // namespace flintmere
