// node.cfg is read as blank-separated tokens: a value written as one token
// that holds a blank or a control character would read back as more
// tokens, and one that is itself a key would read back as that key. Either
// way node.cfg would say other things than were written. Every source of
// the record (typed, database, node.cfg file) passes this one rule before
// node.cfg is written.
#pragma once

#include <vector>

#include "config/setup_record.h"

namespace flintmere {

struct SplittingValue {
    const char* field;  // "host name", ...
    const char* key;    // the node.cfg key it is written under
    u16 value;
    bool readsAsKey = false;  // else: holds a blank or control character
};

// The record's values written as single tokens (host name, addresses,
// netmasks and prefixes, gateways, DNS servers, management servers, logical
// id) that hold a blank or a control character inside them, or that are a
// node.cfg key. Blanks at either end only pad the token and pass.
std::vector<SplittingValue> FindSplittingValues(const SetupRecord& record);

// "holds a blank or control character" or "would be read as the key X".
u16 RefusalReason(const SplittingValue& value);

// `value` in double quotes with control characters and quotes escaped, fit
// for one line of a message.
u16 QuotedForMessage(const u16& value);

}  // namespace flintmere
