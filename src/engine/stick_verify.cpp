#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "engine/media_engine.h"
#include "platform/caller_rights.h"
#include "platform/tool_path.h"
#include "platform/unique_fd.h"

namespace flintmere {
namespace {

std::string BaseName(const std::string& relPath) {
    const std::size_t slash = relPath.rfind('/');
    return slash == std::string::npos ? relPath : relPath.substr(slash + 1);
}

// Where the first of `n` bytes differs, or `n` when they match.
std::size_t FirstDifference(const std::uint8_t* want, const std::uint8_t* got, std::size_t n) {
    if (n == 0 || std::memcmp(want, got, n) == 0) return n;
    std::size_t i = 0;
    while (want[i] == got[i]) ++i;
    return i;
}

// What a file should hold, matched in step with the bytes read from the stick.
// A source file is read in the same steps into one buffer: mapping it costs
// a page fault per few pages, which made the check several times slower
// than the stick.
class Expected {
  public:
    explicit Expected(const FatVolumeRoot::WrittenFile& file)
        : size_(file.size), generated_(file.bytes), fromSource_(!file.sourcePath.empty()) {
        if (fromSource_) {
            source_ = UniqueFd(::open(file.sourcePath.c_str(), O_RDONLY | O_CLOEXEC));
            if (source_.Valid()) ::posix_fadvise(source_.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
        }
    }

    // Matches `chunk` with the next bytes; false at the first difference,
    // with Offset() at the first differing byte.
    bool Match(std::span<const std::uint8_t> chunk) {
        const std::size_t want = static_cast<std::size_t>(
            std::min<std::uint64_t>(size_ - std::min(size_, offset_), chunk.size()));
        const std::span<const std::uint8_t> expected = Next(want);
        const std::size_t same = FirstDifference(expected.data(), chunk.data(), expected.size());
        offset_ += same;
        return same == chunk.size();  // also false when the stick holds more than was written
    }
    // True when every byte that was written has been seen.
    bool Complete() const { return offset_ == size_ && readable_; }
    std::uint64_t Offset() const { return offset_; }

  private:
    // Up to `n` expected bytes from Offset() on; fewer when the source
    // cannot give them.
    std::span<const std::uint8_t> Next(std::size_t n) {
        if (!fromSource_) {
            return generated_.subspan(offset_,
                                      std::min<std::size_t>(n, generated_.size() - offset_));
        }
        if (buffer_.size() < n) buffer_.resize(n);
        std::size_t got = 0;
        while (got < n && source_.Valid()) {
            const ssize_t r = ::pread(source_.Get(), buffer_.data() + got, n - got,
                                      static_cast<off_t>(offset_ + got));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) break;
            got += static_cast<std::size_t>(r);
        }
        if (got < n) readable_ = false;
        return {buffer_.data(), got};
    }

    std::uint64_t size_;
    std::span<const std::uint8_t> generated_;
    bool fromSource_;
    UniqueFd source_;
    std::vector<std::uint8_t> buffer_;
    std::uint64_t offset_ = 0;
    bool readable_ = true;
};

// `size` bytes at the start of `device`; false with errno.
bool ReadStart(const std::string& device, std::size_t size, std::vector<std::uint8_t>& bytes) {
    bytes.assign(size, 0);
    UniqueFd fd;
    {
        const RootFileAccess asRoot;  // the stick writer reads sources as its caller
        fd = UniqueFd(::open(device.c_str(), O_RDONLY | O_CLOEXEC));
    }
    if (!fd.Valid()) return false;
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n =
            ::pread(fd.Get(), bytes.data() + got, size - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) {
            errno = EIO;  // the device ended early
            return false;
        }
        got += static_cast<std::size_t>(n);
    }
    return true;
}

// What the tools wrote outside any file: read from the cache before it is
// dropped, and again from the medium after.
struct Region {
    const char* what;
    const char* differ;  // the verb that agrees with `what`
    std::string device;
    std::vector<std::uint8_t> written;
};

constexpr std::uint64_t kBootAreaLimit = 1 << 20;
// The volume's boot sector with the loader's boot code; the sectors after
// it (FSInfo, the FATs) are the file system check's.
constexpr std::size_t kVolumeStartBytes = 512;

}  // namespace

void MediaEngine::ShowUnreadable(const RemovableDisk& disk, const std::string& what, int error) {
    services_.WriteLogW(u"VerifyStick(): %s cannot be read: %s", FromPath(what),
                        FromPath(AppServices::SystemErrorText(error)));
    if (ShowIfStickGone(disk)) return;
    services_.DisplayMessage(
        FormatW(u"Verification failed: %s on the stick could not be read: %s. The "
                u"stick may be faulty.",
                FromPath(what), Utf8ToUtf16(AppServices::SystemErrorText(error))));
}

bool MediaEngine::VerifyStick(FatVolumeRoot& root, const RemovableDisk& disk,
                              std::uint64_t bootBytes) {
    services_.WriteLog("VerifyStick(): start");
    std::vector<Region> regions;
    if (bootBytes > 0) {
        regions.push_back({"the partition table and boot code", "differ", disk.devicePath, {}});
    }
    regions.push_back({"the file system's boot sector", "differs", root.Volume(), {}});
    for (Region& region : regions) {
        const std::size_t size = region.device == disk.devicePath && bootBytes > 0
                                     ? static_cast<std::size_t>(std::min(bootBytes, kBootAreaLimit))
                                     : kVolumeStartBytes;
        if (!ReadStart(region.device, size, region.written)) {
            ShowUnreadable(disk, region.what, errno);
            return false;
        }
    }

    // Reads served from memory would only repeat what was written.
    int dropError = 0;
    if (!diskService().DropCachedPages(disk, root.Volume(), dropError)) {
        services_.WriteLog("VerifyStick(): the cached pages of the stick could not be dropped");
        ShowStickFailure(disk, {}, dropError);
        return false;
    }

    for (const Region& region : regions) {
        std::vector<std::uint8_t> stored;
        if (!ReadStart(region.device, region.written.size(), stored)) {
            ShowUnreadable(disk, region.what, errno);
            return false;
        }
        const std::size_t at = FirstDifference(region.written.data(), stored.data(), stored.size());
        if (at != stored.size()) {
            services_.WriteLog("VerifyStick(): %s differs at offset %zu", region.what, at);
            services_.DisplayMessage(
                FormatW(u"Verification failed: %s on the stick %s from what was "
                        u"written. The stick may be faulty.",
                        FromPath(region.what), FromPath(region.differ)));
            return false;
        }
    }
    // The file system as a whole, by a reader of its own: the tables that
    // hold the files (both FAT copies agree) and the boot loader's files.
    const std::string fsck = ToolPath(ToolFolder(), "fsck.fat");
    if (!Process(FromPath("fsck.fat -n " + root.Volume()), {fsck, "-n", root.Volume()}, false)) {
        if (StopRequested()) {
            services_.WriteLog("VerifyStick(): canceled");
            return false;
        }
        if (ShowIfStickGone(disk)) return false;
        services_.WriteLog("VerifyStick(): the file system check failed (%d)", m_lastToolExitCode);
        services_.DisplayMessage(
            u"Verification failed: the file system on the stick is damaged. The stick may be "
            u"faulty.");
        return false;
    }

    const std::vector<FatVolumeRoot::WrittenFile>& files = root.Written();
    std::vector<std::string> paths;
    for (const auto& file : files) paths.push_back(file.relPath);
    std::map<std::string, FatVolumeRoot::StoredFile> stored;
    if (!root.LocateFiles(paths, stored)) {
        ShowUnreadable(disk, "the list of files", root.LastError());
        return false;
    }
    // The files up to the first one the stick does not hold, read in the
    // order they were written: on the stick that is mostly one sweep.
    std::vector<const FatVolumeRoot::StoredFile*> locations;
    for (const auto& file : files) {
        const auto found = stored.find(file.relPath);
        if (found == stored.end()) break;
        locations.push_back(&found->second);
    }

    std::uint64_t total = 0;
    for (const auto& file : files) total += file.size;
    std::uint64_t done = 0;
    int shown = 0;
    SetProgressPos(0);

    std::size_t at = 0;  // the file being matched
    std::optional<Expected> expected;
    auto begin = [&](std::size_t index) {
        at = index;
        SetProgressAction(
            FormatW(u"Verifying files...\r\n%s", FromPath(BaseName(files[at].relPath))));
        expected.emplace(files[at]);
    };
    // Moves on to `index`; false when a file before it came out short.
    auto reach = [&](std::size_t index) {
        if (!expected) begin(at);
        while (at < index) {
            if (!expected->Complete()) return false;
            begin(at + 1);
        }
        return true;
    };
    bool differs = false;
    std::size_t stoppedAt = 0;
    const bool read = root.ReadFilesOut(
        locations,
        [&](std::size_t index, std::span<const std::uint8_t> chunk) {
            if (StopRequested()) return false;
            if (!reach(index) || !expected->Match(chunk)) {
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
        },
        stoppedAt);
    if (StopRequested()) {
        services_.WriteLog("VerifyStick(): canceled");
        return false;
    }
    if (!read && !differs) {
        ShowUnreadable(disk, files[stoppedAt].relPath, root.LastError());
        return false;
    }
    bool failed = differs;
    // Files after the last chunk read are empty on the stick.
    if (!failed && !locations.empty())
        failed = !reach(locations.size() - 1) || !expected->Complete();
    if (!failed && locations.size() < files.size()) {
        failed = true;
        begin(locations.size());
        services_.WriteLogW(u"VerifyStick(): %s is missing", FromPath(files[at].relPath));
    }
    if (failed) {
        services_.WriteLogW(u"VerifyStick(): %s differs at offset %llu",
                            FromPath(files[at].relPath),
                            static_cast<unsigned long long>(expected->Offset()));
        services_.DisplayMessage(
            FormatW(u"Verification failed: %s on the stick differs from the "
                    u"installation folder. The stick may be faulty.",
                    FromPath(files[at].relPath)));
        return false;
    }
    services_.WriteLog("VerifyStick(): %zu files, %llu bytes verified", files.size(),
                       static_cast<unsigned long long>(total));
    return true;
}

}  // namespace flintmere
