#include "rollout/units_csv.h"

#include <csv.h>

#include <memory>

#include "platform/text.h"

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

std::string DecodeTableText(std::string_view bytes, std::string& encoding) {
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        encoding = "UTF-8";
        return std::string(bytes.substr(3));
    }
    const bool little = bytes.starts_with("\xFF\xFE");
    if (little || bytes.starts_with("\xFE\xFF")) {
        encoding = little ? "UTF-16LE" : "UTF-16BE";
        std::u16string units;
        for (std::size_t at = 2; at + 1 < bytes.size(); at += 2) {
            const auto lo = static_cast<unsigned char>(bytes[at + (little ? 0 : 1)]);
            const auto hi = static_cast<unsigned char>(bytes[at + (little ? 1 : 0)]);
            units += static_cast<char16_t>(hi << 8 | lo);
        }
        if (bytes.size() % 2 != 0) units += u'\xFFFD';
        // Unpaired surrogates would not survive the conversion.
        for (std::size_t i = 0; i < units.size(); ++i) {
            const char16_t c = units[i];
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
                units[i + 1] <= 0xDFFF) {
                ++i;
            } else if (c >= 0xD800 && c <= 0xDFFF) {
                units[i] = u'\xFFFD';
            }
        }
        return Utf16ToUtf8(units);
    }
    if (IsValidUtf8(bytes)) {
        encoding = "UTF-8";
        return std::string(bytes);
    }
    encoding = "Windows-1252";
    return Utf16ToUtf8(AnsiToUtf16(bytes));
}

char HeaderDelimiter(std::string_view text) {
    std::size_t commas = 0, semicolons = 0, tabs = 0;
    bool quoted = false;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        if (c == '"') quoted = !quoted;
        if (quoted) continue;
        if (c == '\r' || c == '\n') {
            // Empty lines may come before the header.
            if (commas + semicolons + tabs > 0) break;
            continue;
        }
        commas += c == ',';
        semicolons += c == ';';
        tabs += c == '\t';
    }
    if (semicolons > commas && semicolons >= tabs) return ';';
    if (tabs > commas && tabs > semicolons) return '\t';
    return ',';
}

CsvRecords ReadCsvRecords(std::string_view bytes) {
    std::string encoding;
    const std::string text = DecodeTableText(bytes, encoding);
    const char delimiter = HeaderDelimiter(text);

    csv_parser parser{};
    if (csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI | CSV_REPALL_NL) != 0) {
        return {{}, CsvFault{1, 0, "the CSV reader could not start"}, encoding, delimiter};
    }
    std::unique_ptr<csv_parser, ParserFree> owner(&parser);
    csv_set_space_func(&parser, NoBlanks);
    csv_set_delim(&parser, static_cast<unsigned char>(delimiter));

    Collector c;
    c.out.encoding = encoding;
    c.out.delimiter = delimiter;
    bytes = text;
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
