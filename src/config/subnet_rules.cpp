#include <arpa/inet.h>

#include "config/form_rules.h"
#include "config/setup_validation.h"

namespace flintmere {

std::uint32_t InetAddrValue(u16view text) {
    // A dotted quad never needs more; longer texts can only come from a file.
    if (text.size() > 15) return INADDR_NONE;
    text = text.substr(0, text.find(u'\0'));
    const Ipv4Text v = ScanIpv4(text, Ipv4Syntax::Inet);
    if (v.count == 0) return INADDR_NONE;
    // What follows the address may only start with a blank.
    if (v.end < text.size() &&
        !(text[v.end] == u' ' || (text[v.end] >= u'\t' && text[v.end] <= u'\r')))
        return INADDR_NONE;
    // Each number but the last is one byte; the last fills the bytes left.
    const int last = v.count - 1;
    const int lastBits = 32 - 8 * last;
    if (v.part[last] > static_cast<long long>((1ULL << lastBits) - 1)) return INADDR_NONE;
    std::uint32_t value = static_cast<std::uint32_t>(v.part[last]);
    for (int i = 0; i < last; ++i) {
        if (v.part[i] > 0xFF) return INADDR_NONE;
        value |= static_cast<std::uint32_t>(v.part[i]) << (24 - 8 * i);
    }
    return htonl(value);
}

namespace {

// Both operands come from inet_addr in the same byte order, so the AND and
// the comparisons need no conversion.
std::uint32_t Subnet(const u16& address, const u16& netmask) {
    return InetAddrValue(address) & InetAddrValue(netmask);
}

}  // namespace

u16 InterfaceRelationError(const SetupRecord& record, bool singleArmed, FormField* field) {
    FormField unused;
    FormField& about = field ? *field : unused;
    about = FormField::WanIpv4;
    const std::uint32_t lan = Subnet(record.m_lanAddress, record.m_lanNetmask);
    const std::uint32_t wan = Subnet(record.m_wanAddress, record.m_wanNetmask);
    if (singleArmed) {
        if (lan != wan)
            return u"Single Armed SBC: Invalid configuration (interfaces LAN and WAN must be in "
                   u"the same subnet)";
    } else {
        if (record.m_lanAddress == record.m_wanAddress)
            return u"Invalid configuration (interfaces LAN and WAN using same IP address)";
        if (lan == wan)
            return u"Invalid configuration (interfaces LAN and WAN can not be in the same subnet)";
        if (!record.m_lanAddress6.empty() && record.m_lanAddress6 == record.m_wanAddress6) {
            about = FormField::WanIpv6;
            return u"Invalid configuration (interfaces LAN and WAN using same IPv6 address)";
        }
    }
    about = FormField::AdminIpv4;
    if (!record.m_adminDisabled) {
        const std::uint32_t admin = Subnet(record.m_adminAddress, record.m_adminNetmask);
        if (admin == lan)
            return u"Invalid configuration (interfaces ADMIN and LAN must not be in the same "
                   u"subnet)";
        if (admin == wan)
            return u"Invalid configuration (interfaces ADMIN and WAN must not be in the same "
                   u"subnet)";
    }
    about = FormField::Form;
    return {};
}

}  // namespace flintmere
