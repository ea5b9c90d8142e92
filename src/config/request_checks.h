// What every record the window accepts for a stick satisfies, checked again
// where the request arrives without the window (the stick writer): a request
// that breaks one did not come through the window's checks.
#pragma once

#include "config/setup_record.h"
#include "platform/text.h"

namespace flintmere {

// The first rule the record breaks, as the window words it; empty when none.
u16 RecordRequestError(const SetupRecord& record);

}  // namespace flintmere
