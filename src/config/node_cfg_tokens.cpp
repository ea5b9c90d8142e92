#include "config/node_cfg_tokens.h"

#include <cstdio>

#include "config/node_cfg_parse.h"

namespace flintmere {
namespace {

// What the reader skips between tokens.
bool IsPadding(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

bool BreaksToken(char16_t c) {
    return c <= u' ' || c == u'\x7f' || (c >= u'\x80' && c <= u'\x9f');
}

bool SplitsIntoTokens(const u16& value) {
    std::size_t first = 0;
    std::size_t last = value.size();
    while (first < last && IsPadding(value[first])) ++first;
    while (last > first && IsPadding(value[last - 1])) --last;
    for (std::size_t i = first; i < last; ++i) {
        if (BreaksToken(value[i])) return true;
    }
    return false;
}

u16 Trimmed(const u16& value) {
    std::size_t first = 0;
    std::size_t last = value.size();
    while (first < last && IsPadding(value[first])) ++first;
    while (last > first && IsPadding(value[last - 1])) --last;
    return value.substr(first, last - first);
}

}  // namespace

std::vector<SplittingValue> FindSplittingValues(const SetupRecord& record) {
    const struct {
        const char* field;
        const char* key;
        const u16& value;
    } fields[] = {
        {"host name", "kestrel_label", record.m_serverName},
        {"LAN address", "kestrel_lan", record.m_lanAddress},
        {"LAN netmask", "kestrel_lan", record.m_lanNetmask},
        {"LAN IPv6 address", "kestrel_lan6", record.m_lanAddress6},
        {"LAN IPv6 prefix", "kestrel_lan6", record.m_lanPrefix6},
        {"WAN address", "kestrel_wan", record.m_wanAddress},
        {"WAN netmask", "kestrel_wan", record.m_wanNetmask},
        {"WAN IPv6 address", "kestrel_wan6", record.m_wanAddress6},
        {"WAN IPv6 prefix", "kestrel_wan6", record.m_wanPrefix6},
        {"ADMIN address", "kestrel_admin", record.m_adminAddress},
        {"ADMIN netmask", "kestrel_admin", record.m_adminNetmask},
        {"gateway", "kestrel_gw", record.m_gateway},
        {"IPv6 gateway", "kestrel_gw6", record.m_gateway6},
        {"first management server", "supplyserver1", record.m_supplyServer1},
        {"second management server", "supplyserver2", record.m_supplyServer2},
        {"logical id", "logicid", record.m_logicId},
        {"first DNS server", "dns1", record.m_dns1},
        {"second DNS server", "dns2", record.m_dns2},
    };
    std::vector<SplittingValue> found;
    for (const auto& f : fields) {
        if (SplitsIntoTokens(f.value)) {
            found.push_back({f.field, f.key, f.value, false});
        } else if (IsNodeCfgKey(Utf16ToAnsi(f.value))) {
            found.push_back({f.field, f.key, f.value, true});
        }
    }
    return found;
}

u16 RefusalReason(const SplittingValue& value) {
    if (!value.readsAsKey) return u"holds a blank or control character";
    return FormatW(u"would be read as the key %s", Trimmed(value.value));
}

u16 QuotedForMessage(const u16& value) {
    u16 out = u"\"";
    for (char16_t c : value) {
        if (c == u'"' || c == u'\\') {
            out += u'\\';
            out += c;
        } else if (c < u' ' || c == u'\x7f' || (c >= u'\x80' && c <= u'\x9f')) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned>(c));
            for (const char* p = escaped; *p; ++p) out += static_cast<char16_t>(*p);
        } else {
            out += c;
        }
    }
    return out + u"\"";
}

}  // namespace flintmere
