// Compiled form of a pattern and the state of one match; shared by the parser
// and the interpreter only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "config/pattern_matcher.h"

namespace flintmere {

enum class OpKind : std::uint8_t {
    Nop,
    Symbol,  // operand: code unit; 0 tests for the end of the input
    Any,
    Class,         // operand: index after the range list
    NegatedClass,  // operand: index after the range list
    Range,         // one (from, to) pair of a class: from << 16 | to
    Jump,
    Call,
    Return,
    PushPosition,
    PopPosition,
    PushMemory,
    PopMemory,
    StorePosition,
    LoadPosition,
    StoreStackDepth,
    LoadStackDepth,
    FailIfNoProgress,
    BackReference,
    GroupStart,
    GroupEnd,
    PushGroup,
    PopGroup,
    Fail,
    Advance,
    Match,
};

struct Instruction {
    OpKind kind;
    std::uint32_t operand;
};

struct PatternMatcher::Program {
    std::vector<Instruction> code;
    int groupCount = 0;
    std::uint32_t slotCount = 0;
    bool caseSensitive = true;
    bool compiled = false;
    PatternParseError lastError = PatternMissing;
};

struct MatchContext::State {
    std::size_t matchStart = kNoPosition;
    std::size_t matchEnd = kNoPosition;
    std::vector<std::pair<std::size_t, std::size_t>> groups;
    std::vector<std::size_t> slots;
    std::vector<std::size_t> stack;
    std::size_t initialStack = 256;
    std::uint64_t stepLimit = 0;
    bool stepLimitReached = false;
};

// The C library's wide lower-casing in the C locale: A to Z only.
inline char16_t LowerAZ(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + (u'a' - u'A')) : c;
}

}  // namespace flintmere
