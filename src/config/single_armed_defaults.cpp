#include "config/setup_validation.h"

namespace flintmere {

void setSingleArmedDefault(SetupRecord& record, bool singleArmed, bool& invert,
                           const std::function<void(u16view)>& writeLog) {
    if (writeLog) writeLog(u"setSingleArmedDefault(): start");
    if (!singleArmed) return;
    // Single armed and invert exclude each other.
    invert = false;
    if (record.m_wanAddress.empty()) {
        record.m_wanAddress = record.m_lanAddress;
        record.m_wanNetmask = record.m_lanNetmask;
        record.m_wanAddress6 = record.m_lanAddress6;
        record.m_wanPrefix6 = record.m_lanPrefix6;
    }
    if (record.m_wanNetmask.empty()) record.m_wanNetmask = record.m_lanNetmask;
    if (record.m_wanPrefix6.empty()) record.m_wanPrefix6 = record.m_lanPrefix6;
    // One arm only: no ADMIN interface.
    record.m_adminDisabled = 1;
}

void setSingleArmedDefault(SetupRecord& record, SetupRequestForm& form,
                           SetupValidationServices& services) {
    setSingleArmedDefault(record, form.singleArmed, form.invert,
                          [&services](u16view line) { services.WriteLogLine(line); });
}

}  // namespace flintmere
