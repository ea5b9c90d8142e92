// Types of the removable drive discovery and the USB stick sequence.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/disk_service.h"
#include "platform/text.h"

namespace flintmere {

// The media list as RefreshDevices fills it: one entry per stick, then the
// ISO entry. The window copies it into its combo box.
struct MediaList {
    std::vector<u16> entries;
    int selected = -1;
};

// The selected stick as found again at the start of a setup.
struct StickLocation {
    bool found = false;
    RemovableDisk disk;
    // The volume device now ("/dev/sdb1", "/dev/sdb"); empty when none.
    std::string volume;
};

// The path of a system tool, also from sbin when PATH lacks it; else `name`.
std::string FindTool(const std::string& name);

inline constexpr char16_t kIsoMediaEntry[] = u"Virtual Machine ISO image";

// A short size text with three significant digits: "7.45 GB", "14.9 GB", "532 bytes".
u16 FormatByteSizeShort(std::uint64_t bytes);

}  // namespace flintmere
