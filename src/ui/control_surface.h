// What the dialog logic sees of its window: controls addressed by id. The Qt
// widgets implement it for the operator; MemorySurface implements it for tests.
// Writes through this interface never raise events: only the operator does.
#pragma once

#include <array>

#include "platform/text.h"

namespace flintmere::ui {

enum class ControlEvent { Clicked, LostFocus, SelectionChanged };

// The dialog side: receives the operator's events.
class EventSink {
  public:
    virtual ~EventSink() = default;
    virtual void OnControlEvent(int id, ControlEvent event) = 0;
};

using IpFields = std::array<int, 4>;

class ControlSurface {
  public:
    virtual ~ControlSurface() = default;

    // Check boxes and radios.
    virtual bool IsChecked(int id) const = 0;
    virtual void SetCheck(int id, bool checked) = 0;

    // Any control.
    virtual bool IsEnabled(int id) const = 0;
    virtual void Enable(int id, bool enabled) = 0;
    virtual bool IsShown(int id) const = 0;
    virtual void Show(int id, bool shown) = 0;
    virtual u16 GetText(int id) const = 0;
    // Replaces the whole text (an edit's "select all, replace"); the text
    // limit applies only to what the operator types.
    virtual void SetText(int id, const u16& text) = 0;
    virtual void SetFocus(int id) = 0;

    // Edits: the most characters the operator can type.
    virtual void SetTextLimit(int id, int limit) = 0;
    virtual int TextLimit(int id) const = 0;

    // Drop-down lists. Index -1 is "no selection".
    virtual int ComboAdd(int id, const u16& text) = 0;
    virtual int ComboInsert(int id, int index, const u16& text) = 0;
    virtual void ComboReset(int id) = 0;
    virtual void ComboSelect(int id, int index) = 0;
    virtual int ComboSelection(int id) const = 0;
    virtual int ComboCount(int id) const = 0;
    virtual u16 ComboEntry(int id, int index) const = 0;

    // IP address controls: four fields 0..255; blank fields read as 0.
    virtual IpFields GetAddress(int id) const = 0;
    virtual void SetAddress(int id, const IpFields& fields) = 0;
    virtual void ClearAddress(int id) = 0;
    // True when all four fields are empty.
    virtual bool IsAddressBlank(int id) const = 0;
};

}  // namespace flintmere::ui
