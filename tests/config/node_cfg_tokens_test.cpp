#include "config/node_cfg_tokens.h"

#include <gtest/gtest.h>

namespace flintmere {
namespace {

TEST(SplittingValues, OnlyBlanksAndControlsInsideAValueSplitIt) {
    struct Case {
        u16 value;
        bool splits;
    };
    const Case cases[] = {
        {u"", false},
        {u"sbc1", false},
        {u"  sbc1\t\r\n", false},  // padding at the ends reads back the same
        {u"sbc1 kestrel_admin: 10.66.66.66 255.0.0.0", true},
        {u"10.0.0.1\t10.0.0.2", true},
        {u"br\x01", true},  // a control character is not padding, even at the end
        {u"a\x7f"
         u"b",
         true},
        {u"a\u0085b", true},
        {u"M\u00fcller-\u00e9", false},
        // A value that is a key reads back as that key and takes the next value.
        {u"kestrel_label:", true},
        {u" Kestrel_GW:\t", true},
        {u"2001:db8::", false},
        {u"kestrel_label", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(QuotedForMessage(c.value)));
        SetupRecord record;
        record.m_dns2 = c.value;
        const std::vector<SplittingValue> found = FindSplittingValues(record);
        ASSERT_EQ(found.size(), c.splits ? 1u : 0u);
        if (c.splits) {
            EXPECT_STREQ(found[0].key, "dns2");
            EXPECT_EQ(found[0].value, c.value);
        }
    }
}

TEST(SplittingValues, EveryOneTokenFieldIsChecked) {
    SetupRecord record;
    u16* fields[] = {&record.m_serverName,   &record.m_lanAddress,    &record.m_lanNetmask,
                     &record.m_lanAddress6,  &record.m_lanPrefix6,    &record.m_wanAddress,
                     &record.m_wanNetmask,   &record.m_wanAddress6,   &record.m_wanPrefix6,
                     &record.m_adminAddress, &record.m_adminNetmask,  &record.m_gateway,
                     &record.m_gateway6,     &record.m_supplyServer1, &record.m_supplyServer2,
                     &record.m_logicId,      &record.m_dns1,          &record.m_dns2};
    for (u16* field : fields) *field = u"x y";
    EXPECT_EQ(FindSplittingValues(record).size(), std::size(fields));
    // Texts that never become node.cfg tokens are not checked.
    SetupRecord branding;
    branding.m_companyName = u"Example Telecom Ltd.";
    branding.m_hwPlatformText = u"Virtual 250";
    EXPECT_TRUE(FindSplittingValues(branding).empty());
}

TEST(SplittingValues, MessagesQuoteAndEscape) {
    EXPECT_EQ(QuotedForMessage(u"a b"), u"\"a b\"");
    EXPECT_EQ(QuotedForMessage(u"a\tb\n\"c\\"), u"\"a\\x09b\\x0a\\\"c\\\\\"");
}

}  // namespace
}  // namespace flintmere
