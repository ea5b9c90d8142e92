#include "config/address_checks.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace flintmere {
namespace {

struct ParseCase {
    const char16_t* text;
    std::uint32_t value;
};

TEST(ParseIPv4Text, FollowsScanfRules) {
    const ParseCase cases[] = {
        {u"10.0.0.1", 0x0A000001u},
        {u"192.168.1.254", 0xC0A801FEu},
        {u"1.2.3.257", 0x01020301u},  // 257 spills into the third octet
        {u"1.2.3", 0x01020300u},
        {u"1.2.3.4.5", 0x01020304u},   // trailing text ignored
        {u"1.2.3.4xyz", 0x01020304u},  //
        {u" 1. 2.\t3. +4", 0x01020304u},
        {u"1 .2.3.4", 0x01000000u},  // the dot must follow the number directly
        {u"1..3.4", 0x01000000u},
        {u"-1.0.0.0", 0xFF000000u},
        {u"0.0.0.-1", 0xFFFFFFFFu},
        {u"0x10.1.1.1", 0x00000000u},  // decimal only: "0", then 'x' stops the scan
        {u"abc", 0u},
        {u"", 0u},
        {u"999999999999999", 0xFF000000u},  // 15 characters: only the low byte survives the shifts
        {u"0.0.0.999999999", 0x3B9AC9FFu},
        {u"1111111111111111", 0u},  // 16 characters: rejected
        {u"010.000.000.001", 0x0A000001u},
        {u"10.0.0.1       ", 0x0A000001u},
        {u"10.0.0.1        ", 0u},
        {u"1\u00E4.2.3.4", 0x01000000u},  // non-ASCII stops the scan
        {u"1.2.3.\U0001F600", 0x01020300u},
        {u"\u4E00.2.3.4", 0u},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseIPv4Text(c.text), c.value) << Utf16ToUtf8(c.text);
    }
}

TEST(ParseIPv4Text, NulEndsTheText) {
    EXPECT_EQ(ParseIPv4Text(u16view(u"1.2.3.4\0"
                                    u"9",
                                    9)),
              0x01020304u);
    EXPECT_EQ(ParseIPv4Text(u16view(u"1.2\0"
                                    u".3.4",
                                    8)),
              0x01020000u);
}

TEST(ParseIPv4Text, HugeTextIsRejected) {
    EXPECT_EQ(ParseIPv4Text(u16(100000, u'1')), 0u);
    EXPECT_EQ(ParseIPv4Text(u"10.0.0.1" + u16(100000, u' ')), 0u);
}

struct HostCase {
    const char16_t* address;
    const char16_t* netmask;  // nullptr: no netmask
    bool valid;
};

TEST(IsValidHostAddress, Table) {
    const HostCase cases[] = {
        {u"10.0.0.1", nullptr, true},
        {u"10.0.0.0", nullptr, false},
        {u"10.0.0.255", nullptr, false},
        {u"0.1.2.3", nullptr, false},
        {u"127.0.0.1", nullptr, false},
        {u"224.0.0.1", nullptr, false},
        {u"239.255.255.1", nullptr, false},
        {u"223.1.1.1", nullptr, true},
        {u"240.0.0.1", nullptr, true},
        {u"255.255.255.255", nullptr, false},
        {u"169.254.1.1", nullptr, false},
        {u"169.253.1.1", nullptr, true},
        {u"198.18.0.1", nullptr, false},
        {u"198.19.0.1", nullptr, false},
        {u"198.17.0.1", nullptr, true},
        {u"198.20.0.1", nullptr, true},
        {u"192.88.99.1", nullptr, false},
        {u"192.88.98.1", nullptr, true},
        {u"1.2.3.257", nullptr, true},
        {u"1.2.3", nullptr, false},
        {u"", nullptr, false},
        {u"garbage", nullptr, false},
        {u"192.168.1.128", u"255.255.255.128", false},  // host part zero
        {u"192.168.1.127", u"255.255.255.128", false},  // host part all ones
        {u"192.168.1.1", u"255.255.255.128", true},
        {u"192.168.1.1", u"255.255.255.0", true},
        {u"10.1.0.1", u"255.255.0.0", true},
        {u"10.1.255.254", u"255.255.0.0", true},
        {u"10.0.0.1", u"", true},  // an empty mask masks nothing
        {u"10.0.0.1\u00E4", nullptr, true},
        {u"\u00E410.0.0.1", nullptr, false},
    };
    for (const auto& c : cases) {
        std::optional<u16view> mask;
        if (c.netmask) mask = u16view(c.netmask);
        EXPECT_EQ(IsValidHostAddress(c.address, mask), c.valid)
            << Utf16ToUtf8(c.address) << " / " << (c.netmask ? Utf16ToUtf8(c.netmask) : "none");
    }
}

TEST(IsValidHostAddress, RefusesNulAndHugeTexts) {
    EXPECT_FALSE(IsValidHostAddress(u16view(u"10.0.0.1\0x", 10)));
    EXPECT_FALSE(IsValidHostAddress(u"10.0.0.1", u16view(u"255.0.0.0\0", 10)));
    EXPECT_FALSE(IsValidHostAddress(u"10.0.0.1" + u16(100000, u'1')));
    EXPECT_TRUE(IsValidHostAddress(u"10.0.0.1", u16(u"255.0.0.0")));
}

struct TextCase {
    const char16_t* text;
    bool valid;
};

TEST(IsValidNetmask, Table) {
    const TextCase cases[] = {
        {u"255.255.255.0", true},   {u"128.0.0.0", true},
        {u"255.255.255.254", true}, {u"255.255.255.128", true},
        {u"255.0.0.0", true},       {u"255.255.255", true},
        {u"0.0.0.0", false},        {u"255.255.255.255", false},
        {u"255.0.255.0", false},    {u"0.255.255.0", false},
        {u"255.255.255.1", false},  {u"", false},
        {u"mask", false},           {u"255.255.256.0", true},
        {u"254.256.0.0", true},     {u"255.255.255.0      x", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsValidNetmask(c.text), c.valid) << Utf16ToUtf8(c.text);
    }
    EXPECT_FALSE(IsValidNetmask(u16view(u"255.0.0.0\0", 10)));
    EXPECT_FALSE(IsValidNetmask(u16(100000, u'2')));
}

TEST(IsValidIPv6PrefixLength, Table) {
    const TextCase cases[] = {
        {u"64", true},
        {u"+64", true},
        {u"128", true},
        {u"1", true},
        {u" 64", true},
        {u"\t64", true},
        {u"0064", true},
        {u"0", false},
        {u"-0", false},
        {u"-64", false},
        {u"129", false},
        {u"64 ", false},
        {u"0x40", false},
        {u"", false},
        {u" ", false},
        {u"+", false},
        {u"6 4", false},
        {u"64a", false},
        {u"\u0664", false},  // Arabic-Indic four
        {u"99999999999999999999999999", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsValidIPv6PrefixLength(c.text), c.valid) << Utf16ToUtf8(c.text);
    }
    EXPECT_FALSE(IsValidIPv6PrefixLength(u16view(u"64\0", 3)));
    EXPECT_FALSE(IsValidIPv6PrefixLength(u16(100000, u'1')));
    EXPECT_TRUE(IsValidIPv6PrefixLength(u16(100000, u'0') + u"64"));
}

}  // namespace
}  // namespace flintmere
