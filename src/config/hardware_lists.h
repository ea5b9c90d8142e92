// The two hardware type lists of the main dialog: the entry texts in list
// order, the code a selection sets and, for the USB list, what the hardware
// needs of the stick layout. Also how a node.cfg's or database's platform
// texts pick an entry, which a units table follows as the window does.
#pragma once

#include <array>
#include <optional>

#include "config/setup_record.h"

namespace flintmere {

struct HardwareEntry {
    const char16_t* text;
    int code;
    bool needsLegacy;
    bool needsPartitioned;
    bool needsGpt;
    bool needsUefi;
};

inline constexpr std::array<HardwareEntry, 12> kUsbHardwareList{{
    {u"", HwNone, false, false, false, false},
    {u"LEGACY BIOS", HwLegacyBios, true, false, false, false},
    {u"UEFI BIOS", HwUefiBios, false, true, true, true},
    {u"ADVANTECH", HwAdvantech, true, false, false, false},
    {u"X3250", HwX3250, true, true, false, false},
    {u"X3550", HwX3550, true, true, false, false},
    {u"RX330", HwRx330, true, true, false, false},
    {u"RX200", HwRx200, true, true, false, false},
    {u"SR530", HwSr530, true, true, false, false},
    {u"SR250", HwSr250, true, true, false, false},
    {u"SR630", HwSr630, false, true, true, false},
    {u"KONTRON550", HwKontron550, false, true, true, true},
}};

inline constexpr std::array<HardwareEntry, 4> kVmHardwareList{{
    {u"", HwNone, false, false, false, false},
    {u"Virtual 250", HwVirtual250, false, false, false, false},
    {u"Virtual 6000", HwVirtual6000, false, false, false, false},
    {u"Virtual 20000", HwVirtual20000, false, false, false, false},
}};

// Entry positions the selection rules name.
enum UsbHardwareIndex : int {
    UsbHwEmpty = 0,
    UsbHwLegacyBios = 1,
    UsbHwUefiBios = 2,
    UsbHwAdvantech = 3,
    UsbHwX3250 = 4,
    UsbHwX3550 = 5,
    UsbHwRx330 = 6,
    UsbHwRx200 = 7,
    UsbHwSr530 = 8,
    UsbHwSr250 = 9,
    UsbHwSr630 = 10,
    UsbHwKontron550 = 11,
};

enum VmHardwareIndex : int {
    VmHwEmpty = 0,
    VmHwSmall = 1,
    VmHwMedium = 2,
    VmHwLarge = 3,
};

struct PlatformMatch {
    int entry;
    int code;
};

// The entry and code the platform texts of a file name, if any.
std::optional<PlatformMatch> MatchVmList(const u16& hw, const u16& vm);
std::optional<PlatformMatch> MatchUsbList(const u16& hw, const u16& vm);
// The list entry that shows a hardware code read from a file.
int VmEntryForCode(int code);
int UsbEntryForCode(int code);

}  // namespace flintmere
