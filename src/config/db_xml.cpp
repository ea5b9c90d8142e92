#include "config/db_xml.h"

#include <limits>
#include <string>

namespace flintmere::dbxml {
namespace {

bool IsXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

class TextCollector {
  public:
    void Add(pugi::xml_node node) {
        if (node.type() == pugi::node_pcdata) {
            for (const char* p = node.value(); *p; ++p) {
                if (IsXmlSpace(*p)) {
                    pendingSpace_ = true;
                } else {
                    Flush();
                    out_ += *p;
                }
            }
        } else if (node.type() == pugi::node_cdata) {
            Flush();
            out_ += node.value();
        }
    }
    // A trailing space is dropped: the ends are trimmed.
    std::string Take() { return std::move(out_); }

  private:
    void Flush() {
        if (pendingSpace_ && !out_.empty()) out_ += ' ';
        pendingSpace_ = false;
    }
    std::string out_;
    bool pendingSpace_ = false;
};

// Bytes of the UTF-8 form of one code point.
int Utf8Length(std::uint32_t cp) {
    return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
}

}  // namespace

u16 NodeText(pugi::xml_node node) {
    TextCollector text;
    // Walks the subtree without recursion: documents may nest deeply.
    text.Add(node);
    pugi::xml_node cur = node.first_child();
    while (cur) {
        text.Add(cur);
        if (cur.first_child()) {
            cur = cur.first_child();
            continue;
        }
        while (cur != node && !cur.next_sibling()) cur = cur.parent();
        if (cur == node) break;
        cur = cur.next_sibling();
    }
    return Utf8ToUtf16(text.Take());
}

std::int32_t DecimalValue(u16view text) {
    std::size_t i = 0;
    auto isCSpace = [](char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); };
    while (i < text.size() && isCSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    const std::int64_t limit = negative ? kMax + 1 : kMax;
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i] - u'0');
        if (value > limit) value = limit;
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

int ParseErrorLine(std::span<const std::uint8_t> data, pugi::xml_encoding encoding,
                   std::ptrdiff_t offset) {
    int line = 1;
    std::ptrdiff_t pos = 0;  // UTF-8 units consumed so far
    auto step = [&](std::uint32_t cp) {
        if (pos >= offset) return false;
        if (cp == '\n') ++line;
        pos += Utf8Length(cp);
        return true;
    };
    const std::size_t n = data.size();
    switch (encoding) {
        case pugi::encoding_utf16_le:
        case pugi::encoding_utf16_be: {
            const bool le = encoding == pugi::encoding_utf16_le;
            for (std::size_t i = 0; i + 1 < n; i += 2) {
                std::uint32_t unit = le ? data[i] | data[i + 1] << 8 : data[i] << 8 | data[i + 1];
                // A high surrogate and its partner make one 4-byte sequence.
                if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < n) {
                    i += 2;
                    unit = 0x10000;
                }
                if (!step(unit)) break;
            }
            break;
        }
        case pugi::encoding_utf32_le:
        case pugi::encoding_utf32_be: {
            const bool le = encoding == pugi::encoding_utf32_le;
            for (std::size_t i = 0; i + 3 < n; i += 4) {
                std::uint32_t cp = le ? data[i] | data[i + 1] << 8 | data[i + 2] << 16 |
                                            static_cast<std::uint32_t>(data[i + 3]) << 24
                                      : static_cast<std::uint32_t>(data[i]) << 24 |
                                            data[i + 1] << 16 | data[i + 2] << 8 | data[i + 3];
                if (!step(cp)) break;
            }
            break;
        }
        case pugi::encoding_latin1:
            for (std::size_t i = 0; i < n; ++i) {
                if (!step(data[i])) break;
            }
            break;
        default:
            // UTF-8 is parsed as it stands: offsets are byte offsets.
            for (std::size_t i = 0; i < n && static_cast<std::ptrdiff_t>(i) < offset; ++i) {
                if (data[i] == '\n') ++line;
            }
            break;
    }
    return line;
}

u16 BareLogoName(u16view name) {
    const std::size_t cut = name.find_last_of(u"/\\");
    u16 bare(cut == u16view::npos ? name : name.substr(cut + 1));
    if (bare == u"." || bare == u"..") bare.clear();
    return bare;
}

}  // namespace flintmere::dbxml
