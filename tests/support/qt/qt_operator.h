// The scripted operator at the Qt window: real mouse clicks and key presses
// through QTest, so every event comes from the widgets themselves.
#pragma once

#include "support/ui_operator.h"
#include "ui/qt/qt_surface.h"

namespace flintmere::testing {

class QtOperator final : public ScriptedOperator {
  public:
    explicit QtOperator(ui::qt::QtSurface& surface) : surface_(surface) {}

    void Click(int id) override;
    void Type(int id, const u16& text) override;
    void TypeAddress(int id, const ui::IpFields& fields) override;
    void Leave(int id) override;
    void Choose(int id, int index) override;

  private:
    // Null when the operator cannot reach the control.
    QWidget* Reach(int id);
    // A mouse press on `widget`: it takes the focus as at the real window.
    void Focus(QWidget* widget);

    ui::qt::QtSurface& surface_;
};

}  // namespace flintmere::testing
