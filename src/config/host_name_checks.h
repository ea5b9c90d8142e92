// Host names of the appliance and of the management servers.
#pragma once

#include "platform/text.h"

namespace flintmere {

// One label of 1 to 63 characters.
bool IsValidHostLabel(u16view label);
// A dotted name whose every label is valid.
bool IsValidDomainName(u16view name);

}  // namespace flintmere
