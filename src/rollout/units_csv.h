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
};

// Commas separate fields, CRLF or LF end rows, double quotes enclose fields
// that hold commas, quotes or line breaks. A UTF-8 byte order mark at the
// start is dropped. Blanks belong to their field, as RFC 4180 says.
CsvRecords ReadCsvRecords(std::string_view bytes);

}  // namespace flintmere
