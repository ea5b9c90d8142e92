#include "platform/text.h"

#include <cstdarg>
#include <cstdio>

namespace flintmere {
namespace {

// Windows-1252 0x80..0x9F; 0 marks the five unassigned bytes, which map to
// the C1 control of the same value.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char AnsiFromCodePoint(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
    for (int i = 0; i < 32; ++i) {
        char16_t mapped = kCp1252High[i] ? kCp1252High[i] : char16_t(0x80 + i);
        if (mapped == cp) return static_cast<char>(0x80 + i);
    }
    return '?';
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void AppendUtf16(u16& out, char32_t cp) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (cp >> 10));
        out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
        out += static_cast<char16_t>(cp);
    }
}

// Walks UTF-16 code points; a lone surrogate is reported as U+FFFD.
template <typename F>
void ForEachCodePoint(u16view text, F&& f) {
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        f(c);
    }
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
    // The decoder replaces every invalid sequence: a text that survives the
    // round trip unchanged was valid.
    return Utf16ToUtf8(Utf8ToUtf16(bytes)) == bytes;
}

std::string LogTextFromBytes(std::string_view bytes) {
    return IsValidUtf8(bytes) ? Utf16ToAnsi(Utf8ToUtf16(bytes)) : std::string(bytes);
}

u16 Utf8ToUtf16(std::string_view in) {
    u16 out;
    out.reserve(in.size());
    size_t i = 0;
    while (i < in.size()) {
        unsigned char b = static_cast<unsigned char>(in[i]);
        int extra = 0;
        char32_t cp = 0;
        char32_t min = 0;
        if (b < 0x80) {
            cp = b;
        } else if ((b & 0xE0) == 0xC0) {
            extra = 1, cp = b & 0x1F, min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2, cp = b & 0x0F, min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3, cp = b & 0x07, min = 0x10000;
        } else {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        size_t j = 1;
        bool ok = i + extra < in.size();
        for (; ok && j <= static_cast<size_t>(extra); ++j) {
            unsigned char c = static_cast<unsigned char>(in[i + j]);
            if ((c & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (c & 0x3F);
        }
        if (!ok || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out += u'\uFFFD';
            i += j > 1 ? j : 1;
            continue;
        }
        AppendUtf16(out, cp);
        i += extra + 1;
    }
    return out;
}

std::string Utf16ToUtf8(u16view text) {
    std::string out;
    out.reserve(text.size());
    ForEachCodePoint(text, [&](char32_t cp) { AppendUtf8(out, cp); });
    return out;
}

std::string Utf16ToAnsi(u16view text) {
    std::string out;
    out.reserve(text.size());
    ForEachCodePoint(text, [&](char32_t cp) { out += AnsiFromCodePoint(cp); });
    return out;
}

u16 AnsiToUtf16(std::string_view ansi) {
    u16 out;
    out.reserve(ansi.size());
    for (char ch : ansi) {
        unsigned char b = static_cast<unsigned char>(ch);
        if (b >= 0x80 && b < 0xA0 && kCp1252High[b - 0x80]) {
            out += kCp1252High[b - 0x80];
        } else {
            out += static_cast<char16_t>(b);
        }
    }
    return out;
}

std::string FormatA(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    std::string out = VFormatA(format, ap);
    va_end(ap);
    return out;
}

std::string VFormatA(const char* format, va_list ap) {
    va_list copy;
    va_copy(copy, ap);
    int len = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out;
    if (len > 0) {
        out.resize(static_cast<size_t>(len) + 1);
        std::vsnprintf(out.data(), out.size(), format, ap);
        out.resize(static_cast<size_t>(len));
    }
    return out;
}

u16 FormatWArgs(u16view format, const std::vector<FormatArg>& args) {
    u16 out;
    size_t next = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        char16_t c = format[i];
        if (c != u'%') {
            out += c;
            continue;
        }
        size_t start = i++;
        if (i < format.size() && format[i] == u'%') {
            out += u'%';
            continue;
        }
        std::string conversion = "%";
        bool leftAlign = false;
        while (i < format.size() &&
               std::u16string_view(u"-+ #0").find(format[i]) != u16view::npos) {
            if (format[i] == u'-') leftAlign = true;
            conversion += static_cast<char>(format[i++]);
        }
        int width = -1;
        int precision = -1;
        auto readNumber = [&](int& value) {
            if (i < format.size() && format[i] == u'*') {
                ++i;
                value = -2;  // from argument
                return;
            }
            if (i < format.size() && format[i] >= u'0' && format[i] <= u'9') {
                value = 0;
                while (i < format.size() && format[i] >= u'0' && format[i] <= u'9') {
                    value = value * 10 + (format[i++] - u'0');
                }
            }
        };
        readNumber(width);
        if (i < format.size() && format[i] == u'.') {
            ++i;
            precision = 0;
            readNumber(precision);
        }
        auto takeInt = [&]() -> long long {
            if (next >= args.size()) return 0;
            const auto& v = args[next++].value();
            if (auto p = std::get_if<long long>(&v)) return *p;
            if (auto p = std::get_if<unsigned long long>(&v)) return static_cast<long long>(*p);
            return 0;
        };
        if (width == -2) {
            long long w = takeInt();
            if (w < 0) leftAlign = true, w = -w;
            width = static_cast<int>(w);
        }
        if (precision == -2) precision = static_cast<int>(takeInt());
        std::string length;
        while (i < format.size() && u16view(u"hlLqjzt").find(format[i]) != u16view::npos) {
            length += static_cast<char>(format[i++]);
        }
        if (i >= format.size()) {
            out.append(format.substr(start));
            break;
        }
        char16_t conv = format[i];
        if (next >= args.size()) {
            out.append(format.substr(start, i - start + 1));
            continue;
        }
        const auto& v = args[next++].value();
        if (conv == u's' || conv == u'S') {
            u16 s;
            if (auto p = std::get_if<u16view>(&v)) {
                s = u16(*p);
            } else if (auto p = std::get_if<std::string_view>(&v)) {
                s = Utf8ToUtf16(*p);
            }
            if (precision >= 0 && static_cast<size_t>(precision) < s.size()) s.resize(precision);
            if (width > 0 && static_cast<size_t>(width) > s.size()) {
                u16 pad(width - s.size(), u' ');
                s = leftAlign ? s + pad : pad + s;
            }
            out += s;
            continue;
        }
        if (width >= 0) conversion += std::to_string(width);
        if (precision >= 0) {
            conversion += '.';
            conversion += std::to_string(precision);
        }
        if (conv == u'c' || conv == u'C') {
            char32_t ch = 0;
            if (auto p = std::get_if<long long>(&v)) ch = static_cast<char32_t>(*p);
            if (auto p = std::get_if<unsigned long long>(&v)) ch = static_cast<char32_t>(*p);
            AppendUtf16(out, ch);
            continue;
        }
        if (u16view(u"diouxX").find(conv) != u16view::npos) {
            conversion += "ll";
            conversion += static_cast<char>(conv);
            long long value = 0;
            if (auto p = std::get_if<long long>(&v)) value = *p;
            if (auto p = std::get_if<unsigned long long>(&v)) value = static_cast<long long>(*p);
            if (auto p = std::get_if<double>(&v)) value = static_cast<long long>(*p);
            bool isUnsigned = conv != u'd' && conv != u'i';
            // Narrow a value to the width its length modifier names, as printf would.
            if (length.empty() || length == "h" || length == "hh") {
                value = isUnsigned ? static_cast<long long>(static_cast<unsigned int>(value))
                                   : static_cast<long long>(static_cast<int>(value));
            }
            out += Utf8ToUtf16(FormatA(conversion.c_str(), value));
        } else if (u16view(u"eEfFgGaA").find(conv) != u16view::npos) {
            conversion += static_cast<char>(conv);
            double value = 0;
            if (auto p = std::get_if<double>(&v)) value = *p;
            if (auto p = std::get_if<long long>(&v)) value = static_cast<double>(*p);
            if (auto p = std::get_if<unsigned long long>(&v)) value = static_cast<double>(*p);
            out += Utf8ToUtf16(FormatA(conversion.c_str(), value));
        } else {
            out.append(format.substr(start, i - start + 1));
        }
    }
    return out;
}

char16_t AsciiLower(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? c + 32 : c;
}

bool EqualsIgnoreAsciiCase(u16view a, u16view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

}  // namespace flintmere
