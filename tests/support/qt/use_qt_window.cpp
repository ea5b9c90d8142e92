// Linked into the *_qt builds of the dialog scenarios: every harness of the
// program runs on the Qt window instead of the in-memory one.
#include "support/qt/qt_window.h"

namespace {

const bool kUsesQtWindow = [] {
    flintmere::testing::SetUiWindowFactory(flintmere::testing::MakeQtWindow);
    return true;
}();

}  // namespace
