#include "rollout/stick_rollout.h"

#include <sys/stat.h>

#include <fstream>
#include <thread>

#include "config/setup_validation.h"
#include "rollout/output_check.h"
#include "rollout/result_file.h"
#include "rollout/unit_run.h"

namespace flintmere {
namespace {

// The whole disk a path names: its device number, through any links.
std::uint64_t DeviceNumberOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return 0;
    return st.st_rdev;
}

// Bytes moved to or from the disk so far, as the kernel counts them: the
// stat file's sectors read (field 3) or written (field 7).
std::uint64_t SectorBytes(const std::string& name, int field) {
    std::ifstream stat("/sys/block/" + name + "/stat");
    std::uint64_t value = 0;
    for (int i = 0; i < field && (stat >> value); ++i) {
    }
    return stat ? value * 512 : 0;
}

UnitOutcome WriteStick(AppParts& app, const UnitRow& unit, const RemovableDisk& disk,
                       RolloutView& view, std::size_t index, const std::stop_source& stop) {
    UnitOutcome outcome = StickOutcome(unit, disk);
    outcome.status = UnitStatus::Failed;
    SetupRecord request = unit.record;
    request.m_isoMedia = 0;
    UnitRun run(app, request, unit.hostName, view, index, stop);
    MediaEngine& engine = run.Engine();
    StickWriterClient& writer = run.Writer();
    writer.m_logoSourcePath = app.stickWriter.m_logoSourcePath;
    const std::string name = disk.name;
    run.Progress().CountBytesWith([name] { return SectorBytes(name, 7); });
    run.Progress().CountReadsWith([name] { return SectorBytes(name, 3); }, "Verifying");
    run.Progress().Report("Starting the stick writer", 0);
    // The stick is the one the rollout resolved, not an entry of a drive list.
    StickRequest stick = writer.MakeStickRequest();
    stick.diskIdentity = disk.identity;
    stick.diskSize = disk.geometry.Size();
    writer.RunStickWriter(stick);
    const Outcome& ended = engine.m_lastOutcome;
    outcome.status = UnitStatusOf(engine.m_setupStatus.load(), ended, stop.stop_requested());
    if (outcome.status == UnitStatus::Failed) {
        outcome.reason = run.Reason(ended, "the stick writer ended without saying why");
    }
    outcome.time = Iso8601Utc(app.services.clock().Now());
    return outcome;
}

}  // namespace

UnitOutcome StickOutcome(const UnitRow& unit, const RemovableDisk& disk) {
    UnitOutcome outcome;
    outcome.unit = unit.hostName;
    outcome.kind = MediumKind::Stick;
    outcome.device = disk.devicePath;
    outcome.serial = disk.serial;
    outcome.medium =
        disk.serial.empty() ? disk.devicePath : disk.devicePath + " (" + disk.serial + ")";
    return outcome;
}

bool ResolveSticks(DiskService& disks, const std::vector<std::string>& devices,
                   std::vector<RemovableDisk>& sticks, std::string& error) {
    const std::vector<RemovableDisk> listed = disks.ListRemovableDisks();
    sticks.clear();
    for (const std::string& device : devices) {
        const std::uint64_t number = DeviceNumberOf(device);
        const RemovableDisk* found = nullptr;
        for (const RemovableDisk& disk : listed) {
            if (disk.devicePath == device || (number != 0 && disk.deviceNumber == number)) {
                found = &disk;
            }
        }
        if (!found) {
            error = device + " is not a removable USB disk (only those are written)";
            return false;
        }
        for (const RemovableDisk& taken : sticks) {
            if (taken.identity == found->identity) {
                error = device + " is named twice";
                return false;
            }
        }
        if (found->geometry.Size() < kMinimumStickBytes) {
            error = device + " is smaller than 1G: a stick needs at least 1G of storage space";
            return false;
        }
        sticks.push_back(*found);
    }
    return true;
}

std::string DescribeStick(const RemovableDisk& disk) {
    std::string text = disk.devicePath;
    text += "  " + (disk.description.empty() ? std::string("(no model)") : disk.description);
    text += "  " + (disk.serial.empty() ? std::string("(no serial)") : "serial " + disk.serial);
    text += "  " + DecimalSize(disk.geometry.Size());
    return text;
}

bool ConfirmSticks(const std::vector<RemovableDisk>& sticks, const std::vector<UnitRow>& units,
                   std::FILE* out, std::FILE* in) {
    std::fprintf(out, "These sticks will be erased and written:\n");
    for (std::size_t i = 0; i < sticks.size() && i < units.size(); ++i) {
        std::fprintf(out, "  %s  ->  %s\n", DescribeStick(sticks[i]).c_str(),
                     units[i].hostName.c_str());
    }
    std::fprintf(out, "All data on them will be lost. Write them? [y/N] ");
    std::fflush(out);
    char answer[64] = {};
    if (!std::fgets(answer, sizeof answer, in)) {
        std::fprintf(out, "\n");
        return false;
    }
    return answer[0] == 'y' || answer[0] == 'Y';
}

std::vector<UnitOutcome> RunStickRollout(AppParts& app, const std::vector<UnitRow>& units,
                                         const std::vector<RemovableDisk>& sticks,
                                         RolloutView& view, const std::stop_source& stop) {
    std::vector<UnitOutcome> outcomes(units.size());
    {
        std::vector<std::jthread> writers;
        for (std::size_t i = 0; i < units.size() && i < sticks.size(); ++i) {
            writers.emplace_back([&, i] {
                outcomes[i] = WriteStick(app, units[i], sticks[i], view, i, stop);
                view.Finished(i, outcomes[i]);
            });
        }
    }
    return outcomes;
}

}  // namespace flintmere
