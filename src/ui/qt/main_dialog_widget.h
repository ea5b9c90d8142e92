// The main window's widgets: every control of the setup dialog under its id,
// laid out in its group boxes.
#pragma once

#include "ui/qt/control_dialog.h"

namespace flintmere::ui::qt {

class MainDialogWidget : public ControlDialog {
  public:
    explicit MainDialogWidget(QWidget* parent = nullptr);
};

}  // namespace flintmere::ui::qt
