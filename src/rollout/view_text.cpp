#include "rollout/view_text.h"

#include <charconv>
#include <cmath>

namespace flintmere::rollout_text {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

bool IsContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

}  // namespace

std::size_t Utf8SequenceAt(std::string_view text, std::size_t pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
    } else {
        return 0;
    }
    if (pos + length > text.size()) return 0;
    if (byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (!IsContinuation(byte(i))) return 0;
    }
    return length;
}

std::string OneLine(std::string_view text) {
    std::string line;
    line.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t length = Utf8SequenceAt(text, pos);
        if (length == 0) {
            line += kReplacement;
            ++pos;
            continue;
        }
        const unsigned char c = static_cast<unsigned char>(text[pos]);
        if (c < 0x20 || c == 0x7F) {
            line += ' ';  // an escape or line break would move the cursor
        } else {
            line.append(text.substr(pos, length));
        }
        pos += length;
    }
    return line;
}

std::size_t Columns(std::string_view text) {
    std::size_t count = 0;
    for (const char c : text) {
        if (!IsContinuation(static_cast<unsigned char>(c))) ++count;
    }
    return count;
}

std::string CutToColumns(std::string_view text, std::size_t width) {
    std::size_t count = 0;
    for (std::size_t pos = 0; pos < text.size(); ++pos) {
        if (IsContinuation(static_cast<unsigned char>(text[pos]))) continue;
        if (count == width) return std::string(text.substr(0, pos));
        ++count;
    }
    return std::string(text);
}

std::string FitToColumns(std::string_view text, std::size_t width) {
    std::string cut = CutToColumns(text, width);
    cut.append(width - Columns(cut), ' ');
    return cut;
}

std::string JsonString(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string json = "\"";
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t length = Utf8SequenceAt(text, pos);
        if (length == 0) {
            json += kReplacement;
            ++pos;
            continue;
        }
        const unsigned char c = static_cast<unsigned char>(text[pos]);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += static_cast<char>(c);
        } else if (c < 0x20) {
            json += "\\u00";
            json += kHex[c >> 4];
            json += kHex[c & 0xF];
        } else {
            json.append(text.substr(pos, length));
        }
        pos += length;
    }
    json += '"';
    return json;
}

std::string MbPerSecondText(double mbPerSecond) {
    if (!(mbPerSecond >= 0) || !std::isfinite(mbPerSecond)) return "";
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, mbPerSecond, std::chars_format::fixed, 1);
    return std::string(buffer, result.ptr);
}

std::string EndingText(const UnitOutcome& outcome) {
    std::string text = StatusName(outcome.status);
    if (outcome.status != UnitStatus::Done && !outcome.reason.empty()) {
        text += ": " + outcome.reason;
    }
    return text;
}

void WriteAll(std::FILE* out, std::string_view text) {
    if (!text.empty()) std::fwrite(text.data(), 1, text.size(), out);
    std::fflush(out);
}

}  // namespace flintmere::rollout_text
