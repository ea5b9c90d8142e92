// Reading files back from a FAT volume. mtools tells how long each file is
// and which clusters its FAT chain holds; the bytes themselves are read
// straight from the device in large blocks, as fast as the device reads.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <sstream>

#include "platform/fat_volume_root.h"
#include "platform/unique_fd.h"

namespace flintmere {
namespace {

constexpr std::size_t kReadBlock = 4u << 20;

struct FatGeometry {
    std::uint64_t dataStart = 0;  // byte offset of cluster 2
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

bool FatVolumeRoot::ListFileSizes(std::map<std::string, std::uint64_t>& sizes) {
    std::string listing;
    const int code = Run({"mdir", "-/", "-a", "-i", volume_, "::/"}, &listing, 64u << 20);
    if (code < 0) return false;
    if (code != 0) return Fail(EIO);
    std::istringstream in(listing);
    std::string folder;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("Directory for ::/", 0) == 0) {
            folder = Lower(Trim(std::string_view(line).substr(17)));
            continue;
        }
        std::string name;
        std::uint64_t size = 0;
        if (ParseEntry(line, name, size)) {
            sizes[folder.empty() ? Lower(name) : folder + "/" + Lower(name)] = size;
        }
    }
    return true;
}

bool FatVolumeRoot::ReadFileOut(std::string_view relPath, std::uint64_t size,
                                const ChunkSink& sink) {
    if (relPath.empty() || relPath.find_first_of("*?[]") != std::string_view::npos) {
        return Fail(EINVAL);
    }
    if (size == 0) return true;  // an empty file has no clusters
    std::string chain;
    const int code = Run({"mshowfat", "-i", volume_, "::/" + std::string(relPath)}, &chain);
    if (code < 0) return false;
    if (code != 0) return Fail(chain.find("not found") != std::string::npos ? ENOENT : EIO);

    UniqueFd device(::open(volume_.c_str(), O_RDONLY | O_CLOEXEC));
    if (!device.Valid()) return Fail(errno);
    FatGeometry geometry;
    if (!ReadGeometry(device.Get(), geometry)) return Fail(EIO);
    ::posix_fadvise(device.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    std::vector<std::uint8_t> buffer(kReadBlock);
    std::uint64_t left = size;
    for (const auto& [first, last] : ParseClusterRuns(chain)) {
        if (first < 2 || last < first || last - 2 >= geometry.clusterCount) return Fail(EIO);
        std::uint64_t offset = geometry.dataStart + (first - 2) * geometry.clusterBytes;
        std::uint64_t runLeft = std::min(left, (last - first + 1) * geometry.clusterBytes);
        while (runLeft > 0) {
            const std::size_t want =
                static_cast<std::size_t>(std::min<std::uint64_t>(runLeft, buffer.size()));
            // The device fetches the next block while this one is compared.
            if (runLeft > want) {
                ::posix_fadvise(
                    device.Get(), static_cast<off_t>(offset + want),
                    static_cast<off_t>(std::min<std::uint64_t>(runLeft - want, buffer.size())),
                    POSIX_FADV_WILLNEED);
            }
            std::size_t got = 0;
            while (got < want) {
                const ssize_t n = ::pread(device.Get(), buffer.data() + got, want - got,
                                          static_cast<off_t>(offset + got));
                if (n < 0 && errno == EINTR) continue;
                if (n < 0) return Fail(errno);
                if (n == 0) return Fail(EIO);
                got += static_cast<std::size_t>(n);
            }
            if (!sink(std::span<const std::uint8_t>(buffer.data(), want))) return Fail(ECANCELED);
            offset += want;
            runLeft -= want;
            left -= want;
        }
        if (left == 0) return true;
    }
    return Fail(EIO);  // the chain ends before the file does
}

}  // namespace flintmere
