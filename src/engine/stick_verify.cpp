#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
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

// A source file mapped read-only: its bytes are compared in place, without
// a copy, so the check keeps pace with the stick.
class MappedSource {
  public:
    MappedSource(const std::string& path, std::uint64_t limit) {
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        struct stat st {};
        if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0) return;
        size_ = std::min<std::uint64_t>(static_cast<std::uint64_t>(st.st_size), limit);
        if (size_ == 0) return;
        void* data = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd.Get(), 0);
        if (data == MAP_FAILED) {
            size_ = 0;
            return;
        }
        data_ = static_cast<const std::uint8_t*>(data);
        ::madvise(data, size_, MADV_SEQUENTIAL);
    }
    ~MappedSource() {
        if (data_) ::munmap(const_cast<std::uint8_t*>(data_), size_);
    }
    MappedSource(const MappedSource&) = delete;
    MappedSource& operator=(const MappedSource&) = delete;

    std::span<const std::uint8_t> Bytes() const { return {data_, data_ ? size_ : 0}; }

  private:
    const std::uint8_t* data_ = nullptr;
    std::uint64_t size_ = 0;
};

// What a file should hold, matched in step with the bytes read from the stick.
class Expected {
  public:
    explicit Expected(const FatVolumeRoot::WrittenFile& file)
        : size_(file.size),
          source_(file.sourcePath.empty()
                      ? nullptr
                      : std::make_unique<MappedSource>(file.sourcePath, file.size)),
          bytes_(source_ ? source_->Bytes() : std::span<const std::uint8_t>(file.bytes)) {}

    // Matches `chunk` with the next bytes; false at the first difference,
    // with Offset() at the first differing byte.
    bool Match(std::span<const std::uint8_t> chunk) {
        const std::size_t left = bytes_.size() > offset_ ? bytes_.size() - offset_ : 0;
        const std::size_t n = std::min(left, chunk.size());
        const std::uint8_t* want = bytes_.data() + offset_;
        if (n > 0 && std::memcmp(want, chunk.data(), n) != 0) {
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
    // True when every byte that was written has been seen.
    bool Complete() const { return offset_ == size_ && bytes_.size() == size_; }
    std::uint64_t Offset() const { return offset_; }

  private:
    std::uint64_t size_;
    std::unique_ptr<MappedSource> source_;
    std::span<const std::uint8_t> bytes_;
    std::size_t offset_ = 0;
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
