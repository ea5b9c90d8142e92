// Feeds arbitrary bytes to the units table reader with the real check of
// each row: whatever it accepts must mean, row by row, what node.cfg will
// say, and a refused table must hand out no units.
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "config/node_cfg_parse.h"
#include "rollout/unit_check.h"
#include "rollout/units_table.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace flintmere;
    static const UnitCheck check = MakeNodeCfgModeCheck(true);
    const std::string_view csv(reinterpret_cast<const char*>(data), size);
    const UnitsTable table = ReadUnitsTable(csv, check);
    if (!table.refusals.empty()) {
        Check(table.units.empty());
        for (const TableRefusal& refusal : table.refusals) Check(!refusal.reason.empty());
        return 0;
    }
    std::set<std::string> names;
    for (const UnitRow& unit : table.units) {
        Check(unit.row >= 2);
        // One line per cell, each "key: value" without control characters.
        std::size_t lines = 0;
        for (std::size_t i = 0; i < unit.nodeCfg.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(unit.nodeCfg[i]);
            if (c == '\n') ++lines;
            Check(c == '\n' || c >= 0x20);
        }
        Check(lines <= unit.cells.size());
        const NodeCfgValues values = ParseNodeCfg(unit.nodeCfg);
        Check(Utf16ToUtf8(values.label) == unit.hostName);
        std::string lower;
        for (char c : unit.hostName)
            lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        Check(names.insert(lower).second);
    }
    return 0;
}
