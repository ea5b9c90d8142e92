#pragma once

#include <cstddef>

namespace flintmere {

// Writes every byte, retrying short writes and EINTR. On failure errno tells
// why (EIO when the descriptor accepted nothing).
bool WriteAll(int fd, const void* data, std::size_t size);

}  // namespace flintmere
