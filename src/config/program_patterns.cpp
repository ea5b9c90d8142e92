#include "config/pattern_matcher.h"

namespace flintmere {

// Letters, digits, the listed punctuation, the space and ™ © ä Ä ü Ü ö Ö € µ ß.
const char16_t kBrandingTextPattern[] =
    u"[^a-zA-Z0-9!@#%&()_\\-\\+\\{\\}|:;'?/=,\\^\\$\\.\\*\\[\\]"
    u"\u2122\u00A9\u00E4\u00C4\u00FC\u00DC\u00F6\u00D6\u20AC\u00B5\u00DF ]";

const char16_t kHostLabelPattern1[] =
    u"^{([a-zA-Z]+)|([a-zA-Z]+[a-zA-Z0-9\\-]*[a-zA-Z0-9]+)|([0-9]+[a-zA-Z0-9\\-]*[a-zA-Z]+)}$";

const char16_t kHostLabelPattern2[] = u"^{([0-9]+[a-zA-Z0-9\\-]*[0-9]+)}";

const char16_t kHostLabelPattern3[] = u"^{([0-9]+[a-zA-Z\\-]+[0-9]+)}";

const char16_t kInstallImagePattern[] =
    u"^image_zev-[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+-[0-9]+\\.{[a-z]+}$";

}  // namespace flintmere
