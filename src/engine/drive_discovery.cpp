#include <cmath>

#include "engine/media_engine.h"

namespace flintmere {

u16 FormatByteSizeShort(std::uint64_t bytes) {
    if (bytes < 1024) return FormatW(u"%s bytes", std::to_string(bytes));
    static const char* const kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    while (value >= 1000.0 && unit + 1 < std::size(kUnits)) {
        value /= 1024.0;
        ++unit;
    }
    // Three significant digits, cut rather than rounded up.
    std::string text;
    if (value < 10.0) {
        text = FormatA("%.2f", std::floor(value * 100.0) / 100.0);
    } else if (value < 100.0) {
        text = FormatA("%.1f", std::floor(value * 10.0) / 10.0);
    } else {
        text = FormatA("%.0f", std::floor(value));
    }
    return Utf8ToUtf16(text + " " + kUnits[unit]);
}

DiskService& MediaEngine::diskService() {
    if (m_diskService) return *m_diskService;
    if (!m_systemDiskService) m_systemDiskService = std::make_unique<LinuxDiskService>();
    return *m_systemDiskService;
}

void MediaEngine::RefreshDevices(MediaList& list) {
    services_.WriteLog("RefreshDevices(): start");
    list.entries.clear();
    list.selected = -1;
    int index = 0;
    for (const RemovableDisk& disk : diskService().ListRemovableDisks()) {
        if (index >= kMaxDrives) break;
        const std::uint64_t size = disk.geometry.Size();
        u16 entry = disk.description.empty()
                        ? FormatW(u"%s (%s)", disk.devicePath, FormatByteSizeShort(size))
                        : FormatW(u"%s  %s (%s)", disk.devicePath, disk.description,
                                  FormatByteSizeShort(size));
        list.entries.push_back(entry);
        m_driveVolumeName[index] = FromPath(disk.identity);
        m_driveSize[index] = size;
        services_.WriteLogW(u"RefreshDevices(): found %s, volname=%s", entry,
                            m_driveVolumeName[index]);
        ++index;
    }
    list.entries.push_back(kIsoMediaEntry);
    list.selected = 0;
    services_.WriteLog("RefreshDevices(): done");
}

StickLocation MediaEngine::LocateSelectedStick() {
    StickLocation location;
    if (m_selectedDrive < 0 || m_selectedDrive >= kMaxDrives) return location;
    const u16& wanted = m_driveVolumeName[m_selectedDrive];
    if (wanted.empty()) return location;
    for (const RemovableDisk& disk : diskService().ListRemovableDisks()) {
        if (FromPath(disk.identity) != wanted) continue;
        location.found = disk.deviceNumber != 0;
        location.disk = disk;
        location.volume = diskService().VolumeDevice(disk);
        break;
    }
    return location;
}

}  // namespace flintmere
