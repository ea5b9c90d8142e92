// A FAT volume (a stick's partition, a whole stick or an image file) as the
// root of a medium, reached through mtools without mounting it.
#pragma once

#include <string>
#include <vector>

#include "platform/media_root.h"

namespace flintmere {

class FatVolumeRoot final : public MediaRoot {
  public:
    explicit FatVolumeRoot(std::string volume);
    const std::string& Volume() const { return volume_; }

    u16 DisplayPath(std::string_view relPath) const override;
    bool MakeFolder(std::string_view relPath) override;
    bool WriteFile(std::string_view relPath, std::span<const std::uint8_t> data) override;
    bool FileExists(std::string_view relPath) override;
    bool CopyFileIn(const std::string& sourcePath, std::string_view relPath,
                    const ChunkProgress& progress) override;
    int LastError() const override { return lastError_; }

    static constexpr std::size_t kChunkSize = 1 << 20;

  private:
    // Runs one mtools command on the volume; its text output goes to `output`.
    // Returns the exit code, or -1 with lastError_ set when it could not run.
    int Run(const std::vector<std::string>& args, std::string* output = nullptr);
    // Streams bytes from `next` into a new file at `relPath`. `next` fills the
    // pipe and returns the bytes moved, 0 at the end, or -1 with errno set.
    bool StreamIn(std::string_view relPath, const std::function<long long(int pipeFd)>& next,
                  const ChunkProgress& progress);
    bool IsFolder(const std::string& target);
    bool Fail(int error);

    std::string volume_;
    int lastError_ = 0;
};

}  // namespace flintmere
