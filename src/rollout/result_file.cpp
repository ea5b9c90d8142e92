#include "rollout/result_file.h"

#include <csv.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "platform/app_services.h"
#include "platform/fd_io.h"
#include "platform/unique_fd.h"

namespace flintmere {
namespace {

struct Rows {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> current;
};

void OnField(void* data, std::size_t size, void* rows) {
    static_cast<Rows*>(rows)->current.emplace_back(data ? static_cast<const char*>(data) : "",
                                                   data ? size : 0);
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
        std::string("=+-@\t\r").find(field[1]) != std::string::npos)
        return field.substr(1);
    return field;
}

const std::vector<std::string> kHeader = {"unit",   "medium", "device", "serial",
                                          "status", "reason", "time",   "sha256"};
const std::vector<std::string> kOldHeader = {"unit", "medium", "status", "reason"};

// A row of the older file: "medium" was the image file, or "/dev/sdb (SERIAL)".
UnitOutcome FromOldRow(const std::vector<std::string>& row) {
    UnitOutcome o;
    o.unit = Unguarded(row[0]);
    o.medium = Unguarded(row[1]);
    o.reason = Unguarded(row[3]);
    o.device = o.medium;
    o.kind = o.medium.ends_with(".iso") ? MediumKind::Image : MediumKind::Stick;
    if (o.kind == MediumKind::Stick && o.medium.ends_with(")")) {
        if (const std::size_t open = o.medium.rfind(" ("); open != std::string::npos) {
            o.device = o.medium.substr(0, open);
            o.serial = o.medium.substr(open + 2, o.medium.size() - open - 3);
        }
    }
    return o;
}

}  // namespace

bool ReadResultFile(const std::string& path, std::vector<UnitOutcome>& attempts,
                    std::string& error) {
    attempts.clear();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return true;
        error = path + " cannot be read: " + AppServices::SystemErrorText(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = path + " is not a file; move it away";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in && !in.eof()) {
        error = path + " cannot be read: " + AppServices::SystemErrorText(errno);
        return false;
    }
    if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
    const auto notOurs = [&] {
        error = path + " is not a result file of this program; move it away so that it is not lost";
        return false;
    };
    if (text.empty()) return true;
    csv_parser parser;
    if (csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI) != 0) return notOurs();
    Rows rows;
    const bool parsed =
        csv_parse(&parser, text.data(), text.size(), OnField, OnRow, &rows) == text.size() &&
        csv_fini(&parser, OnField, OnRow, &rows) == 0;
    csv_free(&parser);
    if (!parsed || rows.rows.empty()) return notOurs();
    const bool old = rows.rows.front() == kOldHeader;
    if (!old && rows.rows.front() != kHeader) return notOurs();
    for (std::size_t i = 1; i < rows.rows.size(); ++i) {
        const std::vector<std::string>& row = rows.rows[i];
        UnitOutcome o;
        if (row.size() != (old ? kOldHeader : kHeader).size() ||
            !StatusFromName(row[old ? 2 : 4], o.status)) {
            return notOurs();
        }
        if (old) {
            const UnitStatus status = o.status;
            o = FromOldRow(row);
            o.status = status;
        } else {
            if (row[1] != "image" && row[1] != "stick") return notOurs();
            o.unit = Unguarded(row[0]);
            o.kind = row[1] == "stick" ? MediumKind::Stick : MediumKind::Image;
            o.device = Unguarded(row[2]);
            o.serial = Unguarded(row[3]);
            o.reason = Unguarded(row[5]);
            o.time = Unguarded(row[6]);
            o.sha256 = Unguarded(row[7]);
            o.medium = o.serial.empty() ? o.device : o.device + " (" + o.serial + ")";
        }
        attempts.push_back(std::move(o));
    }
    return true;
}

bool HasDone(const std::vector<UnitOutcome>& attempts, const std::string& unit, MediumKind kind,
             const std::string& device) {
    for (const UnitOutcome& o : attempts) {
        if (o.unit == unit && o.kind == kind && o.status == UnitStatus::Done &&
            (device.empty() || o.device == device)) {
            return true;
        }
    }
    return false;
}

bool ResultFileWritable(const std::string& path) {
    std::string temp = path + ".XXXXXX";
    UniqueFd fd(::mkstemp(temp.data()));
    if (!fd.Valid()) return false;
    ::unlink(temp.c_str());
    return true;
}

bool WriteResultFile(const std::string& path, const std::vector<UnitOutcome>& attempts) {
    const std::string text = FormatResultCsv(attempts);
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

std::string Iso8601Utc(std::time_t when) {
    std::tm utc{};
    if (!::gmtime_r(&when, &utc)) return "";
    char text[32];
    return std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc) ? text : "";
}

}  // namespace flintmere
