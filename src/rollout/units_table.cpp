#include "rollout/units_table.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <map>

#include "config/address_checks.h"
#include "config/setup_validation.h"
#include "rollout/unit_cells.h"
#include "rollout/units_csv.h"

namespace flintmere {
namespace {

std::string LowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// The header's name for `key`, so that a refusal names the column as the
// operator wrote it.
std::string ColumnName(const std::vector<TableColumn>& columns, const std::string& key) {
    for (const TableColumn& c : columns) {
        if (c.key == key) return c.name;
    }
    return key;
}

bool HasColumn(const std::vector<TableColumn>& columns, const std::string& key) {
    return std::any_of(columns.begin(), columns.end(),
                       [&](const TableColumn& c) { return c.key == key; });
}

// What to add when the window's rule needs a column the table lacks.
std::string MissingColumnHint(const std::string& key) {
    if (key == "kestrel_wan") {
        return "; the table has no kestrel_wan column: add one with each unit's WAN address and "
               "netmask (\"10.2.0.11 255.255.255.0\"), or a singlearmed column with 1 for a "
               "unit without WAN";
    }
    return "; the table has no " + key + " column: add one";
}

bool IsBlankRow(const CsvRecord& record) {
    return std::all_of(record.fields.begin(), record.fields.end(),
                       [](const std::string& f) { return TrimmedCell(f).empty(); });
}

// One row into cells and node.cfg text; the cells' refusals, if any.
std::vector<TableRefusal> ReadRow(const CsvRecord& record, const std::vector<TableColumn>& columns,
                                  UnitRow& unit) {
    unit.row = record.row;
    if (record.fields.size() != columns.size()) {
        return {{record.row, "",
                 "the row has " + std::to_string(record.fields.size()) +
                     " fields where the header has " + std::to_string(columns.size())}};
    }
    std::vector<TableRefusal> refusals;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        unit.cells.push_back({columns[i].name, record.fields[i]});
        const std::string_view value = TrimmedCell(record.fields[i]);
        if (value.empty()) continue;
        if (std::optional<std::string> why = CellRefusal(columns[i], value)) {
            refusals.push_back({record.row, columns[i].name, std::move(*why)});
            continue;
        }
        unit.nodeCfg += NodeCfgLine(columns[i], value);
        if (columns[i].key == "kestrel_label") unit.hostName = value;
    }
    return refusals;
}

// One interface address a unit's node.cfg will give it.
struct UnitAddress {
    std::string identity;  // the same for the same address however written
    std::string text;
    const char* key;
};

std::optional<std::string> Ipv4Identity(const u16& text) {
    const std::uint32_t value = InetAddrValue(text);
    if (value == 0) return std::nullopt;  // the 0.0.0.0 placeholder
    if (value == INADDR_NONE) return "text:" + Utf16ToUtf8(text);
    return "ipv4:" + std::to_string(value);
}

std::optional<std::string> Ipv6Identity(const u16& text) {
    const std::string utf8 = Utf16ToUtf8(text);
    if (utf8.empty() || utf8 == "0") return std::nullopt;
    std::array<unsigned char, 16> bytes{};
    if (inet_pton(AF_INET6, utf8.c_str(), bytes.data()) != 1) return "text:" + LowerAscii(utf8);
    if (std::all_of(bytes.begin(), bytes.end(), [](unsigned char b) { return b == 0; }))
        return std::nullopt;
    return "ipv6:" + std::string(bytes.begin(), bytes.end());
}

// The addresses the node.cfg writer puts on interfaces in use, each once.
std::vector<UnitAddress> InterfaceAddresses(const SetupRecord& r) {
    std::vector<UnitAddress> out;
    const auto add = [&out](std::optional<std::string> identity, const u16& text, const char* key) {
        if (!identity) return;
        const auto same = [&](const UnitAddress& a) { return a.identity == *identity; };
        if (std::none_of(out.begin(), out.end(), same))
            out.push_back({*identity, Utf16ToUtf8(text), key});
    };
    const auto used4 = [](Flag disabled, const u16& address, const u16& netmask) {
        return !disabled && IsValidHostAddress(address) && IsValidNetmask(netmask);
    };
    if (!r.m_dhcp) add(Ipv4Identity(r.m_lanAddress), r.m_lanAddress, "kestrel_lan");
    if (used4(r.m_wanDisabled, r.m_wanAddress, r.m_wanNetmask))
        add(Ipv4Identity(r.m_wanAddress), r.m_wanAddress, "kestrel_wan");
    if (used4(r.m_adminDisabled, r.m_adminAddress, r.m_adminNetmask))
        add(Ipv4Identity(r.m_adminAddress), r.m_adminAddress, "kestrel_admin");
    if (!r.m_dhcp) add(Ipv6Identity(r.m_lanAddress6), r.m_lanAddress6, "kestrel_lan6");
    if (!r.m_wanDisabled && IsValidIPv6PrefixLength(r.m_wanPrefix6))
        add(Ipv6Identity(r.m_wanAddress6), r.m_wanAddress6, "kestrel_wan6");
    return out;
}

// Host names (letter case ignored) and addresses that a later unit shares
// with an earlier one.
std::vector<TableRefusal> SharedAcrossUnits(const std::vector<UnitRow>& units,
                                            const std::vector<TableColumn>& columns) {
    struct Owner {
        std::size_t row;
        std::string column;
    };
    std::map<std::string, Owner> names;
    std::map<std::string, Owner> addresses;
    std::vector<TableRefusal> refusals;
    const std::string labelColumn = ColumnName(columns, "kestrel_label");
    for (const UnitRow& unit : units) {
        const auto [name, newName] =
            names.try_emplace(LowerAscii(unit.hostName), Owner{unit.row, labelColumn});
        if (!newName) {
            refusals.push_back({unit.row, labelColumn,
                                "the host name " + unit.hostName + " is also unit row " +
                                    std::to_string(name->second.row) + "'s " +
                                    name->second.column});
        }
        for (const UnitAddress& a : InterfaceAddresses(unit.record)) {
            const std::string column = ColumnName(columns, a.key);
            const auto [owner, isNew] = addresses.try_emplace(a.identity, Owner{unit.row, column});
            if (isNew) continue;
            refusals.push_back({unit.row, column,
                                "the address " + a.text + " is also unit row " +
                                    std::to_string(owner->second.row) + "'s " +
                                    owner->second.column});
        }
    }
    return refusals;
}

void Append(std::vector<TableRefusal>& to, std::vector<TableRefusal> from) {
    to.insert(to.end(), std::make_move_iterator(from.begin()), std::make_move_iterator(from.end()));
}

}  // namespace

UnitsTable ReadUnitsTable(std::string_view csv, const UnitCheck& check) {
    UnitsTable table;
    CsvRecords read = ReadCsvRecords(csv);
    table.encoding = read.encoding;
    table.delimiter = read.delimiter;
    std::vector<TableColumn> columns;
    const auto faultRefusal = [&](const CsvFault& fault) {
        const bool inData = !read.records.empty() && fault.field < columns.size();
        return TableRefusal{fault.row, inData ? columns[fault.field].name : "", fault.reason};
    };

    if (read.records.empty()) {
        table.refusals.push_back(read.fault
                                     ? faultRefusal(*read.fault)
                                     : TableRefusal{0, "",
                                                    "the table is empty: it needs a header row of "
                                                    "node.cfg keys and a row per unit"});
        return table;
    }
    const CsvRecord& header = read.records.front();
    table.refusals = ReadTableHeader(header.fields, columns);
    // Empty lines may come before the header.
    for (TableRefusal& refusal : table.refusals) refusal.row = header.row;
    if (!table.refusals.empty()) {
        // Without a sound header no row has a meaning, nor a fault's field a column.
        columns.clear();
        if (read.fault) table.refusals.push_back(faultRefusal(*read.fault));
        return table;
    }

    std::vector<UnitRow> accepted;
    for (std::size_t i = 1; i < read.records.size(); ++i) {
        if (IsBlankRow(read.records[i])) continue;
        UnitRow unit;
        std::vector<TableRefusal> refused = ReadRow(read.records[i], columns, unit);
        if (refused.empty()) {
            if (std::optional<TableRefusal> why = check(unit)) {
                if (!why->column.empty()) {
                    if (!HasColumn(columns, why->column))
                        why->reason += MissingColumnHint(why->column);
                    why->column = ColumnName(columns, why->column);
                }
                refused.push_back(std::move(*why));
            }
        }
        if (refused.empty()) {
            accepted.push_back(std::move(unit));
        } else {
            Append(table.refusals, std::move(refused));
        }
    }
    if (read.fault) table.refusals.push_back(faultRefusal(*read.fault));
    if (accepted.empty() && table.refusals.empty()) {
        table.refusals.push_back({0, "", "the table lists no unit: only its header row"});
    }
    Append(table.refusals, SharedAcrossUnits(accepted, columns));

    std::stable_sort(table.refusals.begin(), table.refusals.end(),
                     [](const TableRefusal& a, const TableRefusal& b) { return a.row < b.row; });
    if (table.refusals.empty()) table.units = std::move(accepted);
    return table;
}

std::string DescribeRefusal(const TableRefusal& refusal) {
    if (refusal.row == 0) return "the table: " + refusal.reason;
    std::string where = "row " + std::to_string(refusal.row);
    if (!refusal.column.empty()) where += ", column " + refusal.column;
    return where + ": " + refusal.reason;
}

}  // namespace flintmere
