// What the disk service's files share about partition tables.
#pragma once

#include <functional>
#include <memory>

#include "platform/disk_service.h"
#include "platform/unique_fd.h"

namespace flintmere {

// The writer of a listed stick's whole-disk device. `shared` is the device
// opened for reading; `syncNodes` brings the kernel's partition nodes in
// line with the table on the disk.
std::unique_ptr<DiskWriter> MakeLinuxDiskWriter(const RemovableDisk& disk, UniqueFd shared,
                                                std::function<bool()> syncNodes);

}  // namespace flintmere
