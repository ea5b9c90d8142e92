// The Qt main window for the dialog scenarios: the real widgets on the
// offscreen platform, driven by QtOperator.
#pragma once

#include "support/ui_harness.h"

namespace flintmere::testing {

UiWindow MakeQtWindow(ui::EventSink& sink);

}  // namespace flintmere::testing
