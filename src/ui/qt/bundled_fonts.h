// The fonts of a portable folder: a machine without any font would draw
// every text of the window as an empty box, so there the window uses the
// folder's own (fonts/fonts.conf beside the program).
#pragma once

#include <string>

namespace flintmere::ui::qt {

// True when fontconfig, as this machine configures it, finds a font.
bool MachineHasFonts();

// Before the Qt application exists: points fontconfig at `folder`/fonts
// when the machine has no font, the folder has its own and the operator
// chose no configuration. Returns the configuration taken, or empty.
std::string UseBundledFontsWhenNone(const std::string& folder);

}  // namespace flintmere::ui::qt
