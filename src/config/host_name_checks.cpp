#include "config/host_name_checks.h"

#include "config/pattern_matcher.h"

namespace flintmere {

namespace {

constexpr std::size_t kMaxLabelLength = 63;

// Length of group 0 of the last match, or 0 when it took no part.
std::size_t GroupLength(const MatchContext& ctx) {
    const std::size_t from = ctx.GroupStart(0);
    const std::size_t to = ctx.GroupEnd(0);
    if (from == MatchContext::kNoPosition || to == MatchContext::kNoPosition || to < from) {
        return 0;
    }
    return to - from;
}

}  // namespace

bool IsValidHostLabel(u16view label) {
    // No label longer than 63 can pass the steps below; refusing it here also
    // spares the backtracking matcher from very long texts.
    if (label.size() > kMaxLabelLength) return false;

    PatternMatcher matcher;
    MatchContext ctx;
    // Begins with a letter, or begins with a digit and ends with a letter.
    if (matcher.Parse(kHostLabelPattern1, true) == PatternOk && matcher.Match(label, ctx)) {
        const std::size_t length = GroupLength(ctx);
        if (length >= 1 && length <= kMaxLabelLength) return true;
    }
    // Begins and ends with a digit ...
    if (matcher.Parse(kHostLabelPattern2, true) != PatternOk || !matcher.Match(label, ctx)) {
        return false;
    }
    if (ctx.GroupEnd(0) != label.size() || GroupLength(ctx) > kMaxLabelLength) return false;
    // ... and is not all digits.
    if (matcher.Parse(kHostLabelPattern3, true) != PatternOk || !matcher.Match(label, ctx)) {
        return false;
    }
    const std::size_t length = GroupLength(ctx);
    return length >= 1 && length <= kMaxLabelLength;
}

bool IsValidDomainName(u16view name) {
    if (name.find(u"..") != u16view::npos) return false;
    if (name.empty() || name.back() == u'.') return false;
    std::size_t at = 0;
    while (at < name.size()) {
        if (name[at] == u'.') {  // leading dots are skipped
            ++at;
            continue;
        }
        std::size_t next = name.find(u'.', at);
        if (next == u16view::npos) next = name.size();
        const u16view label = name.substr(at, next - at);
        if (label.size() > kMaxLabelLength || !IsValidHostLabel(label)) return false;
        at = next;
    }
    return true;
}

}  // namespace flintmere
