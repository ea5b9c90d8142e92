// Why a step on the stick failed, in words that name the real cause.
#include <algorithm>
#include <cerrno>

#include "engine/media_engine.h"

namespace flintmere {

namespace {
constexpr char16_t kStickGone[] = u"The USB stick was removed or stopped responding.";
// A stick that is there may fail one read (a write error not yet collected
// comes back on the next read): it is gone only when it keeps failing.
constexpr int kProbeTries = 5;
constexpr int kProbePauseMs = 200;

// Errors that mean there is no device or no medium behind the node.
bool MeansNoDevice(int error) {
    return error == ENODEV || error == ENXIO || error == ENOENT || error == ENOMEDIUM;
}
}  // namespace

bool MediaEngine::StickGone(const RemovableDisk& disk) {
    for (int attempt = 1;; ++attempt) {
        const std::vector<RemovableDisk> listed = diskService().ListRemovableDisks();
        if (std::none_of(listed.begin(), listed.end(), [&](const RemovableDisk& d) {
                return d.identity == disk.identity && d.devicePath == disk.devicePath;
            })) {
            services_.WriteLog("SetupUSB(): the stick is no longer listed");
            return true;
        }
        const int error = diskService().Probe(disk);
        if (error == 0) return false;
        services_.WriteLog("SetupUSB(): the stick did not answer a read (%s), try %d of %d",
                           AppServices::SystemErrorText(error).c_str(), attempt, kProbeTries);
        if (MeansNoDevice(error)) return true;
        // Not allowed to ask says nothing about the stick.
        if (error == EACCES || error == EPERM) return false;
        if (attempt == kProbeTries) return true;
        // Cancelled: the step's own reason stands.
        if (!Pause(kProbePauseMs)) return false;
    }
}

bool MediaEngine::ShowIfStickGone(const RemovableDisk& disk) {
    // Every step fails once the stick is gone; their own texts would blame
    // the step ("Invalid argument", "Broken pipe").
    if (!StickGone(disk)) return false;
    services_.WriteLog("SetupUSB(): the stick was removed or does not respond");
    services_.DisplayMessage(kStickGone);
    return true;
}

Outcome MediaEngine::StickFailure(const RemovableDisk& disk, OutcomeKind kind,
                                  const std::string& toolLine, int error) {
    // Every step fails once the stick is gone; their own texts would blame
    // the step ("Invalid argument", "Broken pipe").
    if (StickGone(disk)) {
        services_.WriteLog("SetupUSB(): the stick was removed or does not respond");
        return Outcome::Said(OutcomeKind::StickGone, kStickGone, error);
    }
    if (!toolLine.empty()) {
        Outcome outcome = Outcome::Said(kind, Utf8ToUtf16(toolLine), error);
        outcome.toolLine = toolLine;
        return outcome;
    }
    return Outcome::SystemError(kind, error ? error : EIO);
}

void MediaEngine::ShowStickFailure(const RemovableDisk& disk, const std::string& toolLine,
                                   int error) {
    ShowOutcome(StickFailure(disk, OutcomeKind::WriteError, toolLine, error));
}

void MediaEngine::ShowOutcome(const Outcome& outcome) {
    if (!outcome.message.empty()) {
        services_.DisplayMessage(outcome.message);
    } else if (outcome.systemText) {
        services_.DisplayErrorMessage(outcome.error);
    }
}

int MediaEngine::EndRun(const Outcome& outcome) {
    m_lastOutcome = outcome;
    // A cancelled run ends quietly: the dialog's Cancel sets the status.
    if (outcome.kind == OutcomeKind::Canceled) return 0;
    if (outcome.Complete()) {
        m_setupStatus = SetupComplete;
        CloseProgress();
        Pause(500);
        return 1;
    }
    ShowOutcome(outcome);
    // A stick another program held stays blocked whatever failed after.
    if (outcome.status == SetupBlocked) m_setupStatus = SetupBlocked;
    if (m_setupStatus == SetupBlocked) m_lastOutcome.status = SetupBlocked;
    CloseProgress();
    return 0;
}

void MediaEngine::ShowWriteFailure(MediaRoot& target) {
    if (m_setupDisk) {
        ShowStickFailure(*m_setupDisk, {}, target.LastError());
    } else {
        services_.DisplayErrorMessage(target.LastError());
    }
}

}  // namespace flintmere
