// The scripted operator on the in-memory window: it changes the controls as
// a person at the real window would and raises the events that window raises.
#pragma once

#include "support/memory_surface.h"
#include "support/ui_operator.h"

namespace flintmere::testing {

class MemoryOperator final : public ScriptedOperator {
  public:
    MemoryOperator(ui::MemorySurface& surface, ui::EventSink& sink)
        : surface_(surface), sink_(sink) {}

    // Every action first moves the focus to its control; the control that
    // had it gets its lost-focus event then, as at the real window.
    void Click(int id) override;
    void Type(int id, const u16& text) override;
    void TypeAddress(int id, const ui::IpFields& fields) override;
    void Leave(int id) override;
    void Choose(int id, int index) override;

  private:
    // Null when the operator cannot reach the control.
    const ui::MemoryControl* Reach(int id, ui::ControlKind kind);
    void MoveFocus(int id);

    ui::MemorySurface& surface_;
    ui::EventSink& sink_;
};

}  // namespace flintmere::testing
