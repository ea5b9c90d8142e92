#include "support/memory_operator.h"

namespace flintmere::testing {

using ui::ControlEvent;
using ui::ControlKind;

const ui::MemoryControl* MemoryOperator::Reach(int id, ControlKind kind) {
    const ui::MemoryControl* control = surface_.Find(id);
    bool reachable = control && control->enabled && control->shown;
    if (reachable) {
        if (kind == ControlKind::Button) {
            reachable = control->kind == ControlKind::Button ||
                        control->kind == ControlKind::Check || control->kind == ControlKind::Radio;
        } else {
            reachable = control->kind == kind;
        }
    }
    if (reachable && kind == ControlKind::Edit && control->readOnly) reachable = false;
    if (!reachable) {
        ++refused_;
        return nullptr;
    }
    return control;
}

void MemoryOperator::MoveFocus(int id) {
    const int previous = surface_.Focus();
    surface_.SetFocus(id);
    if (previous != 0 && previous != id) sink_.OnControlEvent(previous, ControlEvent::LostFocus);
}

void MemoryOperator::Click(int id) {
    const ui::MemoryControl* control = Reach(id, ControlKind::Button);
    if (!control) return;
    MoveFocus(id);
    // The lost-focus handler may have changed the control.
    control = surface_.Find(id);
    if (!control->enabled || !control->shown) return;
    if (control->kind == ControlKind::Check) {
        surface_.SetCheck(id, !control->checked);
    } else if (control->kind == ControlKind::Radio) {
        for (int other : surface_.Ids()) {
            const ui::MemoryControl* c = surface_.Find(other);
            if (c->kind == ControlKind::Radio && c->radioGroup == control->radioGroup) {
                surface_.SetCheck(other, other == id);
            }
        }
    }
    sink_.OnControlEvent(id, ControlEvent::Clicked);
}

void MemoryOperator::Type(int id, const u16& text) {
    const ui::MemoryControl* control = Reach(id, ControlKind::Edit);
    if (!control) return;
    MoveFocus(id);
    const std::size_t limit = control->limit > 0 ? static_cast<std::size_t>(control->limit) : 0;
    surface_.SetText(id, text.size() > limit ? text.substr(0, limit) : text);
}

void MemoryOperator::TypeAddress(int id, const ui::IpFields& fields) {
    if (!Reach(id, ControlKind::Ip)) return;
    MoveFocus(id);
    surface_.SetAddressFields(id, fields);
}

void MemoryOperator::Leave(int id) {
    if (surface_.Focus() != id) {
        ++refused_;
        return;
    }
    surface_.SetFocus(0);
    sink_.OnControlEvent(id, ControlEvent::LostFocus);
}

void MemoryOperator::Choose(int id, int index) {
    const ui::MemoryControl* control = Reach(id, ControlKind::Combo);
    if (!control) return;
    if (index < 0 || index >= static_cast<int>(control->entries.size())) {
        ++refused_;
        return;
    }
    MoveFocus(id);
    surface_.ComboSelect(id, index);
    sink_.OnControlEvent(id, ControlEvent::SelectionChanged);
}

}  // namespace flintmere::testing
