// A window without a toolkit: every control's state kept in memory. The
// dialog logic runs on it in tests and in scripted runs; Dump() prints the
// whole state as a table for a failing check.
#pragma once

#include <array>
#include <map>
#include <string>
#include <vector>

#include "ui/control_surface.h"

namespace flintmere::ui {

enum class ControlKind { Button, Check, Radio, Edit, Combo, Ip, Static, Group };

const char* ControlKindName(ControlKind kind);

// What an edit takes before any limit is set.
constexpr int kDefaultTextLimit = 32767;

struct MemoryControl {
    ControlKind kind = ControlKind::Static;
    // The control's caption, or for an edit, list or address the label next to it.
    u16 label;
    int radioGroup = 0;  // radios of one group exclude each other
    bool readOnly = false;
    bool checked = false;
    bool enabled = true;
    bool shown = true;
    u16 text;
    int limit = kDefaultTextLimit;
    std::vector<u16> entries;
    int selection = -1;
    std::array<int, 4> fields{};     // IP address fields
    std::array<bool, 4> fieldSet{};  // false: the field is empty
};

class MemorySurface final : public ControlSurface {
  public:
    // Registers a control; it starts enabled and shown, with no text.
    void Add(int id, ControlKind kind, const u16& label = {}, int radioGroup = 0,
             bool readOnly = false);
    bool Has(int id) const;
    // The registered control, or null.
    const MemoryControl* Find(int id) const;
    std::vector<int> Ids() const;
    int Focus() const { return focus_; }

    // Operator-side writes (the scripted operator types through these).
    // An IP address field of -1 stays empty; larger values become 255.
    void SetAddressFields(int id, const std::array<int, 4>& fields);

    // Ids the logic addressed that no control has, in the order used; a
    // check in the test harness turns them into failures.
    const std::vector<int>& UnknownIds() const { return unknown_; }

    // One line per control: id, kind, E/S/C flags, text or entries, limit,
    // selection, address, and which control has the focus.
    std::string Dump() const;

    bool IsChecked(int id) const override;
    void SetCheck(int id, bool checked) override;
    bool IsEnabled(int id) const override;
    void Enable(int id, bool enabled) override;
    bool IsShown(int id) const override;
    void Show(int id, bool shown) override;
    u16 GetText(int id) const override;
    void SetText(int id, const u16& text) override;
    void SetFocus(int id) override;
    void SetTextLimit(int id, int limit) override;
    int TextLimit(int id) const override;
    int ComboAdd(int id, const u16& text) override;
    int ComboInsert(int id, int index, const u16& text) override;
    void ComboReset(int id) override;
    void ComboSelect(int id, int index) override;
    int ComboSelection(int id) const override;
    int ComboCount(int id) const override;
    u16 ComboEntry(int id, int index) const override;
    IpFields GetAddress(int id) const override;
    void SetAddress(int id, const IpFields& fields) override;
    void ClearAddress(int id) override;
    bool IsAddressBlank(int id) const override;

  private:
    MemoryControl* Get(int id);
    const MemoryControl* Get(int id) const;

    std::map<int, MemoryControl> controls_;
    std::vector<int> order_;
    int focus_ = 0;
    mutable std::vector<int> unknown_;
};

// Every control of the main dialog's template, with its caption or label.
void RegisterMainDialogControls(MemorySurface& surface);
// Every control of the branding dialog's template.
void RegisterBrandingDialogControls(MemorySurface& surface);

}  // namespace flintmere::ui
