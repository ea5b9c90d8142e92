// The window's side of the stick writer: what one line of its output means.
#pragma once

#include <optional>
#include <string>

#include "engine/stick_protocol.h"

namespace flintmere {

struct WriterEvent {
    enum Kind { Hello, Pos, Action, Log, Box, Close, Status, Refused, Ended };
    Kind kind = Hello;
    int number = 0;       // version, position, status, box style, or errno
    bool owned = false;   // box
    std::string caption;  // box, UTF-8
    std::string text;     // action, box (UTF-8), log (Windows-1252), refused, kind
};

// Empty for a line that is not one of the writer's.
std::optional<WriterEvent> ParseWriterEvent(const ProtocolLine& line);

}  // namespace flintmere
