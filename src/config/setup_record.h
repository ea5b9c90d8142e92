// The setup configuration record: what the operator chose for the medium.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/text.h"

namespace flintmere {

enum HardwareType : int {
    HwNone = -1,
    HwAdvantech = 0,
    HwX3250 = 1,
    HwX3550 = 2,
    HwRx330 = 3,
    HwRx200 = 6,
    HwAdvantech250 = 7,
    HwSr530 = 10,
    HwSr250 = 11,
    HwKontron550 = 13,
    HwSr630 = 15,
    HwVirtual250 = 16,
    HwVirtual6000 = 17,
    HwVirtual20000 = 18,
    HwVirtualExtraLarge = 19,
    HwLegacyBios = 20,
    HwUefiBios = 21,
};

enum ConfigSource : int {
    ConfigFromNodeFile = 0,
    ConfigGenerateNodeFile = 1,
    ConfigFromDatabase = 2,
    ConfigAutomated = 3,
};

// Flags are 32-bit integers used as booleans; the program stores only 0 and 1.
using Flag = std::int32_t;

// Defaults of the two branding notices.
inline const u16 kDefaultCompanyName = u"\u00a9 Corvane Networks";
inline const u16 kDefaultProductName = u"Corvane SBC";
inline const u16 kDefaultTla =
    u"Use of this software is subject to the Corvane Networks license agreement.";

struct SetupRecord {
    // Run environment.
    u16 m_exeFolder;   // folder of the program file, no trailing '/'
    u16 m_distFolder;  // m_exeFolder + "/kx/"
    u16 m_isoPath;
    Flag m_nodeFileLoaded = 0;
    Flag m_dbFileLoaded = 0;

    // Interfaces and addresses, as typed or read.
    Flag m_wanDisabled = 0;
    Flag m_lanDisabled = 0;
    Flag m_adminDisabled = 0;
    u16 m_wanAddress;
    u16 m_wanNetmask;
    u16 m_lanAddress;
    u16 m_lanNetmask;
    u16 m_adminAddress;
    u16 m_adminNetmask;
    u16 m_gateway;
    u16 m_wanAddress6;
    u16 m_wanPrefix6;
    u16 m_lanAddress6;
    u16 m_lanPrefix6;
    u16 m_gateway6;
    u16 m_serverName;

    // USB stick options.
    Flag m_partitioned = 0;
    Flag m_gptPartition = 0;
    Flag m_legacyBios = 1;

    std::int32_t m_configSource = ConfigFromNodeFile;

    // Raw bytes of the last node.cfg and configuration database read.
    std::vector<std::uint8_t> m_nodeFileData;
    std::vector<std::uint8_t> m_dbFileData;

    // Installation flags and general settings.
    Flag m_preinstall = 0;
    Flag m_autoinstall = 0;
    Flag m_netboot = 0;
    Flag m_dhcp = 0;
    Flag m_uefi = 0;
    Flag m_invert = 0;
    Flag m_singleArmed = 0;
    u16 m_logicId;
    u16 m_dns1;
    u16 m_dns2;
    u16 m_supplyServer1;
    u16 m_supplyServer2;
    u16 m_hwPlatformText;
    u16 m_vmPlatformText;
    std::int32_t m_hwType = HwNone;
    Flag m_isoMedia = 0;

    // Branding.
    u16 m_companyName = kDefaultCompanyName;
    u16 m_productName = kDefaultProductName;
    u16 m_tla = kDefaultTla;
    u16 m_logoFile;
    std::vector<std::uint8_t> m_logoData;

    // Back to the reset values; the USB stick options only with `includeMediaOptions`.
    void ResetConfiguration(bool includeMediaOptions);
};

}  // namespace flintmere
