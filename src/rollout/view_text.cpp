#include "rollout/view_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <vector>

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

namespace {

char32_t CodePoint(std::string_view text, std::size_t pos, std::size_t length) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
    if (length == 1) return b(0);
    char32_t c = b(0) & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) c = c << 6 | (b(i) & 0x3F);
    return c;
}

struct Range {
    char32_t first, last;
};

bool In(const Range* ranges, std::size_t count, char32_t c) {
    for (std::size_t i = 0; i < count; ++i) {
        if (c >= ranges[i].first && c <= ranges[i].last) return true;
    }
    return false;
}

}  // namespace

// Combining marks and zero-width characters take no cell; East Asian wide
// and full-width characters and emoji take two.
std::size_t CellWidth(char32_t c) {
    static constexpr Range kZero[] = {
        {0x0300, 0x036F}, {0x0483, 0x0489},  {0x0591, 0x05BD}, {0x0610, 0x061A}, {0x064B, 0x065F},
        {0x0E31, 0x0E31}, {0x0E34, 0x0E3A},  {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200B, 0x200F},
        {0x2028, 0x202E}, {0x2060, 0x2064},  {0x20D0, 0x20FF}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F},
        {0xFEFF, 0xFEFF}, {0xE0100, 0xE01EF}};
    static constexpr Range kWide[] = {
        {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},
        {0x23F0, 0x23F0},   {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},
        {0x2648, 0x2653},   {0x267F, 0x267F},   {0x2693, 0x2693},   {0x26A1, 0x26A1},
        {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},   {0x26CE, 0x26CE},
        {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
        {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},
        {0x2728, 0x2728},   {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},
        {0x2757, 0x2757},   {0x2795, 0x2797},   {0x27B0, 0x27B0},   {0x27BF, 0x27BF},
        {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},   {0x2E80, 0x303E},
        {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
        {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},
        {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x16FE0, 0x16FE4},
        {0x17000, 0x18CFF}, {0x1B000, 0x1B2FF}, {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF},
        {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A}, {0x1F200, 0x1F251}, {0x1F300, 0x1F64F},
        {0x1F680, 0x1F6FF}, {0x1F7E0, 0x1F7EB}, {0x1F900, 0x1F9FF}, {0x1FA70, 0x1FAFF},
        {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD}};
    if (In(kZero, std::size(kZero), c)) return 0;
    if (In(kWide, std::size(kWide), c)) return 2;
    return 1;
}

std::size_t Columns(std::string_view text) {
    std::size_t cells = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t length = std::max<std::size_t>(Utf8SequenceAt(text, pos), 1);
        cells += CellWidth(CodePoint(text, pos, length));
        pos += length;
    }
    return cells;
}

std::string CutToColumns(std::string_view text, std::size_t width) {
    std::size_t cells = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t length = std::max<std::size_t>(Utf8SequenceAt(text, pos), 1);
        const std::size_t cell = CellWidth(CodePoint(text, pos, length));
        if (cells + cell > width) return std::string(text.substr(0, pos));
        cells += cell;
        pos += length;
    }
    return std::string(text);
}

std::string FitToColumns(std::string_view text, std::size_t width) {
    std::string cut = CutToColumns(text, width);
    cut.append(width - Columns(cut), ' ');
    return cut;
}

namespace {

// The last characters of `text` that fill at most `width` cells.
std::string LastColumns(std::string_view text, std::size_t width) {
    std::vector<std::size_t> starts;
    for (std::size_t pos = 0; pos < text.size();) {
        starts.push_back(pos);
        pos += std::max<std::size_t>(Utf8SequenceAt(text, pos), 1);
    }
    std::size_t cells = 0;
    std::size_t from = text.size();
    for (auto it = starts.rbegin(); it != starts.rend(); ++it) {
        const std::size_t length = from - *it;
        const std::size_t cell = CellWidth(CodePoint(text, *it, length));
        if (cells + cell > width) break;
        cells += cell;
        from = *it;
    }
    return std::string(text.substr(from));
}

}  // namespace

std::string ElideMiddle(std::string_view text, std::size_t width) {
    constexpr std::string_view kEllipsis = "\xE2\x80\xA6";  // one cell
    if (Columns(text) <= width) return std::string(text);
    if (width < 2) return CutToColumns(text, width);
    // The file name is what tells one unit's medium from another's; a
    // device's model and size after it are not.
    const std::size_t slash = text.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? text : text.substr(slash);
    const std::size_t nameCells = Columns(name);
    if (slash != std::string_view::npos && nameCells + 2 <= width) {
        return CutToColumns(text.substr(0, slash), width - nameCells - 1) + std::string(kEllipsis) +
               std::string(name);
    }
    const std::size_t tail = (width - 1) / 2 + (width - 1) % 2;
    return CutToColumns(text, width - 1 - tail) + std::string(kEllipsis) + LastColumns(text, tail);
}

std::string DurationText(double seconds) {
    if (!(seconds >= 0) || !std::isfinite(seconds)) return "";
    const auto total = static_cast<long long>(seconds + 0.5);
    char text[32];
    if (total >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                      total % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
    }
    return text;
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
