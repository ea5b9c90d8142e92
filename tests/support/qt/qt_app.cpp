#include "support/qt/qt_app.h"

#include <cstdlib>
#include <memory>

#include "ui/qt/accessibility.h"

namespace flintmere::testing {

QApplication& EnsureQtApp() {
    static std::unique_ptr<QApplication> app = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static int argc = 1;
        static char name[] = "flintmere-test";
        static char* argv[] = {name, nullptr};
        auto made = std::make_unique<QApplication>(argc, argv);
        ui::qt::InstallAccessibility();
        return made;
    }();
    return *app;
}

}  // namespace flintmere::testing
