// Reading files back from a FAT volume: mtools tells how long each file is
// and which clusters its FAT chain holds; the bytes are streamed straight
// from the device along those clusters by a thread that reads ahead.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/fat_mtools.h"
#include "platform/unique_fd.h"

namespace flintmere {

class FatReadBack {
  public:
    // Where a file's bytes lie: the size its directory entry gives and the
    // cluster runs (first, last) its FAT chain holds.
    struct StoredFile {
        std::uint64_t size = 0;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> clusters;
    };
    using FileChunkSink =
        std::function<bool(std::size_t file, std::span<const std::uint8_t> chunk)>;

    // `toolVolume` names the volume for mtools at the moment of each call.
    FatReadBack(const std::string& volume, const Mtools& tools,
                std::function<std::string()> toolVolume)
        : volume_(volume), tools_(tools), toolVolume_(std::move(toolVolume)) {}

    // Looks up `relPaths` on the volume (one directory listing and one chain
    // listing per batch of files); a path that is not there gets no entry.
    bool LocateFiles(const std::vector<std::string>& relPaths,
                     std::map<std::string, StoredFile>& found);
    // Streams the bytes of `files`, one after the other, into `sink`. False
    // with LastError set and `stoppedAt` naming the file when the device
    // cannot be read or a chain is too short, or ECANCELED when `sink`
    // returned false.
    bool ReadFilesOut(const std::vector<const StoredFile*>& files, const FileChunkSink& sink,
                      std::size_t& stoppedAt);
    int LastError() const { return error_; }

  private:
    // The device, opened once, so that the kernel's read-ahead runs on from
    // one file into the next.
    bool Open();
    bool Fail(int error);

    const std::string& volume_;
    const Mtools& tools_;
    std::function<std::string()> toolVolume_;
    int error_ = 0;
    UniqueFd readBackFd_;
    std::uint64_t dataStart_ = 0;  // byte offset of cluster 2
    std::uint64_t clusterBytes_ = 0;
    std::uint64_t clusterCount_ = 0;
};

}  // namespace flintmere
