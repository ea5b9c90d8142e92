#include "config/pattern_matcher.h"

#include <gtest/gtest.h>

#include <string>

namespace flintmere {
namespace {

constexpr std::size_t kNone = MatchContext::kNoPosition;
constexpr bool CS = true;   // case-sensitive
constexpr bool CI = false;  // case-insensitive

std::string Show(u16view text) {
    std::string out;
    for (char16_t c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            out += FormatA("\\u%04X", static_cast<unsigned>(c));
        }
    }
    return out;
}

struct MatchCase {
    u16 pattern;
    bool caseSensitive;
    u16 input;
    bool matches;
    std::size_t start = kNone;  // checked when matching
    std::size_t end = kNone;
    // Group 0: nullptr = the pattern has no group or it is not checked;
    // u"\x1" = took no part in the match.
    const char16_t* group0 = nullptr;
};

const char16_t* const kUnset = u"\x1";

void Check(const MatchCase& c) {
    SCOPED_TRACE("pattern " + Show(c.pattern) + " on " + Show(c.input));
    PatternMatcher m;
    ASSERT_EQ(m.Parse(c.pattern, c.caseSensitive), PatternOk);
    MatchContext ctx;
    ASSERT_EQ(m.Match(c.input, ctx), c.matches);
    if (!c.matches) return;
    EXPECT_EQ(ctx.MatchStart(), c.start);
    EXPECT_EQ(ctx.MatchEnd(), c.end);
    if (c.group0 == kUnset) {
        EXPECT_EQ(ctx.GroupStart(0), kNone);
        EXPECT_EQ(ctx.GroupEnd(0), kNone);
    } else if (c.group0 != nullptr) {
        EXPECT_EQ(Show(ctx.GroupText(c.input, 0)), Show(c.group0));
    }
}

TEST(PatternMatcher, MatchesAsDescribed) {
    const MatchCase cases[] = {
        // Case folding touches A-Z only, on both sides.
        {u"[^a-z]", CI, u"ABC", false},
        {u"[^a-z]", CI, u"A1", true, 1, 2},
        {u"{B+}", CI, u"aBbB", true, 1, 4, u"BbB"},
        {u"\u00C4", CI, u"\u00E4", false},
        {u"[A-Z]+", CS, u"abcD", true, 3, 4},
        // '|' joins single atoms.
        {u"ab|cd", CS, u"acd", true, 0, 3},
        {u"ab|cd", CS, u"abd", true, 0, 3},
        {u"ab|cd", CS, u"ab", false},
        {u"(ab)|(cd)", CS, u"ab", true, 0, 2},
        {u"(ab)|(cd)", CS, u"xcd", true, 1, 3},
        {u"a|b|c", CS, u"c", true, 0, 1},
        {u"x|", CS, u"y", true, 0, 0},
        // Greedy and lazy.
        {u"^{a+}", CS, u"aaab", true, 0, 3, u"aaa"},
        {u"^{a+?}", CS, u"aaab", true, 0, 1, u"a"},
        {u"^{a*?}b", CS, u"aaab", true, 0, 4, u"aaa"},
        {u"^{a?}a", CS, u"aa", true, 0, 2, u"a"},
        {u"^{a??}a", CS, u"aa", true, 0, 1, u""},
        {u"^{a*}", CS, u"bbb", true, 0, 0, u""},
        {u"^{(ab)+}", CS, u"ababa", true, 0, 4, u"abab"},
        {u"^{(ab)+?}", CS, u"ababa", true, 0, 2, u"ab"},
        {u"^{(ab)*?}a$", CS, u"ababa", true, 0, 5, u"abab"},
        {u"^{.*}b", CS, u"abab", true, 0, 4, u"aba"},
        {u"^{.*?}b", CS, u"abab", true, 0, 2, u"a"},
        // Anchors.
        {u"{x}$", CS, u"yx", true, 1, 2, u"x"},
        {u"^x", CS, u"yx", false},
        {u"^$", CS, u"", true, 0, 0},
        {u"a*", CS, u"", true, 0, 0},
        {u"$", CS, u"abc", false},  // the empty position after the end is not tried
        {u"a$b", CS, u"a$b", true, 0, 3},
        {u"a^", CS, u"a^", true, 0, 2},
        // Literals at the start of an atom, unmatched closers, lone backslash.
        {u"*a", CS, u"x*a", true, 1, 3},
        {u"|a", CS, u"x|a", true, 1, 3},
        {u"a**", CS, u"aa*", true, 0, 3},
        {u"ab)cd", CS, u"abx", true, 0, 2},
        {u"ab]", CS, u"ab", true, 0, 2},
        {u"a\\", CS, u"a\\", true, 0, 2},
        {u"\\{\\}\\.\\+", CS, u"{}.+", true, 0, 4},
        {u"a.", CS, u"a", false},
        {u"!", CS, u"a!", true, 1, 2},
        // Abbreviations.
        {u"\\d+", CS, u"abc2024", true, 3, 7},
        {u"\\q", CS, u"say \"hi\" now", true, 4, 8},
        {u"\\q", CS, u"say 'hi' now", false},
        {u"\\a", CS, u"-x", true, 1, 2},
        {u"\\b", CS, u"x\ty", true, 1, 2},
        {u"\\c", CS, u"1x", true, 1, 2},
        {u"\\h+", CS, u"xyzF0", true, 3, 5},
        {u"\\w", CS, u"12ab3", true, 2, 4},
        {u"\\z", CS, u"ab123c", true, 2, 5},
        {u"\\n", CS, u"a\r\nb", true, 1, 2},  // CR alone is tried first
        {u"a\\nb", CS, u"a\r\nb", true, 0, 4},
        {u"a\\nb", CS, u"a\nb", true, 0, 3},
        {u"\\D", CI, u"x5", true, 1, 2},    // lower-cased to \d
        {u"\\t", CS, u"x\tt", true, 2, 3},  // outside a class, t is itself
        // Classes.
        {u"[\\t]", CS, u"a\tb", true, 1, 2},
        {u"[\\]]", CS, u"a]", true, 1, 2},
        {u"[\\-a]+", CS, u"x-a-", true, 1, 4},
        {u"[-a]", CS, u"-", true, 0, 1},
        {u"[^a]", CS, u"", false},
        {u"[\u00E4-\u00F6]", CS, u"x\u00E9", true, 1, 2},
        // Back-references, also case-insensitive.
        {u"{a+}b\\0$", CS, u"aaba", true, 1, 4, u"a"},
        {u"{a}\\0", CI, u"aA", true, 0, 2},
        {u"{a}\\0", CS, u"aA", false},
        {u"{a}?b\\0c", CS, u"bc", true, 0, 2, kUnset},
        // Negation.
        {u"^!a.", CS, u"ba", true, 0, 1},
        {u"^!a.", CS, u"ab", false},
        {u"^{(!x.)+}", CS, u"abxc", true, 0, 2, u"ab"},
        {u"a!$", CS, u"ab", true, 0, 1},
        {u"a!$", CS, u"a", false},
        // Captures of a failed alternative are undone.
        {u"({ab}c)|({a}bd)", CS, u"abd", true, 0, 3, kUnset},
        {u"{(ab)|(ac)}", CS, u"ac", true, 0, 2, u"ac"},
        {u"^(!{a}b)|({.}c)", CS, u"ac", true, 0, 2, kUnset},
        // Code units: a NUL in the input is ordinary, a surrogate pair is two.
        {u16(u"a.b"), CS, u16(u"a\0b", 3), true, 0, 3},
        {u"^..$", CS, u"\U0001F600", true, 0, 2},
        {u"\u00E4+", CS, u"x\u00E4\u00E4", true, 1, 3},
    };
    for (const MatchCase& c : cases) Check(c);
}

TEST(PatternMatcher, SecondCaptureIsReported) {
    PatternMatcher m;
    ASSERT_EQ(m.Parse(u"({ab}c)|({a}bd)", true), PatternOk);
    EXPECT_EQ(m.GroupCount(), 2);
    MatchContext ctx;
    ASSERT_TRUE(m.Match(u"abd", ctx));
    EXPECT_EQ(ctx.GroupCount(), 2);
    EXPECT_EQ(ctx.GroupStart(1), 0u);
    EXPECT_EQ(ctx.GroupEnd(1), 1u);
    EXPECT_EQ(ctx.GroupStart(2), kNone);  // out of range
    EXPECT_EQ(ctx.GroupText(u"abd", -1), u"");
}

struct ErrorCase {
    u16 pattern;
    bool caseSensitive;
    PatternParseError error;
};

TEST(PatternMatcher, MalformedPatternsGiveTheirCodes) {
    const ErrorCase cases[] = {
        {u"(a*)*", CS, PatternEmptyLoop},
        {u"(a?)+", CS, PatternEmptyLoop},
        {u"{}*", CS, PatternEmptyLoop},
        {u"!a*", CS, PatternEmptyLoop},
        {u"(a|)+?", CS, PatternEmptyLoop},
        {u"[]", CS, PatternEmptyClass},
        {u"[^]", CS, PatternEmptyClass},
        {u"[b-a]", CS, PatternBadRange},
        {u"[Z-a]", CI, PatternBadRange},  // lower-cased before parsing
        {u"\\1{a}", CS, PatternUnknownGroup},
        {u"\\0", CS, PatternUnknownGroup},
        {u"{a}\\99999999999999999999", CS, PatternUnknownGroup},
        {u"{a", CS, PatternBraceExpected},
        {u"{a)", CS, PatternBraceExpected},
        {u"(a", CS, PatternParenthesisExpected},
        {u"(a}", CS, PatternParenthesisExpected},
        {u"[a", CS, PatternBracketExpected},
        {u"[a-]", CS, PatternBracketExpected},
        {u"[a-", CS, PatternBracketExpected},
        {u"[\\", CS, PatternBracketExpected},
        {u"[^", CS, PatternBracketExpected},
        {u"", CS, PatternMissing},
        {u16(u"\0a", 2), CS, PatternMissing},  // the pattern ends at its NUL
        // Accepted.
        {u"[Z-a]", CS, PatternOk},
        {u"{a\\0}", CS, PatternOk},
        {u"{a}\\0+", CS, PatternOk},
        {u"x|+", CS, PatternOk},
        {u"(a?)?", CS, PatternOk},
        {u"^", CS, PatternOk},
    };
    for (const ErrorCase& c : cases) {
        PatternMatcher m;
        EXPECT_EQ(m.Parse(c.pattern, c.caseSensitive), c.error) << Show(c.pattern);
        EXPECT_EQ(m.LastError(), c.error) << Show(c.pattern);
        MatchContext ctx;
        if (c.error != PatternOk) {
            EXPECT_FALSE(m.Match(u"a", ctx)) << Show(c.pattern);
        }
    }
}

TEST(PatternMatcher, ParseDiscardsTheEarlierPattern) {
    PatternMatcher m;
    MatchContext ctx;
    EXPECT_FALSE(m.Match(u"a", ctx));  // nothing compiled yet
    ASSERT_EQ(m.Parse(u"{a}", true), PatternOk);
    ASSERT_TRUE(m.Match(u"a", ctx));
    EXPECT_EQ(m.Parse(u"(a", true), PatternParenthesisExpected);
    EXPECT_FALSE(m.Match(u"a", ctx));
    EXPECT_EQ(ctx.MatchStart(), kNone);
    ASSERT_EQ(m.Parse(u"b", true), PatternOk);
    EXPECT_EQ(m.GroupCount(), 0);
    EXPECT_FALSE(m.Match(u"a", ctx));
    EXPECT_TRUE(m.Match(u"ab", ctx));
}

TEST(PatternMatcher, NestingIsBounded) {
    const int limit = PatternMatcher::kMaxNesting;
    struct Nest {
        char16_t open, close;
    };
    for (Nest n : {Nest{u'(', u')'}, Nest{u'{', u'}'}}) {
        PatternMatcher m;
        u16 ok = u16(limit, n.open) + u"a" + u16(limit, n.close);
        EXPECT_EQ(m.Parse(ok, true), PatternOk);
        MatchContext ctx;
        EXPECT_TRUE(m.Match(u"xa", ctx));
        u16 deep = u16(limit + 1, n.open) + u"a" + u16(limit + 1, n.close);
        EXPECT_EQ(m.Parse(deep, true), PatternOutOfMemory);
        u16 huge = u16(100000, n.open) + u"a" + u16(100000, n.close);
        EXPECT_EQ(m.Parse(huge, true), PatternOutOfMemory);
    }
    PatternMatcher m;
    EXPECT_EQ(m.Parse(u16(100000, u'!') + u"a", true), PatternOutOfMemory);
    EXPECT_EQ(m.Parse(u16(100000, u'(') + u"a", true), PatternOutOfMemory);
}

TEST(PatternMatcher, LongPatternsAndInputsNeedNoDeepStack) {
    PatternMatcher m;
    MatchContext ctx;
    const u16 as(100000, u'a');

    u16 chain = u"^{";
    for (int i = 0; i < 50000; ++i) chain += u"b|";
    chain += u"a}";
    ASSERT_EQ(m.Parse(chain, true), PatternOk);
    EXPECT_TRUE(m.Match(u"ax", ctx));
    EXPECT_EQ(ctx.GroupText(u"ax", 0), u"a");

    ASSERT_EQ(m.Parse(u"^{a*}$", true), PatternOk);
    ASSERT_TRUE(m.Match(as, ctx));
    EXPECT_EQ(ctx.GroupEnd(0), as.size());

    ASSERT_EQ(m.Parse(u"^{(a|b)*?}c", true), PatternOk);
    ASSERT_TRUE(m.Match(as + u"c", ctx));
    EXPECT_EQ(ctx.GroupEnd(0), as.size());

    ASSERT_EQ(m.Parse(u"^{(a|b)+}c", true), PatternOk);
    EXPECT_FALSE(m.Match(as, ctx));

    ASSERT_EQ(m.Parse(u"[^a-z]", false), PatternOk);
    EXPECT_FALSE(m.Match(as + u"A", ctx));
    EXPECT_TRUE(m.Match(as + u"\u00E9", ctx));
    EXPECT_EQ(ctx.MatchStart(), as.size());

    ASSERT_EQ(m.Parse(as, true), PatternOk);  // a pattern of 100,000 literals
    EXPECT_TRUE(m.Match(u"b" + as, ctx));
    EXPECT_EQ(ctx.MatchStart(), 1u);
}

TEST(PatternMatcher, StepLimitStopsRunawayBacktracking) {
    PatternMatcher m;
    ASSERT_EQ(m.Parse(u"^(a+)+b", true), PatternOk);
    MatchContext ctx;
    ctx.SetStepLimit(100000);
    EXPECT_FALSE(m.Match(u16(40, u'a'), ctx));
    EXPECT_TRUE(ctx.StepLimitReached());
    EXPECT_TRUE(m.Match(u"aaab", ctx));
    EXPECT_FALSE(ctx.StepLimitReached());
    ctx.SetStepLimit(0);
    EXPECT_FALSE(m.Match(u16(8, u'a'), ctx));
    EXPECT_FALSE(ctx.StepLimitReached());
}

TEST(ProgramPatterns, BrandingText) {
    PatternMatcher m;
    ASSERT_EQ(m.Parse(kBrandingTextPattern, false), PatternOk);
    MatchContext ctx;
    const struct {
        const char16_t* text;
        bool bad;
    } cases[] = {
        {u"Corvane Systems GmbH & Co. (R)", false},
        {u"SBC-5000 #1 @home 100%_ok!", false},
        {u"a+b={x}|y:z;'q'?/,^$.*[]", false},
        {u"\u2122\u00A9\u00E4\u00C4\u00FC\u00DC\u00F6\u00D6\u20AC\u00B5\u00DF", false},
        {u"", false},
        {u"Firma<", true},
        {u"tab\there", true},
        {u"caf\u00E9", true},
        {u"back\\slash", true},
        {u"\"quoted\"", true},
        {u"a~b", true},
        {u"\U0001F600", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(m.Match(c.text, ctx), c.bad) << Show(c.text);
    }
    ASSERT_TRUE(m.Match(u"Name<x>", ctx));
    EXPECT_EQ(ctx.MatchStart(), 4u);
}

TEST(ProgramPatterns, InstallImageName) {
    PatternMatcher m;
    ASSERT_EQ(m.Parse(kInstallImagePattern, true), PatternOk);
    MatchContext ctx;
    const struct {
        const char16_t* name;
        const char16_t* group;  // nullptr: no match
    } cases[] = {
        {u"image_zev-1.2.3.4-5.tar", u"tar"},   {u"image_zev-10.20.30.40-123.tgz", u"tgz"},
        {u"image_zev-1.2.3-5.tar", nullptr},    {u"image_zev-1.2.3.4-5.TAR", nullptr},
        {u"ximage_zev-1.2.3.4-5.tar", nullptr}, {u"image_zev-1.2.3.4-5.tar.gz", nullptr},
        {u"image_zev-1.2.3.4.tar", nullptr},    {u"image_zev-a.2.3.4-5.tar", nullptr},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(m.Match(c.name, ctx), c.group != nullptr) << Show(c.name);
        if (c.group) {
            EXPECT_EQ(ctx.GroupText(c.name, 0), c.group);
        }
    }
}

TEST(ProgramPatterns, HostLabels) {
    const struct {
        const char16_t* pattern;
        const char16_t* label;
        const char16_t* group;  // nullptr: no match
    } cases[] = {
        {kHostLabelPattern1, u"abc", u"abc"},      {kHostLabelPattern1, u"a-1", u"a-1"},
        {kHostLabelPattern1, u"1-a", u"1-a"},      {kHostLabelPattern1, u"a-", nullptr},
        {kHostLabelPattern1, u"12", nullptr},      {kHostLabelPattern2, u"1a2x3!", u"1a2x3"},
        {kHostLabelPattern2, u"12-34x", u"12-34"}, {kHostLabelPattern2, u"a1", nullptr},
        {kHostLabelPattern3, u"1ab2cd", u"1ab2"},  {kHostLabelPattern3, u"123", nullptr},
    };
    for (const auto& c : cases) {
        PatternMatcher m;
        ASSERT_EQ(m.Parse(c.pattern, true), PatternOk);
        MatchContext ctx;
        ASSERT_EQ(m.Match(c.label, ctx), c.group != nullptr) << Show(c.label);
        if (c.group) {
            EXPECT_EQ(ctx.GroupText(c.label, 0), c.group);
        }
    }
}

}  // namespace
}  // namespace flintmere
