// SHA-256 of a file, so that a technician can check a copy of an image
// against the result file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace flintmere {

class Sha256 {
  public:
    Sha256();
    void Add(const void* data, std::size_t size);
    // The digest in lower-case hex; the object is spent afterwards.
    std::string HexDigest();

  private:
    void Block(const std::uint8_t* block);

    std::uint32_t state_[8];
    std::uint8_t buffer_[64];
    std::size_t buffered_ = 0;
    std::uint64_t total_ = 0;
};

std::string Sha256Hex(std::string_view data);
// "" with errno set when the file cannot be read to its end.
std::string FileSha256(const std::string& path);

}  // namespace flintmere
