#include "config/pattern_matcher.h"
#include "config/setup_validation.h"

namespace flintmere {

bool CheckBrandingText(u16view label, u16view value, Presenter& boxes) {
    if (value.empty()) {
        boxes.ShowMessage(u16(label) + u" cannot be empty.", kApplicationTitle, kMbSimpleErrorStyle,
                          true);
        return false;
    }
    PatternMatcher matcher;
    // The pattern is fixed; should it ever fail to compile, the text is let through.
    if (matcher.Parse(kBrandingTextPattern, false) != PatternOk) return true;
    MatchContext context;
    if (matcher.Match(value, context)) {
        boxes.ShowMessage(u16(label) + u" contains invalid symbols.", kApplicationTitle,
                          kMbSimpleErrorStyle, true);
        return false;
    }
    return true;
}

}  // namespace flintmere
