#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <vector>

#include "engine/media_engine.h"
#include "platform/unique_fd.h"

namespace flintmere {
namespace {

std::string LowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string BaseName(const std::string& relPath) {
    const std::size_t slash = relPath.rfind('/');
    return slash == std::string::npos ? relPath : relPath.substr(slash + 1);
}

// What a file should hold, fed in step with the bytes read from the stick.
class Expected {
  public:
    explicit Expected(const FatVolumeRoot::WrittenFile& file) : file_(file) {
        if (!file.sourcePath.empty()) {
            source_ = UniqueFd(::open(file.sourcePath.c_str(), O_RDONLY | O_CLOEXEC));
            if (source_.Valid()) ::posix_fadvise(source_.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
        }
    }

    // Matches `chunk` with the next bytes; false at the first difference,
    // with Offset() at the first differing byte.
    bool Match(std::span<const std::uint8_t> chunk) {
        std::span<const std::uint8_t> want = Next(chunk.size());
        const std::size_t n = std::min(want.size(), chunk.size());
        if (std::memcmp(want.data(), chunk.data(), n) != 0) {
            for (std::size_t i = 0; i < n; ++i) {
                if (want[i] != chunk[i]) {
                    offset_ += i;
                    return false;
                }
            }
        }
        offset_ += n;
        return n == chunk.size();  // the stick holds more than was written
    }
    // True when every expected byte was seen.
    bool Complete() { return offset_ == file_.size && Next(1).empty(); }
    std::uint64_t Offset() const { return offset_; }

  private:
    std::span<const std::uint8_t> Next(std::size_t size) {
        const std::uint64_t left = file_.size > offset_ ? file_.size - offset_ : 0;
        size = static_cast<std::size_t>(std::min<std::uint64_t>(size, left));
        if (file_.sourcePath.empty()) {
            return std::span<const std::uint8_t>(file_.bytes).subspan(offset_, size);
        }
        buffer_.resize(size);
        std::size_t got = 0;
        while (source_.Valid() && got < size) {
            const ssize_t n = ::pread(source_.Get(), buffer_.data() + got, size - got,
                                      static_cast<off_t>(offset_ + got));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        return std::span<const std::uint8_t>(buffer_.data(), got);
    }

    const FatVolumeRoot::WrittenFile& file_;
    UniqueFd source_;
    std::vector<std::uint8_t> buffer_;
    std::uint64_t offset_ = 0;
};

}  // namespace

bool MediaEngine::VerifyStick(FatVolumeRoot& root, const RemovableDisk& disk) {
    WriteLog("VerifyStick(): start");
    // Reads served from memory would only repeat what was written.
    int dropError = 0;
    if (!diskService().DropCachedPages(disk, root.Volume(), dropError)) {
        WriteLog("VerifyStick(): the cached pages of the stick could not be dropped");
        DisplayErrorMessage(dropError);
        return false;
    }

    std::map<std::string, std::uint64_t> sizes;
    if (!root.ListFileSizes(sizes)) {
        WriteLog("VerifyStick(): the folders of the stick cannot be listed");
        DisplayErrorMessage(root.LastError());
        return false;
    }

    const std::vector<FatVolumeRoot::WrittenFile> files = root.Written();
    std::uint64_t total = 0;
    for (const auto& file : files) total += file.size;
    std::uint64_t done = 0;
    int shown = 0;
    SetProgressPos(0);

    for (const auto& file : files) {
        SetProgressAction(FormatW(u"Verifying files...\r\n%s", FromPath(BaseName(file.relPath))));
        Expected expected(file);
        bool differs = false;
        const auto found = sizes.find(LowerAscii(file.relPath));
        if (found == sizes.end()) {
            WriteLogW(u"VerifyStick(): %s is missing", FromPath(file.relPath));
        }
        const std::uint64_t size = found == sizes.end() ? 0 : found->second;
        const bool read =
            found != sizes.end() &&
            root.ReadFileOut(file.relPath, size, [&](std::span<const std::uint8_t> chunk) {
                if (StopRequested()) return false;
                if (!expected.Match(chunk)) {
                    differs = true;
                    return false;
                }
                done += chunk.size();
                const int position = total ? static_cast<int>(done * 100 / total) : 100;
                if (position != shown) {
                    shown = position;
                    SetProgressPos(position);
                }
                return true;
            });
        if (StopRequested()) {
            WriteLog("VerifyStick(): canceled");
            return false;
        }
        if (!read && !differs && found != sizes.end()) {
            WriteLogW(u"VerifyStick(): %s cannot be read: %s", FromPath(file.relPath),
                      FromPath(SystemErrorText(root.LastError())));
        }
        if (!read || differs || !expected.Complete()) {
            WriteLogW(u"VerifyStick(): %s differs at offset %llu", FromPath(file.relPath),
                      static_cast<unsigned long long>(expected.Offset()));
            DisplayMessage(
                FormatW(u"Verification failed: %s on the stick differs from the "
                        u"installation folder. The stick may be faulty.",
                        FromPath(file.relPath)));
            return false;
        }
    }
    WriteLog("VerifyStick(): %zu files, %llu bytes verified", files.size(),
             static_cast<unsigned long long>(total));
    return true;
}

}  // namespace flintmere
