// The program's own regular-expression engine: braces capture, parentheses
// only group, and \a \b \c \d \h \n \q \w \z stand for fixed sub-patterns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/text.h"

namespace flintmere {

enum PatternParseError : int {
    PatternOk = 0,
    PatternOutOfMemory = 1,
    PatternBraceExpected = 2,
    PatternParenthesisExpected = 3,
    PatternBracketExpected = 4,
    PatternAbbreviationFailed = 5,
    PatternEmptyClass = 6,
    PatternUnknownGroup = 7,
    PatternBadRange = 8,
    PatternEmptyLoop = 9,
    PatternMissing = 10,
};

// Results of one match; reusable for further matches.
class MatchContext {
  public:
    static constexpr std::size_t kNoPosition = static_cast<std::size_t>(-1);
    explicit MatchContext(std::size_t initialStackEntries = 256);

    std::size_t MatchStart() const;
    std::size_t MatchEnd() const;
    int GroupCount() const;
    // Start and end of group `index` in the caller's input; kNoPosition when
    // the group took no part in the match.
    std::size_t GroupStart(int index) const;
    std::size_t GroupEnd(int index) const;
    // The text group `index` captured from `input` (empty when it took no part).
    u16 GroupText(u16view input, int index) const;

    // Backtracking can take exponential time on some patterns. With a limit
    // set (0 = none, the default), Match gives up after that many steps and
    // reports no match; StepLimitReached() then tells why.
    void SetStepLimit(std::uint64_t steps);
    bool StepLimitReached() const;

    // Implementation state; see pattern_internal.h.
    struct State;
    State& state() { return *state_; }
    const State& state() const { return *state_; }
    ~MatchContext();
    MatchContext(MatchContext&&) noexcept;
    MatchContext& operator=(MatchContext&&) noexcept;

  private:
    std::unique_ptr<State> state_;
};

class PatternMatcher {
  public:
    PatternMatcher();
    ~PatternMatcher();
    PatternMatcher(PatternMatcher&&) noexcept;
    PatternMatcher& operator=(PatternMatcher&&) noexcept;

    // Groups, negations and abbreviations nest at most this deep; a deeper
    // pattern is refused with PatternOutOfMemory rather than risk the stack.
    static constexpr int kMaxNesting = 100;

    // Compiles `pattern`, discarding any earlier compiled form. The pattern
    // ends at its first NUL; an empty pattern gives PatternMissing.
    PatternParseError Parse(u16view pattern, bool caseSensitive);
    // True when the pattern matches somewhere in `input` (at its start for a
    // pattern that begins with '^'); fills `context`. The input ends at its
    // size; a NUL inside it is an ordinary code unit. False after a failed Parse.
    bool Match(u16view input, MatchContext& context) const;
    int GroupCount() const;
    PatternParseError LastError() const;

    struct Program;

  private:
    std::unique_ptr<Program> program_;
};

// The patterns the program uses.
extern const char16_t kBrandingTextPattern[];  // case-insensitive; a match is a bad character
extern const char16_t kHostLabelPattern1[];
extern const char16_t kHostLabelPattern2[];
extern const char16_t kHostLabelPattern3[];
extern const char16_t kInstallImagePattern[];  // group 0 must be "tar"

}  // namespace flintmere
