#include <cstdio>

#include "app/main_window.h"

namespace flintmere {

// Stands in until the window front end exists; a linked front end defines a
// strong RunMainWindow that replaces this one.
__attribute__((weak)) int RunMainWindow(CflintmereApp&) {
    std::fputs("flintmere: the setup window is not built yet\n", stderr);
    return 1;
}

}  // namespace flintmere
