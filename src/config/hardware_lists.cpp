#include "config/hardware_lists.h"

namespace flintmere {
namespace {

bool Contains(const u16& text, u16view part) {
    return text.find(part) != u16::npos;
}

bool StartsWith(const u16& text, u16view part) {
    return text.starts_with(part);
}

}  // namespace

std::optional<PlatformMatch> MatchVmList(const u16& hw, const u16& vm) {
    if (Contains(vm, u"Vhw_Small")) return PlatformMatch{VmHwSmall, HwVirtual250};
    if (Contains(vm, u"Vhw_Medium")) return PlatformMatch{VmHwMedium, HwVirtual6000};
    if (Contains(vm, u"Vhw_Large") || Contains(vm, u"Vhw_ExtraLarge"))
        return PlatformMatch{VmHwLarge, HwVirtual20000};
    if (Contains(hw, u"advantech250") || Contains(hw, u"advantech") || Contains(hw, u"kontron"))
        return PlatformMatch{VmHwSmall, HwVirtual250};
    if (Contains(hw, u"x3250") || Contains(hw, u"sr250"))
        return PlatformMatch{VmHwMedium, HwVirtual6000};
    for (u16view name : {u"x3550", u"rx200", u"rx330", u"sr530", u"sr630"}) {
        if (Contains(hw, name)) return PlatformMatch{VmHwLarge, HwVirtual20000};
    }
    return std::nullopt;
}

std::optional<PlatformMatch> MatchUsbList(const u16& hw, const u16& vm) {
    if (Contains(hw, u"advantech")) return PlatformMatch{UsbHwAdvantech, HwAdvantech};
    if (Contains(hw, u"kontron")) return PlatformMatch{UsbHwKontron550, HwKontron550};
    if (Contains(hw, u"x3250")) return PlatformMatch{UsbHwX3250, HwX3250};
    if (Contains(hw, u"sr250")) return PlatformMatch{UsbHwSr250, HwSr250};
    if (StartsWith(hw, u"x3550")) return PlatformMatch{UsbHwX3550, HwX3550};
    if (StartsWith(hw, u"rx200")) return PlatformMatch{UsbHwRx200, HwRx200};
    if (StartsWith(hw, u"rx330")) return PlatformMatch{UsbHwRx330, HwRx330};
    if (StartsWith(hw, u"sr530")) return PlatformMatch{UsbHwSr530, HwSr530};
    if (StartsWith(hw, u"sr630")) return PlatformMatch{UsbHwSr630, HwSr630};
    if (StartsWith(hw, u"UEFI")) return PlatformMatch{UsbHwUefiBios, HwUefiBios};
    if (StartsWith(hw, u"LEGACY")) return PlatformMatch{UsbHwLegacyBios, HwLegacyBios};
    // A small virtual machine seen from a stick is the ADVANTECH 250.
    if (Contains(vm, u"Vhw_Small")) return PlatformMatch{UsbHwAdvantech, HwAdvantech250};
    if (Contains(vm, u"Vhw_Medium")) return PlatformMatch{UsbHwSr250, HwSr250};
    if (Contains(vm, u"Vhw_Large") || Contains(vm, u"Vhw_ExtraLarge"))
        return PlatformMatch{UsbHwSr630, HwSr630};
    return std::nullopt;
}

int VmEntryForCode(int code) {
    switch (code) {
        case HwX3250:
        case HwSr250:
        case HwVirtual6000:
            return VmHwMedium;
        case HwX3550:
        case HwRx330:
        case HwRx200:
        case HwSr530:
        case HwSr630:
        case HwVirtual20000:
        case HwVirtualExtraLarge:
            return VmHwLarge;
        default:
            return VmHwSmall;
    }
}

int UsbEntryForCode(int code) {
    switch (code) {
        case 0:
        case 5:
        case 7:
        case 8:
        case 9:
        case 16:
            return UsbHwAdvantech;
        case 1:
            return UsbHwX3250;
        case 2:
            return UsbHwX3550;
        case 3:
            return UsbHwRx330;
        case 6:
            return UsbHwRx200;
        case 10:
            return UsbHwSr530;
        case 11:
        case 12:
        case 17:
            return UsbHwSr250;
        case 15:
        case 18:
        case 19:
            return UsbHwSr630;
        case 13:
        case 14:
            return UsbHwKontron550;
        case 20:
            return UsbHwLegacyBios;
        case 21:
            return UsbHwUefiBios;
        default:
            return UsbHwEmpty;
    }
}

}  // namespace flintmere
