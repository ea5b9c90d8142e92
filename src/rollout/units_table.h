// A rollout's units table: a CSV file (RFC 4180) with a header row of
// node.cfg keys and one row per unit. A row means exactly what a node.cfg
// with those lines means; it is read and checked as the window checks a
// node.cfg it opens, and across rows no two units may share a host name or
// an address. Nothing is written for a table with any refusal.
//
// How it is read:
// - UTF-8 with or without a byte order mark, UTF-16 with one, else
//   Windows-1252; comma, semicolon or tab separated, as the header line
//   is; CRLF or LF; fields with the separator, quotes or line breaks in
//   double quotes. A quote left open or
//   stray in a field stops the reading, refused at the row it is in.
// - Rows are counted as a spreadsheet shows them: the file's first line is
//   row 1, a quoted line break does not start a row, an empty line is a row
//   of its own. Empty lines and rows whose cells are all empty are skipped.
// - The first row that is not empty is the header (row 1 unless empty lines
//   come first). It names node.cfg keys the reader knows (letter case and a
//   trailing colon do not matter). An unknown, unnamed or repeated column,
//   or no kestrel_label or kestrel_lan column, refuses the table at the
//   header; no row is read then. A row with more or fewer fields than the header is refused.
// - Blanks around a cell are dropped; an empty cell leaves its key out, as
//   if the line were absent. Every other cell passes the value rule (see
//   CellRefusal in unit_cells.h) and becomes the line "<key>: <value>".
// - Across the rows that passed: a host name (letter case ignored) or an
//   interface address (IPv4 of kestrel_lan, kestrel_wan, kestrel_admin, IPv6
//   of kestrel_lan6, kestrel_wan6, compared as addresses; only interfaces
//   node.cfg will use, placeholders 0.0.0.0 and 0 aside) that an earlier
//   row already has refuses the later row, naming the earlier one.
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
    std::string nodeCfg;   // the node.cfg text the row means, one "key: value" line per cell
                           // that is not empty, in Windows-1252 as a node.cfg file holds it
    std::string hostName;  // the row's kestrel_label (UTF-8)
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
    std::string encoding;                // as the file was read: "UTF-8", "Windows-1252", ...
    char delimiter = ',';
};

// Reads the table from `csv` (the file's bytes) and checks every row with
// `check`, then across rows. Every refusal is collected, in row order (the
// table's own first); `units` is filled only when there is none.
UnitsTable ReadUnitsTable(std::string_view csv, const UnitCheck& check);

// "row 3, column kestrel_lan: <reason>" (or "row 3: ...", "the table: ...").
std::string DescribeRefusal(const TableRefusal& refusal);

}  // namespace flintmere
