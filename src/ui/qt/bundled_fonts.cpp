#include "ui/qt/bundled_fonts.h"

#include <fontconfig/fontconfig.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

namespace flintmere::ui::qt {

bool MachineHasFonts() {
    // A configuration of its own, so the one Qt makes later is untouched;
    // loaded without complaint, since a bare machine has none to load.
    const std::unique_ptr<FcConfig, decltype(&FcConfigDestroy)> config(FcConfigCreate(),
                                                                       FcConfigDestroy);
    if (!config || !FcConfigParseAndLoad(config.get(), nullptr, FcFalse)) return false;
    if (!FcConfigBuildFonts(config.get())) return false;
    const FcFontSet* fonts = FcConfigGetFonts(config.get(), FcSetSystem);
    return fonts != nullptr && fonts->nfont > 0;
}

std::string UseBundledFontsWhenNone(const std::string& folder) {
    if (std::getenv("FONTCONFIG_FILE") != nullptr) return {};
    const std::string file = folder + "/fonts/fonts.conf";
    if (::access(file.c_str(), R_OK) != 0 || MachineHasFonts()) return {};
    ::setenv("FONTCONFIG_FILE", file.c_str(), 1);
    return file;
}

}  // namespace flintmere::ui::qt
