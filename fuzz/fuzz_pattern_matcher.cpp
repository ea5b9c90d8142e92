// Input: one flag byte (bit 0: case-sensitive), then UTF-16LE code units; the
// first NUL unit separates the pattern from the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "config/address_checks.h"
#include "config/host_name_checks.h"
#include "config/pattern_matcher.h"

namespace {

constexpr std::size_t kMaxInput = 4096;
constexpr std::uint64_t kMaxSteps = 200000;

void Require(bool condition) {
    if (!condition) std::abort();
}

void CheckGroup(const flintmere::MatchContext& ctx, int g, std::size_t size) {
    const std::size_t none = flintmere::MatchContext::kNoPosition;
    const std::size_t from = ctx.GroupStart(g);
    const std::size_t to = ctx.GroupEnd(g);
    Require((from == none) == (to == none));
    if (from != none) Require(from <= to && to <= size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > kMaxInput) return 0;
    const bool caseSensitive = (data[0] & 1) != 0;
    flintmere::u16 units;
    for (std::size_t i = 1; i + 1 < size; i += 2) {
        units += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    }
    const std::size_t split = units.find(u'\0');
    const flintmere::u16view pattern = flintmere::u16view(units).substr(0, split);
    const flintmere::u16view text = split == flintmere::u16::npos
                                        ? flintmere::u16view()
                                        : flintmere::u16view(units).substr(split + 1);

    flintmere::PatternMatcher matcher;
    const flintmere::PatternParseError error = matcher.Parse(pattern, caseSensitive);
    Require(error >= flintmere::PatternOk && error <= flintmere::PatternMissing);
    Require(matcher.LastError() == error);
    flintmere::MatchContext ctx;
    ctx.SetStepLimit(kMaxSteps);
    const bool matched = matcher.Match(text, ctx);
    Require(error == flintmere::PatternOk || !matched);
    if (matched) {
        Require(ctx.MatchStart() <= ctx.MatchEnd() && ctx.MatchEnd() <= text.size());
        Require(ctx.GroupCount() == matcher.GroupCount());
        for (int g = 0; g < ctx.GroupCount(); ++g) CheckGroup(ctx, g, text.size());
        // The same context gives the same answer again.
        const std::size_t start = ctx.MatchStart();
        const std::size_t end = ctx.MatchEnd();
        Require(matcher.Match(text, ctx) && ctx.MatchStart() == start && ctx.MatchEnd() == end);
    }

    // The checks built on the matcher take any text.
    (void)flintmere::IsValidHostLabel(text);
    (void)flintmere::IsValidDomainName(text);
    (void)flintmere::IsValidHostAddress(text, pattern);
    (void)flintmere::IsValidNetmask(text);
    (void)flintmere::IsValidIPv6PrefixLength(text);
    return 0;
}
