// The CSV layer of a units table (RFC 4180): the records of the file and
// the row each one is, counted as a spreadsheet shows them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace flintmere {

struct CsvRecord {
    std::size_t row = 0;  // 1 for the file's first record
    std::vector<std::string> fields;
};

struct CsvFault {
    std::size_t row = 0;
    std::size_t field = 0;  // index of the field being read in that row
    std::string reason;
};

struct CsvRecords {
    std::vector<CsvRecord> records;  // empty lines are left out but counted
    std::optional<CsvFault> fault;   // reading stopped there
    std::string encoding;            // "UTF-8", "UTF-16LE", "UTF-16BE", "Windows-1252"
    char delimiter = ',';
};

// The file's text in UTF-8: UTF-8 with or without a byte order mark,
// UTF-16 with one (a broken sequence becomes U+FFFD), else Windows-1252,
// which a spreadsheet on Windows writes. `encoding` names the one taken.
std::string DecodeTableText(std::string_view bytes, std::string& encoding);

// The separator the header line uses most: comma, semicolon or tab
// (outside quotes); a comma when it has none.
char HeaderDelimiter(std::string_view text);

// The bytes decoded as above; the header line's separator separates
// fields, CRLF or LF end rows, double quotes enclose fields that hold the
// separator, quotes or line breaks. Blanks belong to their field, as
// RFC 4180 says.
CsvRecords ReadCsvRecords(std::string_view bytes);

}  // namespace flintmere
