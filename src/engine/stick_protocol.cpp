#include "engine/stick_protocol.h"

namespace flintmere {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string EscapeField(std::string_view bytes) {
    if (bytes.empty()) return "\\e";
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b == '\\') {
            out += "\\\\";
        } else if (b > ' ' && b < 0x7f) {
            out += c;
        } else {
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 15];
        }
    }
    return out;
}

std::optional<std::string> UnescapeField(std::string_view field) {
    if (field == "\\e") return std::string();
    if (field.empty()) return std::nullopt;
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        const auto b = static_cast<unsigned char>(field[i]);
        if (b <= ' ' || b >= 0x7f) return std::nullopt;
        if (b != '\\') {
            out += field[i];
            continue;
        }
        if (i + 1 < field.size() && field[i + 1] == '\\') {
            out += '\\';
            ++i;
            continue;
        }
        if (i + 3 >= field.size() || field[i + 1] != 'x') return std::nullopt;
        const int high = HexValue(field[i + 2]);
        const int low = HexValue(field[i + 3]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 3;
    }
    return out;
}

std::string FormatLine(std::string_view verb, const std::vector<std::string>& fields) {
    std::string line(verb);
    for (const std::string& field : fields) {
        line += ' ';
        line += EscapeField(field);
    }
    line += '\n';
    return line;
}

std::optional<ProtocolLine> ParseLine(std::string_view line) {
    if (line.empty() || line.size() > kStickProtocolMaxLine) return std::nullopt;
    ProtocolLine parsed;
    std::size_t at = 0;
    bool first = true;
    while (true) {
        const std::size_t blank = line.find(' ', at);
        const std::string_view token =
            line.substr(at, blank == std::string_view::npos ? std::string_view::npos : blank - at);
        if (first) {
            if (token.empty()) return std::nullopt;
            for (const char c : token) {
                if (!((c >= 'a' && c <= 'z') || c == '-')) return std::nullopt;
            }
            parsed.verb = std::string(token);
            first = false;
        } else {
            std::optional<std::string> field = UnescapeField(token);
            if (!field) return std::nullopt;
            parsed.fields.push_back(std::move(*field));
        }
        if (blank == std::string_view::npos) break;
        at = blank + 1;
    }
    return parsed;
}

void LineReader::Feed(std::string_view bytes) {
    if (overflowed_) return;
    if (start_ > 0 && start_ == buffer_.size()) {
        buffer_.clear();
        start_ = 0;
    }
    buffer_.append(bytes);
    const std::size_t newline = buffer_.find('\n', start_);
    const std::size_t open = newline == std::string::npos ? buffer_.size() - start_ : 0;
    if (open > kStickProtocolMaxLine) overflowed_ = true;
}

std::optional<std::string> LineReader::Next() {
    if (overflowed_) return std::nullopt;
    const std::size_t newline = buffer_.find('\n', start_);
    if (newline == std::string::npos) {
        if (start_ > 0) {
            buffer_.erase(0, start_);
            start_ = 0;
        }
        return std::nullopt;
    }
    if (newline - start_ > kStickProtocolMaxLine) {
        overflowed_ = true;
        return std::nullopt;
    }
    std::string line = buffer_.substr(start_, newline - start_);
    start_ = newline + 1;
    return line;
}

}  // namespace flintmere
