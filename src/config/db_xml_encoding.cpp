// What a database file says about its own encoding before it is parsed.
#include <string_view>

#include "config/db_xml.h"

namespace flintmere::dbxml {
namespace {

enum class Units { Eight, Sixteen, SixteenBig };

struct RawForm {
    std::size_t markBytes = 0;  // length of the byte order mark
    Units units = Units::Eight;
};

RawForm FormOf(std::span<const std::uint8_t> d) {
    const std::size_t n = d.size();
    if (n >= 3 && d[0] == 0xEF && d[1] == 0xBB && d[2] == 0xBF) return {3, Units::Eight};
    if (n >= 2 && d[0] == 0xFF && d[1] == 0xFE) return {2, Units::Sixteen};
    if (n >= 2 && d[0] == 0xFE && d[1] == 0xFF) return {2, Units::SixteenBig};
    // No mark: "<?" in 16-bit units of either byte order.
    if (n >= 4 && d[0] == '<' && d[1] == 0 && d[2] == '?' && d[3] == 0) return {0, Units::Sixteen};
    if (n >= 4 && d[0] == 0 && d[1] == '<' && d[2] == 0 && d[3] == '?') {
        return {0, Units::SixteenBig};
    }
    return {};
}

bool NameStartsWith(std::string_view name, std::string_view prefix) {
    if (name.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = name[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != prefix[i]) return false;
    }
    return true;
}

bool IsSixteenBitName(std::string_view name) {
    return NameStartsWith(name, "UTF-16") || NameStartsWith(name, "UTF16") ||
           NameStartsWith(name, "UCS-2") || NameStartsWith(name, "ISO-10646-UCS-2");
}

bool IsUtf8Name(std::string_view name) {
    return name.size() <= 5 && (NameStartsWith(name, "UTF-8") || NameStartsWith(name, "UTF8"));
}

}  // namespace

std::string DeclaredEncoding(std::span<const std::uint8_t> data) {
    const RawForm form = FormOf(data);
    const std::size_t width = form.units == Units::Eight ? 1 : 2;
    // The declaration is ASCII: read it a unit at a time up to its '>'.
    std::string decl;
    for (std::size_t i = form.markBytes; i + width <= data.size() && decl.size() < 256;
         i += width) {
        unsigned unit = data[i];
        if (form.units == Units::Sixteen) unit |= data[i + 1] << 8;
        if (form.units == Units::SixteenBig) unit = unit << 8 | data[i + 1];
        if (unit == 0 || unit > 0x7F) break;
        decl += static_cast<char>(unit);
        if (unit == '>') break;
    }
    if (decl.rfind("<?xml", 0) != 0) return {};
    std::size_t at = decl.find("encoding");
    if (at == std::string::npos) return {};
    at += 8;
    auto skipSpace = [&] {
        while (at < decl.size() &&
               (decl[at] == ' ' || decl[at] == '\t' || decl[at] == '\r' || decl[at] == '\n')) {
            ++at;
        }
    };
    skipSpace();
    if (at >= decl.size() || decl[at] != '=') return {};
    ++at;
    skipSpace();
    if (at >= decl.size() || (decl[at] != '"' && decl[at] != '\'')) return {};
    const char quote = decl[at++];
    const std::size_t end = decl.find(quote, at);
    if (end == std::string::npos) return {};
    return decl.substr(at, end - at);
}

std::string EncodingMismatch(std::span<const std::uint8_t> data) {
    const RawForm form = FormOf(data);
    const std::string declared = DeclaredEncoding(data);
    if (form.units == Units::Eight) {
        // Only a UTF-8 mark says anything; the parser would believe the
        // declaration over it and garble every non-ASCII letter.
        if (form.markBytes == 0 || declared.empty() || IsUtf8Name(declared)) return {};
        return "a UTF-8 byte order mark, but the declaration names \"" + declared + "\"";
    }
    if (IsSixteenBitName(declared) || (form.markBytes > 0 && declared.empty())) return {};
    return std::string(form.markBytes > 0 ? "a UTF-16 byte order mark"
                                          : "UTF-16 text without a byte order mark") +
           ", but the declaration names \"" + declared + "\"";
}

}  // namespace flintmere::dbxml
