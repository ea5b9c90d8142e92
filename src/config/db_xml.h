// Helpers of the configuration database import over pugixml: node texts as
// the appliance's own tools read them, numbers, parse error positions and
// the logo name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <pugixml.hpp>
#include <span>

#include "platform/text.h"

namespace flintmere::dbxml {

// Text content of a node: the text and CDATA of the node and all its
// descendants in document order. Runs of white space in ordinary text become
// one space and the ends are trimmed; CDATA is taken as it stands.
u16 NodeText(pugi::xml_node node);

// Decimal value like strtol with a 32-bit long: leading white space, optional
// sign, digits up to the first non-digit; no digits gives 0; saturates.
std::int32_t DecimalValue(u16view text);

// 1-based line of a parse error. `offset` counts UTF-8 units of the text
// the parser saw, which for other encodings is the converted input.
int ParseErrorLine(std::span<const std::uint8_t> data, pugi::xml_encoding encoding,
                   std::ptrdiff_t offset);

// The name a database gives for the logo, reduced to a bare file name: the
// part after the last '/' or '\', and nothing at all for "." or "..".
u16 BareLogoName(u16view name);

}  // namespace flintmere::dbxml
