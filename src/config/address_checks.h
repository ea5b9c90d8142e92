// Address texts of the configuration: IPv4 addresses, netmasks, IPv6 prefixes.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/text.h"

namespace flintmere {

// Dotted text to its 32-bit value (first number in the top byte). Numbers out
// of range spill into their neighbours; texts over 15 characters give 0.
std::uint32_t ParseIPv4Text(u16view text);
// True when the address may be given to an appliance interface; the netmask,
// when given, must already have passed IsValidNetmask.
bool IsValidHostAddress(u16view address, std::optional<u16view> netmask = std::nullopt);
// A contiguous netmask of prefix length 1 to 31.
bool IsValidNetmask(u16view netmask);
// A whole decimal number from 1 to 128.
bool IsValidIPv6PrefixLength(u16view text);

}  // namespace flintmere
