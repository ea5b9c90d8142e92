#include "config/node_cfg_hardware.h"

#include "config/setup_record.h"

namespace flintmere {

std::optional<u16view> NodeCfgHardwareLines(int hwType) {
    switch (hwType) {
        case HwNone:
            return u"hw_platform:\n";
        case HwAdvantech:
            return u"hw_platform: advantech\n";
        case HwX3250:
            return u"hw_platform: x3250\n";
        case HwX3550:
            return u"hw_platform: x3550\n";
        case HwRx330:
            return u"hw_platform: rx330\n";
        case HwRx200:
            return u"hw_platform: rx200\n";
        case HwAdvantech250:
            return u"hw_platform: advantech250\n";
        case HwSr530:
            return u"hw_platform: sr530\n";
        case HwSr250:
            return u"hw_platform: sr250\n";
        case HwKontron550:
            return u"hw_platform: kontron550\n";
        case HwSr630:
            return u"hw_platform: sr630\n";
        case HwVirtual250:
            return u"hw_platform: advantech250\nvm_platform: Vhw_Small\n";
        case HwVirtual6000:
            return u"hw_platform: sr250\nvm_platform: Vhw_Medium\n";
        case HwVirtual20000:
            return u"hw_platform: sr630\nvm_platform: Vhw_Large\n";
        case HwVirtualExtraLarge:
            return u"hw_platform: sr630\nvm_platform: Vhw_ExtraLarge\n";
        case HwLegacyBios:
            return u"hw_platform: LEGACY_BIOS\n";
        case HwUefiBios:
            return u"hw_platform: UEFI_BIOS\n";
        default:
            return std::nullopt;
    }
}

}  // namespace flintmere
