// The root of a medium being built. The same writers and the copy engine
// serve a local folder (the ISO tree) and a FAT volume (the stick).
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"

namespace flintmere {

class MediaRoot {
  public:
    virtual ~MediaRoot() = default;

    // Called after each copied chunk with the bytes of the file done so far;
    // returning false stops the copy (it then fails with ECANCELED).
    using ChunkProgress = std::function<bool(std::uint64_t bytesDone)>;

    // How a path on this medium reads in the log and in messages.
    virtual u16 DisplayPath(std::string_view relPath) const = 0;
    // Paths are relative to the root, '/' separated. An existing folder is fine.
    virtual bool MakeFolder(std::string_view relPath) = 0;
    // Creates or replaces the file with exactly these bytes.
    virtual bool WriteFile(std::string_view relPath, std::span<const std::uint8_t> data) = 0;
    virtual bool FileExists(std::string_view relPath) = 0;
    // Copies a local file onto the medium in chunks.
    virtual bool CopyFileIn(const std::string& sourcePath, std::string_view relPath,
                            const ChunkProgress& progress) = 0;
    // errno-style code of the last failure.
    virtual int LastError() const = 0;

    // Files whose last write or copy failed (a file written again in full
    // afterwards is off the list), with the error of that failure.
    struct FailedFile {
        std::string relPath;
        int error;
    };
    const std::vector<FailedFile>& FailedFiles() const { return failedFiles_; }

  protected:
    // Keeps FailedFiles() up to date for `relPath`; returns `written`. Every
    // WriteFile and CopyFileIn ends with it.
    bool Track(std::string_view relPath, bool written);

  private:
    std::vector<FailedFile> failedFiles_;
};

class LocalFolderRoot final : public MediaRoot {
  public:
    explicit LocalFolderRoot(std::string folder);  // without trailing '/'
    const std::string& Folder() const { return folder_; }

    u16 DisplayPath(std::string_view relPath) const override;
    bool MakeFolder(std::string_view relPath) override;
    bool WriteFile(std::string_view relPath, std::span<const std::uint8_t> data) override;
    bool FileExists(std::string_view relPath) override;
    bool CopyFileIn(const std::string& sourcePath, std::string_view relPath,
                    const ChunkProgress& progress) override;
    int LastError() const override { return lastError_; }

    static constexpr std::size_t kChunkSize = 1 << 20;

  private:
    std::string Join(std::string_view relPath) const;
    bool Fail();
    bool WriteFileOnce(std::string_view relPath, std::span<const std::uint8_t> data);
    bool CopyFileOnce(const std::string& sourcePath, std::string_view relPath,
                      const ChunkProgress& progress);

    std::string folder_;
    int lastError_ = 0;
};

}  // namespace flintmere
