#include "engine/stick_job.h"

#include <cerrno>

namespace flintmere {

namespace {
// A step that did not fail.
bool Ok(const Outcome& outcome) {
    return outcome.Complete();
}
}  // namespace

Outcome StickJob::Stopped() {
    engine_.services().WriteLog("SetupUSB(): canceled");
    return Outcome::Stopped();
}

Outcome StickJob::Failed(OutcomeKind kind, int error, const std::string& toolLine) {
    if (engine_.StopRequested()) return Stopped();
    Outcome outcome = engine_.StickFailure(stick_.disk, kind, toolLine, error);
    outcome.path = volume_.empty() ? stick_.disk.devicePath : volume_;
    return outcome;
}

Outcome StickJob::NotWritten() {
    const FatVolumeRoot::FailedFile& file = root_->FailedFiles().front();
    Outcome outcome = Failed(OutcomeKind::WriteError, file.error);
    if (outcome.kind == OutcomeKind::WriteError) outcome.path = file.relPath;
    return outcome;
}

Outcome StickJob::Locate() {
    engine_.SetProgressPos(pos_);
    engine_.SetProgressAction(u"Verifying if USB Stick is connected...");
    if (!engine_.Pause(1000)) return Stopped();
    stick_ = engine_.LocateSelectedStick();
    copyOnly_ = stick_.found && !stick_.volume.empty() &&
                FatVolumeRoot(stick_.volume, engine_.ToolFolder()).FileExists("copyonly");
    if (!copyOnly_) {
        Outcome prepared = engine_.PrepareStick(request_, stick_, written_);
        if (prepared.kind == OutcomeKind::Canceled) return Stopped();
        if (!Ok(prepared) && engine_.StopRequested()) {
            // Its box was due before the cancel came; the cancel ends the run.
            engine_.ShowOutcome(prepared);
            return Stopped();
        }
        if (!Ok(prepared)) return prepared;
        pos_ = 5;
    } else if (!stick_.found) {
        engine_.services().WriteLog("SetupUSB(): USB not found. aborted");
        return engine_.StopRequested() ? Stopped() : Outcome::Shown(OutcomeKind::StickMissing);
    }
    return Outcome::Done();
}

Outcome StickJob::FindVolume() {
    engine_.services().WriteLog("SetupUSB(): install");
    volume_ =
        engine_.FindDisk(stick_.found ? &stick_.disk : nullptr, written_ ? &*written_ : nullptr);
    if (!volume_.empty()) return Outcome::Done();
    if (engine_.StopRequested()) return Stopped();
    engine_.services().WriteLog("SetupUSB(): USB not found. aborted");
    if (!stick_.found) return Outcome::Shown(OutcomeKind::StickMissing);
    return Failed(OutcomeKind::StickMissing, ENODEV);
}

// mtools writes under any file system the desktop mounted meanwhile, and
// the two would corrupt each other: a stick that stays mounted is in use.
Outcome StickJob::ReleaseMounts() {
    int mountError = 0;
    if (!stick_.found || engine_.diskService().ReleaseMounts(stick_.disk, mountError)) {
        return Outcome::Done();
    }
    // Lacking the rights to unmount is no other program holding the stick.
    const bool denied = mountError == EPERM || mountError == EACCES;
    engine_.services().WriteLog(denied ? "SetupUSB(): no permission to unmount the stick"
                                       : "SetupUSB(): the stick is mounted and busy");
    return Outcome::SystemError(denied ? OutcomeKind::Refused : OutcomeKind::Blocked,
                                mountError ? mountError : EBUSY, stick_.disk.devicePath);
}

Outcome StickJob::InstallSyslinux() {
    if (copyOnly_ || request_.m_gptPartition || !request_.m_legacyBios) return Outcome::Done();
    engine_.services().WriteLog("SetupUSB(): syslinux");
    engine_.SetProgressAction(u"Installing SysLinux bootloader...");
    pos_ = 10;
    engine_.SetProgressPos(pos_);
    if (!engine_.Pause(1000)) return Stopped();
    const std::string tools = engine_.ToolFolder();
    std::vector<std::string> argv = {tools + "/syslinux/syslinux"};
    if (request_.m_partitioned) argv.insert(argv.end(), {"-m", "-a"});
    argv.insert(argv.end(), {"-f", volume_});
    const u16 command = FromPath(request_.m_partitioned ? "syslinux/syslinux -m -a -f " + volume_
                                                        : "syslinux/syslinux -f " + volume_);
    if (!engine_.Process(command, argv, false)) {
        Outcome outcome = Failed(OutcomeKind::ToolFailed, EIO, engine_.m_lastToolLine);
        outcome.toolLine = engine_.m_lastToolLine;
        return outcome;
    }
    // What the installer wrote is read back with the rest.
    if (!root_->RememberStored({"ldlinux.sys", "ldlinux.c32"})) {
        return BootFileFailed(root_->LastError());
    }
    engine_.services().WriteLog("SetupUSB(): syslinux.cfg file");
    engine_.SetProgressAction(u"Copying files...\r\nsyslinux.cfg");
    const auto stillRunning = [this](std::uint64_t) { return !engine_.StopRequested(); };
    if (!root_->CopyFileIn(ToPath(request_.m_exeFolder) + "/syslinux/syslinux.cfg", "syslinux.cfg",
                           stillRunning)) {
        return BootFileFailed(root_->LastError());
    }
    return Outcome::Done();
}

Outcome StickJob::BootFileFailed(int error) {
    Outcome outcome = Failed(OutcomeKind::WriteError, error);
    pausesAtEnd_ = outcome.kind != OutcomeKind::Canceled;
    return outcome;
}

Outcome StickJob::CopyBootFiles() {
    for (const char* folder : {"EFI", "EFI/BOOT", "loader", "loader/entries"}) {
        root_->MakeFolder(folder);  // an existing folder is fine
    }
    const BootFile bootFiles[] = {
        {"SetupUSB(): systemd-bootx64.efi file", u"Copying files...\r\nsystemd-bootx64.efi",
         "/systemd-boot/systemd-bootx64.efi", "EFI/BOOT/BOOTX64.EFI"},
        {"SetupUSB(): loader.conf file", u"Copying files...\r\nloader.conf",
         "/systemd-boot/loader.conf", "loader/loader.conf"},
        {"SetupUSB(): usb.conf file", u"Copying files...\r\nusb.conf", "/systemd-boot/usb.conf",
         "loader/entries/auto.conf"},
    };
    const auto stillRunning = [this](std::uint64_t) { return !engine_.StopRequested(); };
    for (const BootFile& file : bootFiles) {
        engine_.services().WriteLog("%s", file.logLine);
        engine_.SetProgressAction(file.action);
        if (!root_->CopyFileIn(ToPath(request_.m_exeFolder) + file.source, file.target,
                               stillRunning)) {
            Outcome outcome = BootFileFailed(root_->LastError());
            if (outcome.kind == OutcomeKind::WriteError) outcome.path = file.target;
            return outcome;
        }
    }
    return Outcome::Done();
}

// The writers report their own failures; a file the stick did not take
// then ends the run, or the appliance would install without it.
Outcome StickJob::WriteGeneratedFiles() {
    engine_.services().WriteLog("SetupUSB(): creating node.cfg");
    engine_.SetProgressAction(u"Creating node.cfg file...");
    engine_.SetProgressPos(++pos_);
    if (!engine_.Pause(1000)) return Stopped();
    engine_.config().CreateNodeCfgFile(request_, *root_);
    if (!root_->FailedFiles().empty()) return NotWritten();
    if (request_.m_configSource == ConfigFromDatabase) {
        engine_.SetProgressAction(u"Creating database file...");
        engine_.SetProgressPos(++pos_);
        if (!engine_.Pause(1000)) return Stopped();
        engine_.config().CopyDbFile(request_, *root_);
        if (!root_->FailedFiles().empty()) return NotWritten();
    }
    const bool brandingDone =
        engine_.WriteBrandingFiles(*root_, [this](const MediaEngine::BrandingStep& step) {
            engine_.services().WriteLog("SetupUSB(): %.*s", static_cast<int>(step.logText.size()),
                                        step.logText.data());
            engine_.SetProgressAction(step.action);
            engine_.SetProgressPos(++pos_);
            return engine_.Pause(1000);
        });
    if (!brandingDone || engine_.StopRequested()) return Stopped();
    if (!root_->FailedFiles().empty()) return NotWritten();
    return Outcome::Done();
}

// The operator pulls the stick as soon as it says done.
Outcome StickJob::CopyAndFlush() {
    engine_.services().WriteLog("SetupUSB(): copying files");
    engine_.SetProgressAction(u"Copying files...");
    const bool copied = engine_.CopyFiles(*root_, 100);
    const bool watched = root_->WatchWrites(false);
    if (!copied) {
        // The copy engine has said why.
        if (engine_.StopRequested()) return Stopped();
        return Outcome::Shown(OutcomeKind::WriteError, root_->LastError());
    }
    int flushError = watched ? 0 : root_->LastError();
    if (!watched || !engine_.diskService().FlushDisk(stick_.disk, flushError)) {
        return Failed(OutcomeKind::WriteError, flushError);
    }
    return Outcome::Done();
}

// A worn stick or a controller that drops writes shows only when read back.
// The disk's bytes before the volume hold the partition table and boot code.
Outcome StickJob::Verify() {
    std::uint64_t bootBytes = 0;
    PartitionEntry table;
    if (volume_ != stick_.disk.devicePath &&
        engine_.diskService().ReadPartitionInfo(stick_.disk, table)) {
        bootBytes = table.startingOffset;
    }
    if (!engine_.VerifyStick(*root_, stick_.disk, bootBytes)) {
        if (engine_.StopRequested()) return Stopped();
        return Outcome::Shown(OutcomeKind::Verification);
    }
    return Outcome::Done();
}

Outcome StickJob::Run() {
    if (engine_.StopRequested()) return Stopped();
    for (Outcome (StickJob::*step)() :
         {&StickJob::Locate, &StickJob::FindVolume, &StickJob::ReleaseMounts}) {
        if (Outcome outcome = (this->*step)(); !Ok(outcome)) return outcome;
    }
    root_ = std::make_unique<FatVolumeRoot>(volume_, engine_.ToolFolder());
    // A write the stick refuses shows within a few seconds, not at the end.
    root_->WatchWrites(true);
    engine_.m_setupDisk = stick_.disk;
    struct ForgetDisk {
        std::optional<RemovableDisk>& disk;
        ~ForgetDisk() { disk.reset(); }
    } forget{engine_.m_setupDisk};
    for (Outcome (StickJob::*step)() :
         {&StickJob::InstallSyslinux, &StickJob::CopyBootFiles, &StickJob::WriteGeneratedFiles,
          &StickJob::CopyAndFlush, &StickJob::Verify}) {
        if (Outcome outcome = (this->*step)(); !Ok(outcome)) return outcome;
    }
    engine_.services().WriteLog("SetupUSB(): done");
    return Outcome::Done();
}

}  // namespace flintmere
