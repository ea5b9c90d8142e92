#include <cerrno>
#include <vector>

#include "engine/media_engine.h"
#include "platform/tool_path.h"

namespace flintmere {
namespace {

constexpr std::size_t kWipeBytes = 16384;
constexpr int kWriteAttempts = 4;
constexpr int kRetryPauseMs = 1000;
constexpr std::uint64_t kGptStart = 1048576;

}  // namespace

Outcome MediaEngine::PrepareStick(const SetupRecord& request, const StickLocation& stick,
                                  std::optional<PartitionEntry>& written) {
    written.reset();
    services_.WriteLog("SetupUSB(): setup partition scheme");
    SetProgressAction(u"Erasing USB Stick partitions...");
    SetProgressPos(2);
    if (!Pause(1000)) return Outcome::Stopped();

    // Only a listed stick is ever written, never a disk of the running system.
    if (!stick.found || stick.disk.deviceNumber == 0 || diskService().HoldsSystem(stick.disk)) {
        return Outcome::Said(stick.found ? OutcomeKind::Refused : OutcomeKind::StickMissing,
                             u"USB Stick not found", ENODEV);
    }

    // Writes are retried: another program may let go of the stick meanwhile.
    auto writeWithRetries = [this](DiskWriter& disk, std::uint64_t offset,
                                   const std::vector<std::uint8_t>& bytes, bool& cancelled) {
        for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
            if (disk.WriteAt(offset, bytes)) return true;
            if (!Pause(kRetryPauseMs)) {
                cancelled = true;
                return false;
            }
        }
        return false;
    };
    // Ends the setup after a failed disk step.
    auto fail = [this, &stick](const char* logLine, int error) {
        if (logLine) services_.WriteLog("%s", logLine);
        Outcome outcome = StickFailure(stick.disk, OutcomeKind::WriteError, {}, error);
        outcome.path = stick.disk.devicePath;
        return outcome;
    };

    int openError = 0;
    std::unique_ptr<DiskWriter> disk = diskService().OpenForWriting(stick.disk, openError);
    if (!disk) {
        services_.DisplayErrorMessage(openError);
        // Without the rights to the disk the formatter has none either: one
        // box with the system's reason, and not the text of a stick in use.
        if (openError == EACCES || openError == EPERM) {
            services_.WriteLog("SetupUSB(): no permission to write the stick");
            return Outcome::Shown(OutcomeKind::Refused, openError);
        }
    } else {
        const char* device = stick.disk.devicePath.c_str();
        services_.WriteLogW(u"SetupUSB(): Destroy partition table of %s", device);
        bool cancelled = false;
        if (!writeWithRetries(*disk, 0, std::vector<std::uint8_t>(kWipeBytes), cancelled)) {
            if (cancelled) return Outcome::Stopped();
            services_.WriteLog("SetupUSB(): Could not delete the partition table");
            m_setupStatus = SetupBlocked;
        }
        if (!disk->Refresh()) return fail(nullptr, disk->LastError());

        if (request.m_partitioned) {
            services_.WriteLogW(u"SetupUSB(): Create partition table of %s", device);
            std::uint64_t length = 0;
            DiskGeometry geometry;
            if (!disk->ReadLength(length) || !disk->ReadGeometry(geometry)) {
                return fail(nullptr, disk->LastError());
            }
            services_.WriteLog("SetupUSB(): Creating partitions...");
            const std::uint64_t trackSize = geometry.TrackSize();
            const std::uint64_t diskSize = geometry.Size();
            PartitionEntry entry;
            if (request.m_gptPartition) {
                entry.style = PartitionStyle::Gpt;
                entry.gptDiskId = NewGuidText();
                entry.gptId = NewGuidText();
                entry.startingOffset = kGptStart;
                entry.gptType = kBasicDataPartitionType;
                entry.gptName = u"SBC Instalation software";
            } else {
                entry.style = PartitionStyle::Mbr;
                entry.mbrSignature = static_cast<std::uint32_t>(services_.clock().Now());
                entry.startingOffset = trackSize;
                entry.mbrType = 0x0B;
                entry.bootIndicator = true;
                entry.hiddenSectors = geometry.sectorsPerTrack;
            }
            entry.length = diskSize > entry.startingOffset ? diskSize - entry.startingOffset : 0;

            // Old file system signatures at the partition start must not survive.
            if (!writeWithRetries(*disk, entry.startingOffset,
                                  std::vector<std::uint8_t>(128 * geometry.bytesPerSector),
                                  cancelled)) {
                if (cancelled) return Outcome::Stopped();
                services_.WriteLog("SetupUSB(): Could not clear partition");
                m_setupStatus = SetupBlocked;
            }
            if (!disk->CreateDisk(entry)) {
                return fail("SetupUSB(): Could not initialize disk", disk->LastError());
            }
            if (!disk->Refresh()) {
                return fail("SetupUSB(): Disk refresh failed (1)", disk->LastError());
            }
            if (entry.length == 0 || !disk->SetLayout(entry)) {
                return fail("SetupUSB(): Could not create disk partitions",
                            entry.length == 0 ? ENOSPC : disk->LastError());
            }
            if (!disk->Refresh()) {
                return fail("SetupUSB(): Disk refresh failed (2)", disk->LastError());
            }
            written = entry;
        }
        disk.reset();
    }

    services_.WriteLog("SetupUSB(): Format the USB Stick");
    SetProgressAction(u"Creating the FAT32 filesystem...");
    SetProgressPos(5);
    const std::string volume = FindDisk(&stick.disk, written ? &*written : nullptr);
    if (volume.empty()) {
        if (StopRequested()) return Outcome::Stopped();
        services_.WriteLog("SetupUSB(): USB not found. aborted");
        return StickFailure(stick.disk, OutcomeKind::StickMissing, {}, ENODEV);
    }
    const std::string command = "mkfs.fat -F 32 -n tvq -I " + volume;
    services_.WriteLogW(u"SetupUSB(): Format starting: %s", command);
    if (!Process(FromPath(command),
                 {ToolPath(ToolFolder(), "mkfs.fat"), "-F", "32", "-n", "tvq", "-I", volume},
                 false)) {
        if (StopRequested()) return Outcome::Stopped();
        services_.WriteLog("SetupUSB(): Format error");
        Outcome outcome = StickFailure(stick.disk, OutcomeKind::ToolFailed, m_lastToolLine, EIO);
        outcome.toolLine = m_lastToolLine;
        outcome.path = volume;
        return outcome;
    }
    return Outcome::Done();
}

}  // namespace flintmere
