// Placement of the imported configuration database on the medium.
#include <cstring>
#include <string>

#include "config/config_model.h"

namespace flintmere {
namespace {

// Some hardware models are recognised by the installer from an empty file
// next to config.xml.
const char* HardwareMarker(std::int32_t hwType) {
    switch (hwType) {
        case HwX3250:
            return "hw_x3250";
        case HwX3550:
            return "hw_x3550";
        case HwAdvantech250:
            return "hw_advantech250";
        default:
            return nullptr;
    }
}

}  // namespace

bool ConfigModel::CopyDbFile(const SetupRecord& record, MediaRoot& target) {
    services_.WriteLog("CopyDbFile(): start");
    if (record.m_dbFileData.empty()) {
        services_.DisplayMessage(u"database file not found");
        return false;
    }
    // The log line shows the database as text, which ends at a zero byte
    // (a UTF-16 file); the file itself is written whole.
    const char* text = reinterpret_cast<const char*>(record.m_dbFileData.data());
    const std::string shown(text, ::strnlen(text, record.m_dbFileData.size()));
    if (!target.WriteFile("config.xml", record.m_dbFileData)) {
        services_.PrintStdout("Could not open file (error %d)\n", target.LastError());
        return false;
    }
    services_.WriteLog("CopyDbFile(): write: \"%s\"", LogTextFromBytes(shown).c_str());

    const char* marker = HardwareMarker(record.m_hwType);
    if (!marker) return true;
    // A missing marker only costs the installer's hint; the copy stands.
    target.WriteFile(marker, {});
    services_.WriteLog("CopyDbFile(): done");
    return true;
}

}  // namespace flintmere
