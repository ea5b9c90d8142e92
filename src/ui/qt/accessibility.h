// Screen readers and AT-SPI automation: an IP address control exposes its
// address as its value ("" when blank, else "a.b.c.d").
#pragma once

namespace flintmere::ui::qt {

// Installs the accessible interface of our own controls; safe to call again.
void InstallAccessibility();

}  // namespace flintmere::ui::qt
