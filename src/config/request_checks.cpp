#include "config/request_checks.h"

#include "config/address_checks.h"
#include "config/host_name_checks.h"

namespace flintmere {
namespace {

// Four dot-separated numbers: meant as an IPv4 address, whatever the field.
bool LooksLikeIPv4(u16view text) {
    int dots = 0;
    for (char16_t c : text) {
        if (c == u'.') {
            ++dots;
        } else if (c < u'0' || c > u'9') {
            return false;
        }
    }
    return !text.empty() && dots == 3;
}

}  // namespace

u16 RecordRequestError(const SetupRecord& r) {
    if (r.m_serverName.empty()) return u"Missing Server Name configuration";
    if (r.m_serverName.size() > 63 || !IsValidHostLabel(r.m_serverName)) {
        return u"Invalid Server Name configuration";
    }
    struct Interface {
        const u16& address;
        const u16& netmask;
        const u16& prefix6;
        const char16_t* name;
    };
    static const u16 kNone;
    const Interface interfaces[] = {
        {r.m_lanAddress, r.m_lanNetmask, r.m_lanPrefix6, u"LAN"},
        {r.m_wanAddress, r.m_wanNetmask, r.m_wanPrefix6, u"WAN"},
        {r.m_adminAddress, r.m_adminNetmask, kNone, u"ADMIN"},
    };
    for (const Interface& i : interfaces) {
        if (!i.netmask.empty() && !IsValidNetmask(i.netmask)) {
            return FormatW(u"Invalid IPv4 Subnet mask configuration for %s interface", i.name);
        }
        if (!i.address.empty() && !IsValidHostAddress(i.address)) {
            return FormatW(u"Invalid IPv4 configuration for %s interface", i.name);
        }
        if (!i.prefix6.empty() && !IsValidIPv6PrefixLength(i.prefix6)) {
            return FormatW(u"Invalid IPv6 Subnet mask configuration for %s interface", i.name);
        }
    }
    struct Named {
        const u16& value;
        const char16_t* name;
    };
    const Named others[] = {{r.m_gateway, u"IPv4 gateway"},
                            {r.m_dns1, u"DNS 1"},
                            {r.m_dns2, u"DNS 2"},
                            {r.m_supplyServer1, u"QMX URL 1"},
                            {r.m_supplyServer2, u"QMX URL 2"}};
    for (const Named& n : others) {
        if (LooksLikeIPv4(n.value) && !IsValidHostAddress(n.value)) {
            return FormatW(u"Invalid %s: %s is not an IPv4 address", n.name, n.value);
        }
    }
    if (r.m_companyName.size() > 33 || r.m_productName.size() > 33 || r.m_tla.size() > 300) {
        return u"A branding text is longer than the Branding dialog allows";
    }
    return {};
}

}  // namespace flintmere
