// A rollout's units table: a CSV file (RFC 4180) with a header row of
// node.cfg keys and one row per unit. A row means exactly what a node.cfg
// with those lines means; it is read and checked as the window checks a
// node.cfg it opens, and across rows no two units may share a host name or
// an address. Nothing is written for a table with any refusal.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/setup_record.h"

namespace flintmere {

struct TableCell {
    std::string column;  // the header's key, as written there
    std::string value;   // the cell as the CSV reader gave it (UTF-8)
};

struct UnitRow {
    std::size_t row = 0;  // the row's number in the file; the header is row 1
    std::vector<TableCell> cells;
    std::string nodeCfg;  // the node.cfg text the row means, one "key: value" line per cell
    std::string hostName;  // the row's kestrel_label
    SetupRecord record;    // the record the check accepted
};

struct TableRefusal {
    std::size_t row = 0;  // 0: the table as a whole
    std::string column;   // "": the row as a whole
    std::string reason;
};

// Checks one unit the way the window checks a node.cfg file it opened, and
// fills `unit.record`. Returns the refusal, or nothing when accepted.
using UnitCheck = std::function<std::optional<TableRefusal>(UnitRow& unit)>;

struct UnitsTable {
    std::vector<UnitRow> units;
    std::vector<TableRefusal> refusals;  // in row order; empty when the table is valid
};

// Reads the table from `csv` (the file's bytes) and checks every row with
// `check`, then across rows.
UnitsTable ReadUnitsTable(std::string_view csv, const UnitCheck& check);

// "row 3, column kestrel_lan: <reason>" (or "row 3: ...", "the table: ...").
std::string DescribeRefusal(const TableRefusal& refusal);

}  // namespace flintmere
