// node.cfg is read as blank-separated tokens: a value written as one token
// that holds a blank or a control character would read back as more
// tokens, and so as other keys and values than were written.
#pragma once

#include <vector>

#include "config/setup_record.h"

namespace flintmere {

struct SplittingValue {
    const char* field;  // "host name", ...
    const char* key;    // the node.cfg key it is written under
    u16 value;
};

// The record's values written as single tokens (host name, addresses,
// netmasks and prefixes, gateways, DNS servers, management servers, logical
// id) that hold a blank or a control character inside them. Blanks at
// either end only pad the token and pass.
std::vector<SplittingValue> FindSplittingValues(const SetupRecord& record);

// `value` in double quotes with control characters and quotes escaped, fit
// for one line of a message.
u16 QuotedForMessage(const u16& value);

}  // namespace flintmere
