// The whole disk a partition's device node belongs to.
#pragma once

#include <cstdint>
#include <string>

namespace flintmere {

struct WholeDisk {
    std::string device;       // the disk's node, beside the partition's
    std::uint64_t start = 0;  // where the partition starts on it, in bytes
};

// False when `partition` is no partition's block device, or its disk has no
// node beside it.
bool FindWholeDisk(const std::string& partition, WholeDisk& disk);

}  // namespace flintmere
