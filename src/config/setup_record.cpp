#include "config/setup_record.h"

namespace flintmere {

void SetupRecord::ResetConfiguration(bool includeMediaOptions) {
    m_serverName = u"unnamed";
    m_gateway.clear();
    m_gateway6.clear();
    m_lanDisabled = 1;
    m_wanDisabled = 1;
    for (u16* text : {&m_lanAddress, &m_wanAddress, &m_wanNetmask, &m_lanNetmask, &m_lanAddress6,
                      &m_wanAddress6, &m_wanPrefix6, &m_lanPrefix6}) {
        text->clear();
    }
    m_adminDisabled = 1;
    m_adminAddress.clear();
    m_adminNetmask.clear();
    for (u16* text : {&m_logicId, &m_dns1, &m_dns2, &m_supplyServer1, &m_supplyServer2,
                      &m_hwPlatformText, &m_vmPlatformText}) {
        text->clear();
    }
    for (Flag* flag :
         {&m_uefi, &m_autoinstall, &m_preinstall, &m_netboot, &m_dhcp, &m_invert, &m_singleArmed}) {
        *flag = 0;
    }
    if (includeMediaOptions) {
        m_partitioned = 0;
        m_legacyBios = 1;
        m_gptPartition = 0;
    }
}

}  // namespace flintmere
