// The header and the cells of a units table: which node.cfg key a column
// is, and the value rule a cell passes before it becomes a node.cfg line.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/node_cfg_parse.h"
#include "rollout/units_table.h"

namespace flintmere {

struct TableColumn {
    std::string name;  // as the header writes it
    std::string key;   // the reader's key, lower case, without its colon
    NodeCfgShape shape = NodeCfgShape::Single;
};

// The header row. A column names a node.cfg key the reader knows, in any
// letter case, with or without its colon; blanks around it are ignored.
// Refused: an unknown, unnamed or repeated column, and a table without
// kestrel_label or kestrel_lan (the reader takes no node.cfg without them).
// Its refusals carry row 1.
std::vector<TableRefusal> ReadTableHeader(const std::vector<std::string>& names,
                                          std::vector<TableColumn>& columns);

// A cell without its blanks at either end; empty means the key is absent.
std::string_view TrimmedCell(std::string_view cell);

// Why `value` (trimmed, not empty) cannot be written under `column`'s key:
// not UTF-8, a control character (a quoted cell can hold a line break: a
// second node.cfg line), a character Windows-1252 lacks, a token that reads
// as a key, a blank in a one-value key, other than two values in a pair, a
// flag other than 0 or 1. Nothing when it passes.
std::optional<std::string> CellRefusal(const TableColumn& column, std::string_view value);

// "key: value\n" in Windows-1252, as node.cfg holds it.
std::string NodeCfgLine(const TableColumn& column, std::string_view value);

}  // namespace flintmere
