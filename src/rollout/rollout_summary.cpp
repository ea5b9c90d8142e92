#include <algorithm>
#include <array>
#include <string_view>

#include "rollout/rollout_report.h"
#include "rollout/view_text.h"

namespace flintmere {

namespace {

using rollout_text::Columns;
using rollout_text::OneLine;

std::string TrimRight(std::string line) {
    line.erase(line.find_last_not_of(' ') + 1);
    return line;
}

}  // namespace

std::string rollout_text::CountsLine(const std::vector<UnitOutcome>& outcomes) {
    constexpr std::array kOrder{UnitStatus::Done, UnitStatus::Failed, UnitStatus::Canceled,
                                UnitStatus::Running, UnitStatus::Waiting};
    std::string line =
        std::to_string(outcomes.size()) + (outcomes.size() == 1 ? " unit" : " units");
    if (outcomes.empty()) return line;
    const char* separator = ": ";
    for (const UnitStatus status : kOrder) {
        const auto count = std::count_if(outcomes.begin(), outcomes.end(),
                                         [&](const UnitOutcome& o) { return o.status == status; });
        // "0 done" says as much as any count; the others only when there are some.
        if (count == 0 && status != UnitStatus::Done) continue;
        line += separator + std::to_string(count) + " " + StatusName(status);
        separator = ", ";
    }
    return line;
}

namespace {

// RFC 4180, and a field a spreadsheet would take for a formula is made text:
// reasons are tool output, not ours.
std::string CsvField(std::string_view value) {
    std::string field(value);
    if (!field.empty() &&
        std::string_view("=+-@\t\r").find(field.front()) != std::string_view::npos) {
        field.insert(0, 1, '\'');
    }
    if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
    std::string quoted = "\"";
    for (const char c : field) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

}  // namespace

const char* StatusName(UnitStatus status) {
    switch (status) {
        case UnitStatus::Waiting:
            return "waiting";
        case UnitStatus::Running:
            return "running";
        case UnitStatus::Done:
            return "done";
        case UnitStatus::Failed:
            return "failed";
        case UnitStatus::Canceled:
            return "canceled";
    }
    return "unknown";
}

std::string FormatSummary(const std::vector<UnitOutcome>& outcomes) {
    struct Row {
        std::string unit, medium, status, reason;
    };
    std::vector<Row> rows{{"UNIT", "MEDIUM", "STATUS", "REASON"}};
    for (const UnitOutcome& o : outcomes) {
        rows.push_back(
            {OneLine(o.unit), OneLine(o.medium), StatusName(o.status), OneLine(o.reason)});
    }
    std::size_t unitWidth = 0, mediumWidth = 0, statusWidth = 0;
    for (const Row& row : rows) {
        unitWidth = std::max(unitWidth, Columns(row.unit));
        mediumWidth = std::max(mediumWidth, Columns(row.medium));
        statusWidth = std::max(statusWidth, Columns(row.status));
    }
    std::string text;
    for (const Row& row : rows) {
        text += TrimRight(rollout_text::FitToColumns(row.unit, unitWidth) + "  " +
                          rollout_text::FitToColumns(row.medium, mediumWidth) + "  " +
                          rollout_text::FitToColumns(row.status, statusWidth) + "  " + row.reason);
        text += '\n';
    }
    return text + rollout_text::CountsLine(outcomes) + '\n';
}

const char* MediumKindName(MediumKind kind) {
    return kind == MediumKind::Stick ? "stick" : "image";
}

std::string FormatResultCsv(const std::vector<UnitOutcome>& outcomes) {
    // The mark makes a spreadsheet read the paths as UTF-8.
    std::string csv = "\xEF\xBB\xBFunit,medium,device,serial,status,reason,time,sha256\r\n";
    for (const UnitOutcome& o : outcomes) {
        csv += CsvField(o.unit) + ',' + MediumKindName(o.kind) + ',' + CsvField(o.device) + ',' +
               CsvField(o.serial) + ',' + StatusName(o.status) + ',' + CsvField(o.reason) + ',' +
               CsvField(o.time) + ',' + CsvField(o.sha256) + "\r\n";
    }
    return csv;
}

int RolloutExitStatus(const std::vector<UnitOutcome>& outcomes) {
    const auto notDone = std::count_if(outcomes.begin(), outcomes.end(), [](const UnitOutcome& o) {
        return o.status != UnitStatus::Done;
    });
    return static_cast<int>(std::min<std::ptrdiff_t>(notDone, kRolloutMaxFailedStatus));
}

}  // namespace flintmere
