#include "rollout/unit_cells.h"

#include <algorithm>

#include "config/node_cfg_tokens.h"
#include "platform/text.h"

namespace flintmere {
namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::optional<TableColumn> FindColumnKey(std::string_view name) {
    std::string key = Lower(TrimmedCell(name));
    if (key.ends_with(':')) key.pop_back();
    for (const NodeCfgKeyShape& known : NodeCfgKeyShapes()) {
        if (known.key.substr(0, known.key.size() - 1) == key) {
            return TableColumn{std::string(TrimmedCell(name)), key, known.shape};
        }
    }
    return std::nullopt;
}

bool IsControl(char16_t c) {
    return c < u' ' || c == u'\x7f' || (c >= u'\x80' && c <= u'\x9f');
}

std::vector<std::string_view> Tokens(std::string_view value) {
    std::vector<std::string_view> tokens;
    std::size_t at = 0;
    while (at < value.size()) {
        const std::size_t start = value.find_first_not_of(' ', at);
        if (start == std::string_view::npos) break;
        const std::size_t end = std::min(value.find(' ', start), value.size());
        tokens.push_back(value.substr(start, end - start));
        at = end;
    }
    return tokens;
}

std::string Quoted(std::string_view utf8) {
    return Utf16ToUtf8(QuotedForMessage(Utf8ToUtf16(utf8)));
}

// A header name fit for one line of a message: as written when it is plain
// text, else quoted with its control characters escaped.
std::string PrintableName(std::string_view name) {
    const u16 wide = Utf8ToUtf16(name);
    if (IsValidUtf8(name) && std::none_of(wide.begin(), wide.end(), IsControl)) {
        return std::string(name);
    }
    return Quoted(name);
}

}  // namespace

std::string_view TrimmedCell(std::string_view cell) {
    const std::size_t first = cell.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return cell.substr(first, cell.find_last_not_of(' ') - first + 1);
}

std::vector<TableRefusal> ReadTableHeader(const std::vector<std::string>& names,
                                          std::vector<TableColumn>& columns) {
    std::vector<TableRefusal> refusals;
    columns.clear();
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        if (TrimmedCell(name).empty()) {
            refusals.push_back({1, "", "column " + std::to_string(i + 1) + " has no name"});
            continue;
        }
        std::optional<TableColumn> column = FindColumnKey(name);
        if (!column) {
            refusals.push_back(
                {1, PrintableName(TrimmedCell(name)), "not a key the node.cfg reader knows"});
            continue;
        }
        const auto same = [&](const TableColumn& c) { return c.key == column->key; };
        if (auto earlier = std::find_if(columns.begin(), columns.end(), same);
            earlier != columns.end()) {
            refusals.push_back({1, column->name, "the key is already column " + earlier->name});
            continue;
        }
        columns.push_back(std::move(*column));
    }
    for (const char* required : {"kestrel_label", "kestrel_lan"}) {
        const auto named = [&](const TableColumn& c) { return c.key == required; };
        if (std::none_of(columns.begin(), columns.end(), named)) {
            refusals.push_back({1, required, "the table has no such column; every unit needs it"});
        }
    }
    return refusals;
}

std::optional<std::string> CellRefusal(const TableColumn& column, std::string_view value) {
    if (!IsValidUtf8(value)) return "the value is not UTF-8 text";
    const u16 wide = Utf8ToUtf16(value);
    if (std::any_of(wide.begin(), wide.end(), IsControl)) {
        return "the value " + Quoted(value) + " holds a control character";
    }
    if (AnsiToUtf16(Utf16ToAnsi(wide)) != wide) {
        return "the value " + Quoted(value) +
               " holds a character that node.cfg (Windows-1252) cannot hold";
    }
    const std::vector<std::string_view> tokens = Tokens(value);
    for (std::string_view token : tokens) {
        if (IsNodeCfgKey(token)) {
            return "the value " + Quoted(value) + " would be read as the key " + std::string(token);
        }
    }
    switch (column.shape) {
        case NodeCfgShape::Single:
            if (tokens.size() != 1) {
                return "the value " + Quoted(value) + " holds a blank; " + column.key +
                       " takes one value";
            }
            break;
        case NodeCfgShape::Pair:
            if (tokens.size() != 2) {
                const bool ipv6 = column.key.ends_with('6');
                return "the value " + Quoted(value) + " is not two values: " + column.key +
                       " takes the address and the " + (ipv6 ? "prefix length" : "netmask") +
                       ", separated by a blank";
            }
            break;
        case NodeCfgShape::Flag:
            if (value != "0" && value != "1") {
                return "the value " + Quoted(value) + " is not a flag: " + column.key +
                       " takes 0 or 1";
            }
            break;
    }
    return std::nullopt;
}

std::string NodeCfgLine(const TableColumn& column, std::string_view value) {
    return column.key + ": " + Utf16ToAnsi(Utf8ToUtf16(value)) + "\n";
}

}  // namespace flintmere
