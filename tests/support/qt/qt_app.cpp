#include "support/qt/qt_app.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "ui/qt/accessibility.h"

namespace flintmere::testing {
namespace {

std::unique_ptr<QApplication>& App() {
    static std::unique_ptr<QApplication> app;
    return app;
}

// Qt's objects must go before the program's static objects do.
class QtEnvironment final : public ::testing::Environment {
  public:
    void TearDown() override { App().reset(); }
};

}  // namespace

QApplication& EnsureQtApp() {
    if (!App()) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static int argc = 1;
        static char name[] = "flintmere-test";
        static char* argv[] = {name, nullptr};
        App() = std::make_unique<QApplication>(argc, argv);
        ui::qt::InstallAccessibility();
        // gtest owns its environments.
        ::testing::AddGlobalTestEnvironment(new QtEnvironment);
    }
    return *App();
}

}  // namespace flintmere::testing
