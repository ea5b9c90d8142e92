// The one Qt application object of a test program, on the offscreen platform
// unless the environment names another.
#pragma once

#include <QApplication>

namespace flintmere::testing {

QApplication& EnsureQtApp();

}  // namespace flintmere::testing
