// Reading files back from a FAT volume. mtools tells how long each file is
// and which clusters its FAT chain holds; the bytes themselves are read
// straight from the device in large blocks, as fast as the device reads.
#include "platform/fat_read_back.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <span>
#include <sstream>
#include <thread>

#include "platform/caller_rights.h"
#include "platform/unique_fd.h"

namespace flintmere {
namespace {

constexpr std::size_t kReadBlock = 1u << 20;
constexpr std::size_t kReadSlots = 4;

struct ByteRange {
    std::uint64_t offset;
    std::size_t length;
    std::size_t file;  // whose bytes these are
};

// Reads byte ranges of a device on a thread of its own, a few blocks ahead
// of the caller, so that the device stays busy while the caller compares.
class ReadAhead {
  public:
    ReadAhead(int fd, std::vector<ByteRange> ranges)
        : fd_(fd), ranges_(std::move(ranges)), slots_(kReadSlots) {
        std::size_t longest = 0;
        for (const ByteRange& range : ranges_) longest = std::max(longest, range.length);
        for (auto& slot : slots_) slot.resize(longest);
        reader_ = std::jthread([this](std::stop_token stop) { Read(stop); });
    }
    ~ReadAhead() {
        {
            // Under the lock, so the reader cannot miss it between its test and its wait.
            std::lock_guard lock(mutex_);
            reader_.request_stop();
        }
        wake_.notify_all();
    }
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The next range's bytes and the file they belong to; empty after the
    // last. False with `error` set and `file` naming the file when the
    // device could not be read.
    bool Next(std::span<const std::uint8_t>& block, std::size_t& file, int& error) {
        std::unique_lock lock(mutex_);
        if (next_ > 0) ++released_;  // the caller is done with the block before
        wake_.notify_all();
        if (next_ == ranges_.size()) {
            block = {};
            return true;
        }
        wake_.wait(lock, [&] { return read_ > next_ || error_ != 0; });
        file = ranges_[next_].file;
        if (read_ <= next_) {
            error = error_;
            return false;
        }
        block =
            std::span<const std::uint8_t>(slots_[next_ % kReadSlots].data(), ranges_[next_].length);
        ++next_;
        return true;
    }

  private:
    void Read(std::stop_token stop) {
        for (std::size_t i = 0; i < ranges_.size(); ++i) {
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock,
                           [&] { return stop.stop_requested() || i - released_ < kReadSlots; });
                if (stop.stop_requested()) return;
            }
            std::uint8_t* into = slots_[i % kReadSlots].data();
            const ByteRange& range = ranges_[i];
            std::size_t got = 0;
            int error = 0;
            while (got < range.length && error == 0) {
                const ssize_t n = ::pread(fd_, into + got, range.length - got,
                                          static_cast<off_t>(range.offset + got));
                if (n < 0 && errno == EINTR) continue;
                if (n < 0) error = errno;
                if (n == 0) error = EIO;
                if (n > 0) got += static_cast<std::size_t>(n);
            }
            std::lock_guard lock(mutex_);
            if (error != 0) {
                error_ = error;
                wake_.notify_all();
                return;
            }
            ++read_;
            wake_.notify_all();
        }
    }

    int fd_;
    std::vector<ByteRange> ranges_;
    std::vector<std::vector<std::uint8_t>> slots_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::size_t read_ = 0;      // ranges read into their slots
    std::size_t next_ = 0;      // the range the caller gets next
    std::size_t released_ = 0;  // slots the caller has given back
    int error_ = 0;
    std::jthread reader_;  // last: it ends before the rest goes
};

struct FatGeometry {
    std::uint64_t dataStart = 0;
    std::uint64_t clusterBytes = 0;
    std::uint64_t clusterCount = 0;
};

std::uint32_t LittleEndian(const std::uint8_t* p, int bytes) {
    std::uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | p[i];
    return value;
}

bool ReadGeometry(int fd, FatGeometry& geometry) {
    std::uint8_t boot[512];
    if (::pread(fd, boot, sizeof boot, 0) != static_cast<ssize_t>(sizeof boot)) return false;
    const std::uint64_t sectorBytes = LittleEndian(boot + 11, 2);
    const std::uint64_t clusterSectors = boot[13];
    const std::uint64_t reserved = LittleEndian(boot + 14, 2);
    const std::uint64_t fats = boot[16];
    const std::uint64_t rootEntries = LittleEndian(boot + 17, 2);
    std::uint64_t total = LittleEndian(boot + 19, 2);
    if (total == 0) total = LittleEndian(boot + 32, 4);
    std::uint64_t fatSectors = LittleEndian(boot + 22, 2);
    if (fatSectors == 0) fatSectors = LittleEndian(boot + 36, 4);
    if (sectorBytes < 512 || (sectorBytes & (sectorBytes - 1)) != 0 || clusterSectors == 0) {
        return false;
    }
    const std::uint64_t rootSectors = (rootEntries * 32 + sectorBytes - 1) / sectorBytes;
    const std::uint64_t firstData = reserved + fats * fatSectors + rootSectors;
    if (firstData >= total) return false;
    geometry.dataStart = firstData * sectorBytes;
    geometry.clusterBytes = clusterSectors * sectorBytes;
    geometry.clusterCount = (total - firstData) / clusterSectors;
    return true;
}

// "::/kx/vmlinuz <3-10><15>" as mshowfat prints a chain.
std::vector<std::pair<std::uint64_t, std::uint64_t>> ParseClusterRuns(const std::string& text) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> runs;
    for (std::size_t at = text.find('<'); at != std::string::npos; at = text.find('<', at + 1)) {
        unsigned long long first = 0, last = 0;
        if (std::sscanf(text.c_str() + at, "<%llu-%llu>", &first, &last) == 2) {
            runs.emplace_back(first, last);
        } else if (std::sscanf(text.c_str() + at, "<%llu>", &first) == 1) {
            runs.emplace_back(first, first);
        }
    }
    return runs;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Trim(std::string_view text) {
    std::size_t first = 0, last = text.size();
    while (first < last && std::isspace(static_cast<unsigned char>(text[first]))) ++first;
    while (last > first && std::isspace(static_cast<unsigned char>(text[last - 1]))) --last;
    return std::string(text.substr(first, last - first));
}

// One file line of a recursive mdir listing: "NAME     EXT   size date time [long name]".
bool ParseEntry(const std::string& line, std::string& name, std::uint64_t& size) {
    if (line.size() < 13 || line[0] == ' ' || line[8] != ' ') return false;
    std::istringstream fields(line.substr(12));
    std::string sizeText, date, time;
    if (!(fields >> sizeText >> date >> time)) return false;
    if (sizeText.find_first_not_of("0123456789") != std::string::npos) return false;  // <DIR>
    size = std::stoull(sizeText);
    std::string longName;
    std::getline(fields, longName);
    name = Trim(longName);
    if (name.empty()) {
        const std::string base = Trim(std::string_view(line).substr(0, 8));
        const std::string ext = Trim(std::string_view(line).substr(9, 3));
        name = ext.empty() ? base : base + "." + ext;
    }
    return true;
}

}  // namespace

bool FatReadBack::LocateFiles(const std::vector<std::string>& relPaths,
                              std::map<std::string, StoredFile>& found) {
    // Sizes from the directory entries, one listing for the whole volume.
    std::string listing;
    int code =
        tools_.Run({"mdir", "-/", "-a", "-i", toolVolume_(), "::/"}, error_, &listing, 64u << 20);
    if (code < 0) return false;
    if (code != 0) return Fail(EIO);
    std::map<std::string, std::uint64_t> sizes;
    std::istringstream in(listing);
    std::string folder;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (const std::size_t at = line.find("Directory for ::/"); at != std::string::npos) {
            folder = Lower(Trim(std::string_view(line).substr(at + 17)));
            continue;
        }
        std::string name;
        std::uint64_t size = 0;
        if (ParseEntry(line, name, size)) {
            sizes[folder.empty() ? Lower(name) : folder + "/" + Lower(name)] = size;
        }
    }

    // Cluster chains, a batch of files per tool run.
    std::vector<std::string> present;
    for (const std::string& path : relPaths) {
        const auto size = sizes.find(Lower(path));
        if (size == sizes.end() || path.find_first_of("*?[]") != std::string::npos) continue;
        found[path].size = size->second;
        if (size->second > 0) present.push_back(path);  // an empty file has no clusters
    }
    constexpr std::size_t kBatch = 256;
    for (std::size_t at = 0; at < present.size(); at += kBatch) {
        std::vector<std::string> args = {"mshowfat", "-i", toolVolume_()};
        const std::size_t end = std::min(present.size(), at + kBatch);
        for (std::size_t i = at; i < end; ++i) args.push_back("::/" + present[i]);
        std::string chains;
        code = tools_.Run(args, error_, &chains, 64u << 20);
        if (code < 0) return false;
        if (code != 0) return Fail(EIO);
        std::istringstream lines(chains);
        for (std::string line; std::getline(lines, line);) {
            for (std::size_t i = at; i < end; ++i) {
                // The tool's warnings on standard error may run into the line.
                const std::string prefix = "::/" + present[i] + " <";
                if (const std::size_t at = line.find(prefix); at != std::string::npos) {
                    found[present[i]].clusters =
                        ParseClusterRuns(line.substr(at + prefix.size() - 1));
                    break;
                }
            }
        }
    }
    return true;
}

bool FatReadBack::Fail(int error) {
    error_ = error;
    errno = error;
    return false;
}

bool FatReadBack::Open() {
    if (readBackFd_.Valid()) return true;
    UniqueFd device;
    {
        const RootFileAccess asRoot;  // the stick writer reads sources as its caller
        device = UniqueFd(::open(volume_.c_str(), O_RDONLY | O_CLOEXEC));
    }
    if (!device.Valid()) return Fail(errno);
    FatGeometry geometry;
    if (!ReadGeometry(device.Get(), geometry)) return Fail(EIO);
    ::posix_fadvise(device.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    dataStart_ = geometry.dataStart;
    clusterBytes_ = geometry.clusterBytes;
    clusterCount_ = geometry.clusterCount;
    readBackFd_ = std::move(device);
    return true;
}

bool FatReadBack::ReadFilesOut(const std::vector<const StoredFile*>& files,
                               const FileChunkSink& sink, std::size_t& stoppedAt) {
    stoppedAt = 0;
    if (files.empty()) return true;
    if (!Open()) return false;

    std::vector<ByteRange> ranges;
    for (std::size_t index = 0; index < files.size(); ++index) {
        std::uint64_t left = files[index]->size;
        for (const auto& [first, last] : files[index]->clusters) {
            if (left == 0) break;
            stoppedAt = index;
            if (first < 2 || last < first || last - 2 >= clusterCount_) return Fail(EIO);
            std::uint64_t offset = dataStart_ + (first - 2) * clusterBytes_;
            std::uint64_t runLeft = std::min(left, (last - first + 1) * clusterBytes_);
            left -= runLeft;
            while (runLeft > 0) {
                const std::size_t length =
                    static_cast<std::size_t>(std::min<std::uint64_t>(runLeft, kReadBlock));
                ranges.push_back({offset, length, index});
                offset += length;
                runLeft -= length;
            }
        }
        stoppedAt = index;
        if (left != 0) return Fail(EIO);  // the chain ends before the file does
    }

    ReadAhead reader(readBackFd_.Get(), std::move(ranges));
    for (;;) {
        std::span<const std::uint8_t> block;
        int error = 0;
        if (!reader.Next(block, stoppedAt, error)) return Fail(error);
        if (block.empty()) return true;
        if (!sink(stoppedAt, block)) return Fail(ECANCELED);
    }
}

}  // namespace flintmere
