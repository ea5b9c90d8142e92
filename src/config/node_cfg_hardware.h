// The hardware lines that end a node.cfg, by hardware type code.
#pragma once

#include <optional>

#include "platform/text.h"

namespace flintmere {

// The whole text for `hwType` (one or two lines, each ending with '\n'), or
// nothing for codes that have no entry. Code -1 gives the bare key; the
// writer refuses that code for ISO media itself.
std::optional<u16view> NodeCfgHardwareLines(int hwType);

}  // namespace flintmere
