#include <algorithm>
#include <chrono>

#include "engine/media_engine.h"

namespace flintmere {
namespace {

constexpr long long kFindDiskMs = 15000;
constexpr int kFindDiskPauseMs = 30;

bool ContainsIgnoreCase(u16view text, u16view part) {
    if (part.empty()) return true;
    if (text.size() < part.size()) return false;
    for (std::size_t i = 0; i + part.size() <= text.size(); ++i) {
        if (EqualsIgnoreAsciiCase(text.substr(i, part.size()), part)) return true;
    }
    return false;
}

// What a GUID compare sees: the 16 bytes, whatever the letter case of the text.
bool SameGuid(const std::string& a, const std::string& b) {
    return !a.empty() && EqualsIgnoreAsciiCase(FromPath(a), FromPath(b));
}

}  // namespace

std::string MediaEngine::FindDisk(const RemovableDisk* expected, const PartitionEntry* written) {
    const auto start = std::chrono::steady_clock::now();
    long long pausedMs = 0;
    const PartitionStyle wantedStyle =
        request_.m_gptPartition ? PartitionStyle::Gpt : PartitionStyle::Mbr;
    const u16 wantedIdentity = (m_selectedDrive >= 0 && m_selectedDrive < kMaxDrives)
                                   ? m_driveVolumeName[m_selectedDrive]
                                   : u16();
    for (;;) {
        services_.WriteLog("SetupUSB(): Finding disk...");
        for (const RemovableDisk& disk : diskService().ListRemovableDisks()) {
            services_.WriteLogW(u"SetupUSB(): Checking %s %s", disk.devicePath, disk.identity);
            PartitionEntry info;
            // A disk whose table cannot be read, or is of the other style,
            // counts as no disk for the partition match.
            std::uint64_t diskNumber = disk.deviceNumber;
            if (!diskService().ReadPartitionInfo(disk, info) || info.style != wantedStyle) {
                diskNumber = 0;
            }
            if (!wantedIdentity.empty() && FromPath(disk.identity) == wantedIdentity) {
                std::string volume = diskService().VolumeDevice(disk);
                if (!volume.empty()) {
                    services_.WriteLogW(u"SetupUSB(): select %s by volume ID", volume);
                    return volume;
                }
            }
            if (expected && request_.m_partitioned && diskNumber != 0 &&
                diskNumber == expected->deviceNumber && disk.name == expected->name) {
                bool match = false;
                if (info.style == PartitionStyle::Gpt) {
                    match = ContainsIgnoreCase(info.gptName, u"Instalation software") &&
                            (!written || (SameGuid(info.gptType, written->gptType) &&
                                          SameGuid(info.gptId, written->gptId)));
                } else if (info.style == PartitionStyle::Mbr) {
                    match = info.mbrType == 0x0B || info.mbrType == 0x0C;
                }
                if (match) {
                    std::string volume = diskService().VolumeDevice(disk);
                    if (!volume.empty()) {
                        services_.WriteLogW(u"SetupUSB(): select %s by partition info", volume);
                        return volume;
                    }
                }
            }
        }
        if (!Pause(kFindDiskPauseMs)) return {};
        pausedMs += kFindDiskPauseMs;
        const long long realMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - start)
                                     .count();
        // Real time for a slow pass; the pauses for a clock that does not wait.
        if (std::max(realMs, pausedMs) >= kFindDiskMs) return {};
    }
}

}  // namespace flintmere
