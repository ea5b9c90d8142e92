#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "engine/media_engine.h"
#include "platform/unique_fd.h"

namespace flintmere {
namespace {

constexpr u16view kAppendKeyword = u"APPEND ";
constexpr u16view kVirtualCdFlag = u"vmcdromboot=true ";

// Reads the whole file; false with errno set when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string& bytes) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) return false;
    bytes.clear();
    char buffer[64 * 1024];
    for (;;) {
        ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
}

std::span<const std::uint8_t> AsBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

bool MediaEngine::CreateMiscFile(MediaRoot& target, std::string_view folder, std::string_view name,
                                 std::string_view text) {
    services_.WriteLog("CreateMiscFile(): start");
    if (text.data() == nullptr) {
        services_.DisplayMessage(u"file data not found");
        return false;
    }
    std::string relPath(name);
    if (!folder.empty()) relPath = std::string(folder) + "/" + relPath;
    // Creating and writing are one step here: a file that cannot be created
    // must not leave a write line in the log.
    if (!target.WriteFile(relPath, AsBytes(text))) {
        services_.PrintStdout("Could not create file (error %d)\n", target.LastError());
        return false;
    }
    // The texts are UTF-8 on the medium; the log has one encoding.
    services_.WriteLogW(u"CreateMiscFile(): write: \"%s\"", text);
    services_.WriteLog("CreateMiscFile(): done");
    return true;
}

bool MediaEngine::CreateBinaryFile(MediaRoot& target, std::string_view relPath,
                                   std::span<const std::uint8_t> data) {
    services_.WriteLog("CreateBinaryFile(): start");
    if (data.empty()) {
        services_.DisplayMessage(u"file data not found");
        return false;
    }
    if (!target.WriteFile(relPath, data)) {
        services_.PrintStdout("Could not create file (error %d)\n", target.LastError());
        return false;
    }
    services_.WriteLog("CreateBinaryFile(): done");
    return true;
}

bool MediaEngine::PatchBootConfig(const std::string& sourcePath, MediaRoot& target,
                                  std::string_view relPath) {
    std::string bytes;
    if (!ReadWholeFile(sourcePath, bytes)) {
        services_.PrintStdout("Could not open file (error %d)\n", errno);
        return false;
    }
    // The whole menu is patched, however long it is.
    u16 text = AnsiToUtf16(bytes);
    std::size_t at = text.find(kAppendKeyword);
    // Also at the very start: a menu that opens with its APPEND line boots
    // from a virtual CD all the same.
    if (at != u16::npos) text.insert(at + kAppendKeyword.size(), kVirtualCdFlag);
    std::string patched = Utf16ToAnsi(text);
    if (!target.WriteFile(relPath, AsBytes(patched))) {
        services_.PrintStdout("Could not open file (error %d)\n", target.LastError());
        return false;
    }
    return true;
}

}  // namespace flintmere
