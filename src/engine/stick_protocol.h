// The line protocol between the window and flintmere-stick-writer. Both
// sides use this one codec. A line is a verb and its fields, separated by
// single blanks; every byte outside printable ASCII, the blank and the
// backslash is escaped, so a field never holds a line break or a blank and
// the wire is plain ASCII whatever the texts hold.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace flintmere {

inline constexpr int kStickProtocolVersion = 1;
// No line of the protocol is longer; a longer one is malformed. A database
// of the largest size the window imports (16 MiB) fits once escaped.
inline constexpr std::size_t kStickProtocolMaxLine = (64u << 20) + 4096;

// "\\" for a backslash, "\xHH" for any other byte outside '!'..'~', and
// "\e" for an empty field (so that a field is never zero bytes long).
std::string EscapeField(std::string_view bytes);
// Empty on a malformed field (a stray backslash or a bad hex pair).
std::optional<std::string> UnescapeField(std::string_view field);

struct ProtocolLine {
    std::string verb;
    std::vector<std::string> fields;  // unescaped
};

// "verb field field ...\n".
std::string FormatLine(std::string_view verb, const std::vector<std::string>& fields = {});
// A line without its "\n". Empty when the line is malformed.
std::optional<ProtocolLine> ParseLine(std::string_view line);

// Splits a stream into lines as bytes arrive. A line longer than
// kStickProtocolMaxLine, or bytes after it, make the reader fail for good.
class LineReader {
  public:
    void Feed(std::string_view bytes);
    // The next whole line, without its "\n".
    std::optional<std::string> Next();
    bool Overflowed() const { return overflowed_; }
    // Bytes received after the last whole line.
    std::size_t Pending() const { return buffer_.size() - start_; }

  private:
    std::string buffer_;
    std::size_t start_ = 0;
    bool overflowed_ = false;
};

}  // namespace flintmere
