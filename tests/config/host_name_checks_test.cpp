#include "config/host_name_checks.h"

#include <gtest/gtest.h>

namespace flintmere {
namespace {

struct NameCase {
    u16 text;
    bool valid;
};

TEST(IsValidHostLabel, Table) {
    const NameCase cases[] = {
        {u"a", true},
        {u"abc", true},
        {u"a1", true},
        {u"a-b", true},
        {u"1a", true},
        {u"1-2", true},
        {u"1a2b3", true},
        {u"12-34", true},
        {u"1--a", true},
        {u"Z9", true},
        {u"12ab34cd56", true},
        {u"9-a-8", true},
        {u"-a", false},
        {u"a-", false},
        {u"1", false},
        {u"123", false},
        {u"1a2!", false},
        {u"1-2-", false},
        {u"a_b", false},
        {u"a.b", false},
        {u"a b", false},
        {u"", false},
        {u"-", false},
        {u"caf\u00E9", false},
        {u"\u00E41", false},
        {u"1\uFF12", false},  // fullwidth digit
        {u"a\U0001F600", false},
        {u16(u"ab\0cd", 5), false},
        {u16(63, u'a'), true},
        {u16(64, u'a'), false},
        {u"1" + u16(61, u'x') + u"2", true},
        {u"1" + u16(62, u'x') + u"2", false},
        {u16(62, u'1') + u"a", true},
        {u16(63, u'1'), false},
        {u16(100000, u'a'), false},
        {u16(100000, u'a') + u"!", false},
        {u16(100000, u'\u00E4'), false},
    };
    for (const NameCase& c : cases) {
        EXPECT_EQ(IsValidHostLabel(c.text), c.valid) << Utf16ToUtf8(c.text.substr(0, 80));
    }
}

TEST(IsValidDomainName, Table) {
    const NameCase cases[] = {
        {u"abc.def", true},
        {u"a.b.c", true},
        {u".abc", true},
        {u"...abc", false},
        {u"mgmt1.example-corp.com", true},
        {u"a10.b0.1a", true},
        {u"10.0.0.1", false},  // all-digit labels
        {u"abc", true},
        {u"a..b", false},
        {u"abc.", false},
        {u".", false},
        {u"", false},
        {u"abc.-def", false},
        {u"abc.123", false},
        {u"abc.d_f", false},
        {u"abc.d\u00E9f", false},
        {u"x." + u16(63, u'a'), true},
        {u"x." + u16(64, u'a'), false},
        {u16(64, u'a') + u".x", false},
        {u16(100000, u'a'), false},
        {u16(100000, u'.') + u"a", false},  // holds ".."
    };
    for (const NameCase& c : cases) {
        EXPECT_EQ(IsValidDomainName(c.text), c.valid) << Utf16ToUtf8(c.text.substr(0, 80));
    }
}

TEST(IsValidDomainName, ManyShortLabels) {
    u16 name;
    for (int i = 0; i < 2000; ++i) name += u"ab1.";
    EXPECT_TRUE(IsValidDomainName(name + u"z"));
    EXPECT_FALSE(IsValidDomainName(name + u"1"));
}

}  // namespace
}  // namespace flintmere
