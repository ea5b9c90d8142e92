// Texts of the program are UTF-16; files and the log use Windows-1252 or UTF-8.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace flintmere {

using u16 = std::u16string;
using u16view = std::u16string_view;

// UTF-8 <-> UTF-16. Invalid input sequences become U+FFFD.
u16 Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(u16view text);

// "ANSI code page" is Windows-1252 everywhere; characters with no mapping become '?'.
std::string Utf16ToAnsi(u16view text);
u16 AnsiToUtf16(std::string_view ansi);

bool IsValidUtf8(std::string_view bytes);
// Bytes of no known encoding (a tool's output, a file's text) for the log:
// valid UTF-8 is converted to Windows-1252, anything else is taken to be
// single-byte text already.
std::string LogTextFromBytes(std::string_view bytes);

// printf-style narrow formatting with no length limit.
std::string FormatA(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string VFormatA(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

// One argument of the UTF-16 formatter: integers, floating point, or a string
// (UTF-16, or narrow UTF-8) for %s, %ls, %hs and %S.
class FormatArg {
  public:
    template <typename T>
    requires std::is_integral_v<T> FormatArg(T v) {
        if constexpr (std::is_signed_v<T>) {
            value_ = static_cast<long long>(v);
        } else {
            value_ = static_cast<unsigned long long>(v);
        }
    }
    FormatArg(double v) : value_(v) {}
    FormatArg(const char16_t* s) : value_(u16view(s ? s : u"(null)")) {}
    FormatArg(const u16& s) : value_(u16view(s)) {}
    FormatArg(u16view s) : value_(s) {}
    FormatArg(const char* s) : value_(std::string_view(s ? s : "(null)")) {}
    FormatArg(const std::string& s) : value_(std::string_view(s)) {}
    FormatArg(std::string_view s) : value_(s) {}

    using Value = std::variant<long long, unsigned long long, double, u16view, std::string_view>;
    const Value& value() const { return value_; }

  private:
    Value value_;
};

// printf-style UTF-16 formatting: flags, width, precision and the length
// modifiers are understood; %s takes a string argument of either width.
u16 FormatWArgs(u16view format, const std::vector<FormatArg>& args);

template <typename... Args>
u16 FormatW(u16view format, const Args&... args) {
    return FormatWArgs(format, std::vector<FormatArg>{FormatArg(args)...});
}

// Convenience for the file system boundary: paths are UTF-8 bytes.
inline std::string ToPath(u16view text) {
    return Utf16ToUtf8(text);
}
inline u16 FromPath(std::string_view path) {
    return Utf8ToUtf16(path);
}

// ASCII-only case helpers, as used for keys and comparisons.
char16_t AsciiLower(char16_t c);
bool EqualsIgnoreAsciiCase(u16view a, u16view b);

}  // namespace flintmere
