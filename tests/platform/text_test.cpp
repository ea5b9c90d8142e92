#include "platform/text.h"

#include <gtest/gtest.h>

namespace flintmere {
namespace {

TEST(AnsiConversion, MapsWindows1252AndReplacesTheRest) {
    struct Case {
        u16 text;
        std::string ansi;
    } cases[] = {
        {u"plain", "plain"},
        {u"caf\u00e9", "caf\xe9"},
        {u"\u20ac 5", "\x80 5"},
        {u"\u2014dash\u2122",
         "\x97"
         "dash\x99"},
        {u"\u4e2d", "?"},
        {u"\U0001F600", "?"},  // one code point, one replacement
        {u"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Utf16ToAnsi(c.text), c.ansi);
    }
    EXPECT_EQ(AnsiToUtf16("\x80\xe9\x81"), u"\u20ac\u00e9\u0081");
}

TEST(Utf8Conversion, RoundTripsAndRepairsBadBytes) {
    const u16 samples[] = {u"", u"abc", u"caf\u00e9", u"\u4e2d\u6587", u"\U0001F600x"};
    for (const u16& s : samples) {
        EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(s)), s);
    }
    EXPECT_EQ(Utf8ToUtf16("a\xff"
                          "b"),
              u"a\uFFFDb");
    // Broken sequences never swallow the valid character after them.
    for (const char* broken : {"\xe4\xb8z", "\xc0\xafz", "\xed\xa0\x80z", "\xf4\x90\x80\x80z"}) {
        u16 decoded = Utf8ToUtf16(broken);
        ASSERT_GE(decoded.size(), 2u) << broken;
        EXPECT_EQ(decoded.front(), u'\uFFFD') << broken;
        EXPECT_EQ(decoded.back(), u'z') << broken;
    }
    EXPECT_EQ(Utf16ToUtf8(u"\xD800x"), "\xef\xbf\xbdx");  // lone surrogate
}

TEST(FormatW, FollowsPrintf) {
    EXPECT_EQ(FormatW(u"%s: %d", u"Error", 42), u"Error: 42");
    EXPECT_EQ(FormatW(u"[%.19s]", u"Tue Dec  8 12:44:13 2026"), u"[Tue Dec  8 12:44:13]");
    EXPECT_EQ(FormatW(u"%ls/%s", u"a", std::string("b")), u"a/b");
    EXPECT_EQ(FormatW(u"%5s|%-3s|", u"ab", u"c"), u"   ab|c  |");
    EXPECT_EQ(FormatW(u"%02X%u%%", 10, 7u), u"0A7%");
    EXPECT_EQ(FormatW(u"%d", -1), u"-1");
    EXPECT_EQ(FormatW(u"%c:", u'E'), u"E:");
    EXPECT_EQ(FormatW(u"%s and %s", u"one"), u"one and %s");  // missing argument kept
    EXPECT_EQ(FormatA("%s=%d", "x", 3), "x=3");
    EXPECT_EQ(FormatW(u"%300d", 7).size(), 300u);  // no fixed buffer behind a number
}

}  // namespace
}  // namespace flintmere
