#include "rollout/result_file.h"

#include <csv.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "platform/fd_io.h"
#include "platform/unique_fd.h"

namespace flintmere {
namespace {

struct Rows {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> current;
};

void OnField(void* data, std::size_t size, void* rows) {
    static_cast<Rows*>(rows)->current.emplace_back(static_cast<const char*>(data), size);
}

void OnRow(int, void* rows) {
    Rows& r = *static_cast<Rows*>(rows);
    r.rows.push_back(std::move(r.current));
    r.current.clear();
}

bool StatusFromName(const std::string& name, UnitStatus& status) {
    for (UnitStatus s : {UnitStatus::Waiting, UnitStatus::Running, UnitStatus::Done,
                         UnitStatus::Failed, UnitStatus::Canceled}) {
        if (name == StatusName(s)) {
            status = s;
            return true;
        }
    }
    return false;
}

// The result file quotes a field that a spreadsheet would take as a formula.
std::string Unguarded(const std::string& field) {
    if (field.size() > 1 && field[0] == '\'' &&
        std::string("=+-@").find(field[1]) != std::string::npos)
        return field.substr(1);
    return field;
}

}  // namespace

std::vector<UnitOutcome> ReadResultFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    csv_parser parser;
    if (csv_init(&parser, CSV_STRICT | CSV_APPEND_NULL) != 0) return {};
    Rows rows;
    const bool parsed =
        csv_parse(&parser, text.data(), text.size(), OnField, OnRow, &rows) == text.size() &&
        csv_fini(&parser, OnField, OnRow, &rows) == 0;
    csv_free(&parser);
    if (!parsed || rows.rows.empty() || rows.rows.front().size() != 4 ||
        rows.rows.front()[0] != "unit") {
        return {};
    }
    std::vector<UnitOutcome> outcomes;
    for (std::size_t i = 1; i < rows.rows.size(); ++i) {
        const std::vector<std::string>& row = rows.rows[i];
        UnitOutcome outcome;
        if (row.size() != 4 || !StatusFromName(row[2], outcome.status)) return {};
        outcome.unit = Unguarded(row[0]);
        outcome.medium = Unguarded(row[1]);
        outcome.reason = Unguarded(row[3]);
        outcomes.push_back(std::move(outcome));
    }
    return outcomes;
}

std::vector<UnitOutcome> MergeOutcomes(const std::vector<UnitOutcome>& earlier,
                                       const std::vector<UnitOutcome>& latest,
                                       const std::vector<std::string>& tableOrder) {
    std::vector<UnitOutcome> merged;
    for (const std::string& unit : tableOrder) {
        const UnitOutcome* found = nullptr;
        for (const UnitOutcome& o : earlier) {
            if (o.unit == unit) found = &o;
        }
        for (const UnitOutcome& o : latest) {
            if (o.unit == unit) found = &o;
        }
        if (found) merged.push_back(*found);
    }
    return merged;
}

bool WriteResultFile(const std::string& path, const std::vector<UnitOutcome>& outcomes) {
    const std::string text = FormatResultCsv(outcomes);
    std::string temp = path + ".XXXXXX";
    UniqueFd fd(::mkstemp(temp.data()));
    if (!fd.Valid()) return false;
    ::fchmod(fd.Get(), 0644);
    if (!WriteAll(fd.Get(), text.data(), text.size()) || !SyncFile(fd.Get()) ||
        ::rename(temp.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        errno = error;
        return false;
    }
    return true;
}

}  // namespace flintmere
