#include "rollout/unwritten_columns.h"

#include <algorithm>
#include <map>

#include "config/config_model.h"
#include "platform/clock.h"
#include "platform/system_env.h"
#include "rollout/unit_cells.h"

namespace flintmere {
namespace {

// Takes node.cfg and nothing else.
class NodeCfgCapture final : public MediaRoot {
  public:
    u16 DisplayPath(std::string_view relPath) const override { return FromPath(relPath); }
    bool MakeFolder(std::string_view) override { return true; }
    bool WriteFile(std::string_view, std::span<const std::uint8_t> data) override {
        text.assign(data.begin(), data.end());
        return true;
    }
    bool FileExists(std::string_view) override { return false; }
    bool CopyFileIn(const std::string&, std::string_view, const ChunkProgress&) override {
        return false;
    }
    int LastError() const override { return 0; }
    std::string text;
};

class SilentBoxes final : public Presenter {
  public:
    int ShowMessage(const u16&, const u16&, unsigned, bool) override { return kIdNo; }
};

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// key -> value as the writer wrote it, lower-case keys without the colon.
std::map<std::string, std::string> WrittenValues(const UnitRow& unit, bool iso) {
    SystemClock clock;
    LinuxSystemEnv env;
    SilentBoxes boxes;
    AppServices services({clock, boxes, env, [](std::string_view) {}});
    SetupRecord record = unit.record;
    record.m_isoMedia = iso ? 1 : 0;
    NodeCfgCapture capture;
    ConfigModel(services).CreateNodeCfgFile(record, capture);
    std::map<std::string, std::string> values;
    std::size_t at = 0;
    while (at < capture.text.size()) {
        const std::size_t end = std::min(capture.text.find('\n', at), capture.text.size());
        const std::string line = capture.text.substr(at, end - at);
        if (const std::size_t colon = line.find(": "); colon != std::string::npos) {
            values[Lower(line.substr(0, colon))] = line.substr(colon + 2);
        } else if (line.ends_with(":")) {
            values[Lower(line.substr(0, line.size() - 1))] = "";
        }
        at = end + 1;
    }
    return values;
}

bool Empty(std::string_view value) {
    return value.empty() || value == "0" || value == "0 0" || value == "0.0.0.0" ||
           value == "0.0.0.0 0.0.0.0";
}

}  // namespace

std::vector<std::string> UnwrittenColumns(const std::vector<UnitRow>& units, bool iso) {
    std::vector<std::string> names;
    for (const UnitRow& unit : units) {
        const std::map<std::string, std::string> written = WrittenValues(unit, iso);
        for (const TableCell& cell : unit.cells) {
            const std::string_view value = TrimmedCell(cell.value);
            std::string key = Lower(std::string(TrimmedCell(cell.column)));
            if (key.ends_with(':')) key.pop_back();
            const auto found = written.find(key);
            // Hardware keys become lines of their own; they are checked as the window does.
            if (found == written.end() || Empty(value) || !Empty(found->second)) continue;
            if (std::find(names.begin(), names.end(), cell.column) == names.end()) {
                names.push_back(cell.column);
            }
        }
    }
    return names;
}

}  // namespace flintmere
