#include "config/address_checks.h"

#include <string>

#include "config/form_rules.h"

namespace flintmere {

namespace {

constexpr std::size_t kMaxIPv4TextLength = 15;

bool IsCSpace(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}
bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// The texts are zero-terminated where they come from; a text carrying a NUL
// would be written on verbatim by the callers, so the checks refuse it.
bool HasNul(u16view text) {
    return text.find(u'\0') != u16view::npos;
}

}  // namespace

std::uint32_t ParseIPv4Text(u16view text) {
    text = text.substr(0, text.find(u'\0'));
    if (text.size() > kMaxIPv4TextLength) {
        return 0;
    }
    const Ipv4Text scanned = ScanIpv4(text, Ipv4Syntax::Scanf);
    const long long* numbers = scanned.part;
    // Out-of-range numbers spill into the neighbouring octets on purpose.
    std::uint32_t value = static_cast<std::uint32_t>(numbers[0]);
    for (int i = 1; i < 4; ++i) {
        value = (value << 8) | static_cast<std::uint32_t>(numbers[i]);
    }
    return value;
}

bool IsValidHostAddress(u16view address, std::optional<u16view> netmask) {
    if (HasNul(address) || (netmask && HasNul(*netmask))) {
        return false;
    }
    const std::uint32_t v = ParseIPv4Text(address);
    if (v == 0 || v == 0xFFFFFFFFu) {
        return false;
    }
    const std::uint32_t first = v >> 24;
    if (first == 0 || first == 127 || (first >= 224 && first <= 239)) {
        return false;
    }
    if ((v & 0xFFFF0000u) == 0xA9FE0000u ||  // 169.254.0.0/16 link-local
        (v & 0xFFFE0000u) == 0xC6120000u ||  // 198.18.0.0/15 benchmarking
        (v & 0xFFFFFF00u) == 0xC0586300u) {  // 192.88.99.0/24 relay anycast
        return false;
    }
    const std::uint32_t last = v & 0xFF;
    if (last == 0 || last == 255) {
        return false;
    }
    if (netmask) {
        const std::uint32_t m = ParseIPv4Text(*netmask);
        if ((v & ~m) == 0 || (v | m) == 0xFFFFFFFFu) {
            return false;
        }
    }
    return true;
}

bool IsValidNetmask(u16view netmask) {
    if (HasNul(netmask)) {
        return false;
    }
    const std::uint32_t m = ParseIPv4Text(netmask);
    if (m == 0 || m == 0xFFFFFFFFu) {
        return false;
    }
    std::uint32_t hostBits = ~m;
    for (int count = 0; count < 32 && (hostBits & 1u) != 0; ++count) {
        hostBits >>= 1;
    }
    return hostBits == 0;
}

bool IsValidIPv6PrefixLength(u16view text) {
    if (text.empty() || HasNul(text)) {
        return false;
    }
    std::size_t at = 0;
    while (at < text.size() && IsCSpace(text[at])) {
        ++at;
    }
    bool negative = false;
    if (at < text.size() && (text[at] == u'+' || text[at] == u'-')) {
        negative = text[at] == u'-';
        ++at;
    }
    if (at >= text.size() || !IsDigit(text[at])) {
        return false;  // no digits: the conversion consumes nothing
    }
    long long value = 0;
    while (at < text.size() && IsDigit(text[at])) {
        if (value <= 1000) {  // saturate; anything this large is out of range anyway
            value = value * 10 + (text[at] - u'0');
        }
        ++at;
    }
    if (at != text.size()) {
        return false;
    }
    if (negative) {
        value = -value;
    }
    return value >= 1 && value <= 128;
}

}  // namespace flintmere
