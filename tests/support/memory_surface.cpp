#include "support/memory_surface.h"

#include <algorithm>

#include "ui/control_ids.h"

namespace flintmere::ui {

const char* ControlKindName(ControlKind kind) {
    switch (kind) {
        case ControlKind::Button:
            return "button";
        case ControlKind::Check:
            return "check";
        case ControlKind::Radio:
            return "radio";
        case ControlKind::Edit:
            return "edit";
        case ControlKind::Combo:
            return "combo";
        case ControlKind::Ip:
            return "ip";
        case ControlKind::Static:
            return "static";
        case ControlKind::Group:
            return "group";
    }
    return "?";
}

void MemorySurface::Add(int id, ControlKind kind, const u16& label, int radioGroup, bool readOnly) {
    if (!controls_.contains(id)) order_.push_back(id);
    MemoryControl& control = controls_[id];
    control = MemoryControl{};
    control.kind = kind;
    control.label = label;
    control.radioGroup = radioGroup;
    control.readOnly = readOnly;
    // Buttons, boxes, statics and groups show their caption as their text.
    if (kind != ControlKind::Edit && kind != ControlKind::Combo && kind != ControlKind::Ip) {
        control.text = label;
    }
}

bool MemorySurface::Has(int id) const {
    return controls_.contains(id);
}

const MemoryControl* MemorySurface::Find(int id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : &it->second;
}

std::vector<int> MemorySurface::Ids() const {
    return order_;
}

MemoryControl* MemorySurface::Get(int id) {
    auto it = controls_.find(id);
    if (it != controls_.end()) return &it->second;
    unknown_.push_back(id);
    return nullptr;
}

const MemoryControl* MemorySurface::Get(int id) const {
    auto it = controls_.find(id);
    if (it != controls_.end()) return &it->second;
    unknown_.push_back(id);
    return nullptr;
}

bool MemorySurface::IsChecked(int id) const {
    const MemoryControl* c = Get(id);
    return c && c->checked;
}

void MemorySurface::SetCheck(int id, bool checked) {
    if (MemoryControl* c = Get(id)) c->checked = checked;
}

bool MemorySurface::IsEnabled(int id) const {
    const MemoryControl* c = Get(id);
    return c && c->enabled;
}

void MemorySurface::Enable(int id, bool enabled) {
    if (MemoryControl* c = Get(id)) c->enabled = enabled;
}

bool MemorySurface::IsShown(int id) const {
    const MemoryControl* c = Get(id);
    return c && c->shown;
}

void MemorySurface::Show(int id, bool shown) {
    if (MemoryControl* c = Get(id)) c->shown = shown;
}

namespace {

u16 AddressText(const MemoryControl& c) {
    if (std::none_of(c.fieldSet.begin(), c.fieldSet.end(), [](bool set) { return set; })) {
        return {};
    }
    IpFields f{};
    for (int i = 0; i < 4; ++i) f[i] = c.fieldSet[i] ? c.fields[i] : 0;
    return FormatW(u"%d.%d.%d.%d", f[0], f[1], f[2], f[3]);
}

// "a.b.c.d" into the four fields, as the address control takes a window
// text; what is missing or not a number stays empty.
void ParseAddressText(MemoryControl& c, const u16& text) {
    c.fieldSet = {};
    c.fields = {};
    std::size_t pos = 0;
    for (int i = 0; i < 4 && pos <= text.size(); ++i) {
        std::size_t end = text.find(u'.', pos);
        if (end == u16::npos) end = text.size();
        int value = 0;
        bool digits = false;
        for (std::size_t k = pos; k < end; ++k) {
            if (text[k] < u'0' || text[k] > u'9') {
                digits = false;
                break;
            }
            value = std::min(value * 10 + (text[k] - u'0'), 255);
            digits = true;
        }
        if (digits) {
            c.fields[i] = value;
            c.fieldSet[i] = true;
        }
        pos = end + 1;
    }
}

}  // namespace

u16 MemorySurface::GetText(int id) const {
    const MemoryControl* c = Get(id);
    if (!c) return {};
    switch (c->kind) {
        case ControlKind::Combo:
            return c->selection >= 0 ? c->entries[c->selection] : u16();
        case ControlKind::Ip:
            return AddressText(*c);
        default:
            return c->text;
    }
}

void MemorySurface::SetText(int id, const u16& text) {
    MemoryControl* c = Get(id);
    if (!c) return;
    if (c->kind == ControlKind::Ip) {
        ParseAddressText(*c, text);
    } else if (c->kind != ControlKind::Combo) {
        c->text = text;
    }
}

void MemorySurface::SetFocus(int id) {
    // 0: no control has the focus.
    if (id == 0 || Get(id)) focus_ = id;
}

void MemorySurface::SetTextLimit(int id, int limit) {
    if (MemoryControl* c = Get(id)) c->limit = limit;
}

int MemorySurface::TextLimit(int id) const {
    const MemoryControl* c = Get(id);
    return c ? c->limit : 0;
}

int MemorySurface::ComboAdd(int id, const u16& text) {
    MemoryControl* c = Get(id);
    if (!c) return -1;
    c->entries.push_back(text);
    return static_cast<int>(c->entries.size()) - 1;
}

int MemorySurface::ComboInsert(int id, int index, const u16& text) {
    MemoryControl* c = Get(id);
    if (!c) return -1;
    const int count = static_cast<int>(c->entries.size());
    if (index < 0 || index > count) index = count;
    c->entries.insert(c->entries.begin() + index, text);
    if (c->selection >= index) ++c->selection;
    return index;
}

void MemorySurface::ComboReset(int id) {
    if (MemoryControl* c = Get(id)) {
        c->entries.clear();
        c->selection = -1;
    }
}

void MemorySurface::ComboSelect(int id, int index) {
    MemoryControl* c = Get(id);
    if (!c) return;
    // An index outside the list leaves no selection, as a list box does.
    c->selection = index >= 0 && index < static_cast<int>(c->entries.size()) ? index : -1;
}

int MemorySurface::ComboSelection(int id) const {
    const MemoryControl* c = Get(id);
    return c ? c->selection : -1;
}

int MemorySurface::ComboCount(int id) const {
    const MemoryControl* c = Get(id);
    return c ? static_cast<int>(c->entries.size()) : 0;
}

u16 MemorySurface::ComboEntry(int id, int index) const {
    const MemoryControl* c = Get(id);
    if (!c || index < 0 || index >= static_cast<int>(c->entries.size())) return {};
    return c->entries[index];
}

IpFields MemorySurface::GetAddress(int id) const {
    IpFields fields{};
    if (const MemoryControl* c = Get(id)) {
        for (int i = 0; i < 4; ++i) fields[i] = c->fieldSet[i] ? c->fields[i] : 0;
    }
    return fields;
}

void MemorySurface::SetAddress(int id, const IpFields& fields) {
    if (MemoryControl* c = Get(id)) {
        for (int i = 0; i < 4; ++i) {
            c->fields[i] = std::clamp(fields[i], 0, 255);
            c->fieldSet[i] = true;
        }
    }
}

void MemorySurface::SetAddressFields(int id, const std::array<int, 4>& fields) {
    if (MemoryControl* c = Get(id)) {
        for (int i = 0; i < 4; ++i) {
            c->fieldSet[i] = fields[i] >= 0;
            c->fields[i] = fields[i] >= 0 ? std::min(fields[i], 255) : 0;
        }
    }
}

void MemorySurface::ClearAddress(int id) {
    if (MemoryControl* c = Get(id)) {
        c->fields = {};
        c->fieldSet = {};
    }
}

bool MemorySurface::IsAddressBlank(int id) const {
    const MemoryControl* c = Get(id);
    if (!c) return true;
    return std::none_of(c->fieldSet.begin(), c->fieldSet.end(), [](bool set) { return set; });
}

std::string MemorySurface::Dump() const {
    std::string out = "  id     kind    flags  label / text\n";
    for (int id : order_) {
        const MemoryControl& c = controls_.at(id);
        std::string flags;
        flags += c.enabled ? 'E' : '-';
        flags += c.shown ? 'S' : 'H';
        if (c.kind == ControlKind::Check || c.kind == ControlKind::Radio) {
            flags += c.checked ? 'C' : '.';
        }
        if (id == focus_) flags += 'F';
        std::string line = FormatA("%6d  %-6s  %-5s  %s", id, ControlKindName(c.kind),
                                   flags.c_str(), Utf16ToUtf8(c.label).c_str());
        switch (c.kind) {
            case ControlKind::Edit:
                line += FormatA(" = \"%s\"", Utf16ToUtf8(c.text).c_str());
                if (c.limit != kDefaultTextLimit) line += FormatA(" (limit %d)", c.limit);
                if (c.readOnly) line += " (read-only)";
                break;
            case ControlKind::Ip: {
                line += " = ";
                for (int i = 0; i < 4; ++i) {
                    if (i) line += '.';
                    line += c.fieldSet[i] ? std::to_string(c.fields[i]) : std::string("_");
                }
                break;
            }
            case ControlKind::Combo: {
                line += FormatA(" sel %d [", c.selection);
                for (std::size_t i = 0; i < c.entries.size(); ++i) {
                    if (i) line += " | ";
                    line += Utf16ToUtf8(c.entries[i]);
                }
                line += "]";
                break;
            }
            default:
                if (c.text != c.label) line += FormatA(" = \"%s\"", Utf16ToUtf8(c.text).c_str());
                break;
        }
        out += line + "\n";
    }
    if (!unknown_.empty()) {
        out += "unknown ids used:";
        for (int id : unknown_) out += " " + std::to_string(id);
        out += "\n";
    }
    return out;
}

void RegisterMainDialogControls(MemorySurface& s) {
    using K = ControlKind;
    constexpr int kSourceGroup = 1;

    s.Add(IdGroupMediaSelect, K::Group, u"Media Select");
    s.Add(IdMediaSelect, K::Combo, u"Media Select");
    s.Add(IdRefresh, K::Button, u"&Refresh");
    s.Add(IdEraseWarning, K::Static, u"WARNING: all data of the removable media will be erased.");

    s.Add(IdGroupConfigDb, K::Group, u"Configuration database");
    s.Add(IdRadioGenNode, K::Radio, u"Generate node.cfg file", kSourceGroup);
    s.Add(IdRadioUseDb, K::Radio, u"Already existent database file", kSourceGroup);
    s.Add(IdRadioUseNode, K::Radio, u"Already existent node.cfg file", kSourceGroup);
    s.Add(IdDbPath, K::Edit, u"database file", 0, true);
    s.Add(IdDbBrowse, K::Button, u"...");
    s.Add(IdNodePath, K::Edit, u"node.cfg file", 0, true);
    s.Add(IdNodeBrowse, K::Button, u"...");

    s.Add(IdGroupNetwork, K::Group, u"SBC Network Configuration");
    s.Add(IdHardwareType, K::Combo, u"Hardware type:");
    s.Add(IdHostName, K::Edit, u"Hostname:");
    s.Add(IdInterface, K::Combo, u"Interface:");
    s.Add(IdDisableInterface, K::Check, u"Disable interface");
    s.Add(IdIpAddress, K::Ip, u"IPv4 address:");
    s.Add(IdIpNetmask, K::Ip, u"IPv4 netmask:");
    s.Add(IdIpGateway, K::Ip, u"IPv4 gateway:");
    s.Add(IdIpv6Address, K::Edit, u"IPv6 address:");
    s.Add(IdIpv6Netmask, K::Edit, u"IPv6 netmask:");
    s.Add(IdIpv6Gateway, K::Edit, u"IPv6 gateway:");

    s.Add(IdGroupInstallMethod, K::Group, u"Installation Method");
    s.Add(IdChkAutomated, K::Check, u"Automated");
    s.Add(IdChkPreInstall, K::Check, u"PreInstall");
    s.Add(IdChkNetBoot, K::Check, u"Net boot");
    s.Add(IdChkDhcp, K::Check, u"DHCP");
    s.Add(IdChkUefi, K::Check, u"UEFI Bootloader");
    s.Add(IdChkInvert, K::Check, u"Invert");
    s.Add(IdChkSingleArmed, K::Check, u"Single Armed");

    s.Add(IdGroupUsbOptions, K::Group, u"USB Options");
    s.Add(IdChkLegacyBios, K::Check, u"DOS Partition (MBR / Legacy Bios)");
    s.Add(IdChkGpt, K::Check, u"GPT Partition");
    s.Add(IdChkPartitioned, K::Check, u"Partitioned USB Stick");

    s.Add(IdGroupGeneral, K::Group, u"General");
    s.Add(IdLabelDns1, K::Static, u"DNS 1:");
    s.Add(IdDns1, K::Ip, u"DNS 1:");
    s.Add(IdLabelDns2, K::Static, u"DNS 2:");
    s.Add(IdDns2, K::Ip, u"DNS 2:");
    s.Add(IdLabelLogicalId, K::Static, u"Logical ID:");
    s.Add(IdLogicalId, K::Edit, u"Logical ID:");
    s.Add(IdLabelQmxUrl1, K::Static, u"QMX URL 1:");
    s.Add(IdQmxUrl1, K::Edit, u"QMX URL 1:");
    s.Add(IdLabelQmxUrl2, K::Static, u"QMX URL 2:");
    s.Add(IdQmxUrl2, K::Edit, u"QMX URL 2:");

    s.Add(IdBranding, K::Button, u"Change Branding Names and Logo");
    s.Add(IdHelp, K::Button, u"&Help");
    s.Add(IdOk, K::Button, u"OK");
    s.Add(IdCancel, K::Button, u"Cancel");
}

void RegisterBrandingDialogControls(MemorySurface& s) {
    using K = ControlKind;
    s.Add(IdBrandCompanyName, K::Edit, u"Company Name");
    s.Add(IdBrandProductName, K::Edit, u"Product Name");
    s.Add(IdBrandTla, K::Edit, u"TLA");
    s.Add(IdBrandLogoPath, K::Edit, u"Logo Picture File");
    s.Add(IdBrandBrowse, K::Button, u"Browse");
    s.Add(IdOk, K::Button, u"OK");
    s.Add(IdCancel, K::Button, u"Cancel");
}

}  // namespace flintmere::ui
