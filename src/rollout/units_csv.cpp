#include "rollout/units_csv.h"

#include <csv.h>

#include <memory>

namespace flintmere {
namespace {

struct Collector {
    CsvRecords out;
    std::vector<std::string> fields;
    std::size_t row = 1;
    int lastEnd = 0;
};

void OnField(void* data, std::size_t size, void* context) {
    auto& c = *static_cast<Collector*>(context);
    c.fields.emplace_back(data ? static_cast<const char*>(data) : "", data ? size : 0);
}

// With CSV_REPALL_NL every line end outside a record comes here without
// fields: an empty line, or the LF of a CRLF that already ended a row.
void OnRowEnd(int end, void* context) {
    auto& c = *static_cast<Collector*>(context);
    if (c.fields.empty()) {
        const bool restOfCrLf = end == '\n' && c.lastEnd == '\r';
        c.lastEnd = restOfCrLf ? 0 : end;
        if (!restOfCrLf) ++c.row;
        return;
    }
    c.out.records.push_back({c.row, std::move(c.fields)});
    c.fields.clear();
    ++c.row;
    c.lastEnd = end;
}

// RFC 4180 keeps blanks around unquoted fields; libcsv would trim them.
int NoBlanks(unsigned char) {
    return 0;
}

std::string FaultReason(int error) {
    if (error == CSV_EPARSE) {
        return "a double quote inside a field that is not quoted, or text after a closing quote";
    }
    return std::string("the table cannot be read: ") + csv_strerror(error);
}

struct ParserFree {
    void operator()(csv_parser* p) const { csv_free(p); }
};

}  // namespace

CsvRecords ReadCsvRecords(std::string_view bytes) {
    constexpr std::string_view kBom = "\xEF\xBB\xBF";
    if (bytes.starts_with(kBom)) bytes.remove_prefix(kBom.size());

    csv_parser parser{};
    if (csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI | CSV_REPALL_NL) != 0) {
        return {{}, CsvFault{1, 0, "the CSV reader could not start"}};
    }
    std::unique_ptr<csv_parser, ParserFree> owner(&parser);
    csv_set_space_func(&parser, NoBlanks);

    Collector c;
    const std::size_t read = csv_parse(&parser, bytes.data(), bytes.size(), OnField, OnRowEnd, &c);
    if (read != bytes.size()) {
        c.out.fault = CsvFault{c.row, c.fields.size(), FaultReason(csv_error(&parser))};
        return std::move(c.out);
    }
    if (csv_fini(&parser, OnField, OnRowEnd, &c) != 0) {
        // Strict mode fails the end only for a quote that was opened and never closed.
        c.out.fault = CsvFault{c.row, c.fields.size(), "a quoted field is not closed"};
    }
    return std::move(c.out);
}

}  // namespace flintmere
