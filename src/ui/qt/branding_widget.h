// The branding dialog's widgets: company name, product name, TLA text and
// the logo picture file with its Browse button.
#pragma once

#include "ui/qt/control_dialog.h"

namespace flintmere::ui::qt {

class BrandingWidget : public ControlDialog {
  public:
    explicit BrandingWidget(QWidget* parent);
};

}  // namespace flintmere::ui::qt
