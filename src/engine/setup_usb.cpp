#include <cerrno>

#include "engine/media_engine.h"
#include "platform/fat_volume_root.h"

namespace flintmere {

int MediaEngine::SetupUSB() {
    services_.WriteLog("SetupUSB(): start");
    m_setupStatus = SetupError;
    WaitProgressReady();

    // A cancelled run ends quietly: the dialog's Cancel sets the status.
    auto canceled = [this] {
        services_.WriteLog("SetupUSB(): canceled");
        return 0;
    };
    auto closeAndEnd = [this, &canceled] {
        if (StopRequested()) return canceled();
        CloseProgress();
        return 0;
    };
    if (StopRequested()) return canceled();

    int pos = 1;
    SetProgressPos(pos);
    SetProgressAction(u"Verifying if USB Stick is connected...");
    if (!Pause(1000)) return canceled();

    const StickLocation stick = LocateSelectedStick();
    const bool copyOnly = stick.found && !stick.volume.empty() &&
                          FatVolumeRoot(stick.volume, ToolFolder()).FileExists("copyonly");

    std::optional<PartitionEntry> written;
    if (!copyOnly) {
        if (!PrepareStick(stick, written)) return StopRequested() ? canceled() : 0;
        pos = 5;
    } else if (!stick.found) {
        services_.WriteLog("SetupUSB(): USB not found. aborted");
        return closeAndEnd();
    }

    services_.WriteLog("SetupUSB(): install");
    const std::string volume =
        FindDisk(stick.found ? &stick.disk : nullptr, written ? &*written : nullptr);
    if (volume.empty()) {
        if (StopRequested()) return canceled();
        services_.WriteLog("SetupUSB(): USB not found. aborted");
        if (stick.found) ShowStickFailure(stick.disk, {}, ENODEV);
        return closeAndEnd();
    }
    // mtools writes under any file system the desktop mounted meanwhile, and
    // the two would corrupt each other: a stick that stays mounted is in use.
    int mountError = 0;
    if (stick.found && !diskService().ReleaseMounts(stick.disk, mountError)) {
        // Lacking the rights to unmount is no other program holding the stick.
        if (mountError == EPERM || mountError == EACCES) {
            services_.WriteLog("SetupUSB(): no permission to unmount the stick");
        } else {
            services_.WriteLog("SetupUSB(): the stick is mounted and busy");
            m_setupStatus = SetupBlocked;
        }
        services_.DisplayErrorMessage(mountError ? mountError : EBUSY);
        CloseProgress();
        return 0;
    }
    const std::string exeFolder = ToPath(request_.m_exeFolder);
    FatVolumeRoot root(volume, ToolFolder());
    // A write the stick refuses shows within a few seconds, not at the end.
    root.WatchWrites(true);
    m_setupDisk = stick.disk;
    struct ForgetDisk {
        std::optional<RemovableDisk>& disk;
        ~ForgetDisk() { disk.reset(); }
    } forget{m_setupDisk};

    // A boot file that cannot be copied ends the run with the system's text.
    auto copyFailed = [this, &canceled, &stick](int error) {
        if (StopRequested()) return canceled();
        ShowStickFailure(stick.disk, {}, error);
        CloseProgress();
        Pause(500);
        return 0;
    };
    auto stillRunning = [this](std::uint64_t) { return !StopRequested(); };

    if (!copyOnly && !request_.m_gptPartition && request_.m_legacyBios) {
        services_.WriteLog("SetupUSB(): syslinux");
        SetProgressAction(u"Installing SysLinux bootloader...");
        pos = 10;
        SetProgressPos(pos);
        if (!Pause(1000)) return canceled();
        std::vector<std::string> argv = {ToolFolder() + "/syslinux/syslinux"};
        if (request_.m_partitioned) argv.insert(argv.end(), {"-m", "-a"});
        argv.insert(argv.end(), {"-f", volume});
        const u16 command = FromPath(request_.m_partitioned ? "syslinux/syslinux -m -a -f " + volume
                                                   : "syslinux/syslinux -f " + volume);
        if (!Process(command, argv, false)) {
            if (StopRequested()) return canceled();
            ShowStickFailure(stick.disk, m_lastToolLine, EIO);
            CloseProgress();
            return 0;
        }
        // What the installer wrote is read back with the rest.
        if (!root.RememberStored({"ldlinux.sys", "ldlinux.c32"})) {
            return copyFailed(root.LastError());
        }
        services_.WriteLog("SetupUSB(): syslinux.cfg file");
        SetProgressAction(u"Copying files...\r\nsyslinux.cfg");
        if (!root.CopyFileIn(exeFolder + "/syslinux/syslinux.cfg", "syslinux.cfg", stillRunning)) {
            return copyFailed(root.LastError());
        }
    }

    for (const char* folder : {"EFI", "EFI/BOOT", "loader", "loader/entries"}) {
        root.MakeFolder(folder);  // an existing folder is fine
    }
    struct BootFile {
        const char* logLine;
        const char16_t* action;
        const char* source;
        const char* target;
    };
    const BootFile bootFiles[] = {
        {"SetupUSB(): systemd-bootx64.efi file", u"Copying files...\r\nsystemd-bootx64.efi",
         "/systemd-boot/systemd-bootx64.efi", "EFI/BOOT/BOOTX64.EFI"},
        {"SetupUSB(): loader.conf file", u"Copying files...\r\nloader.conf",
         "/systemd-boot/loader.conf", "loader/loader.conf"},
        {"SetupUSB(): usb.conf file", u"Copying files...\r\nusb.conf", "/systemd-boot/usb.conf",
         "loader/entries/auto.conf"},
    };
    for (const BootFile& file : bootFiles) {
        services_.WriteLog("%s", file.logLine);
        SetProgressAction(file.action);
        if (!root.CopyFileIn(exeFolder + file.source, file.target, stillRunning)) {
            return copyFailed(root.LastError());
        }
    }

    services_.WriteLog("SetupUSB(): creating node.cfg");
    SetProgressAction(u"Creating node.cfg file...");
    SetProgressPos(++pos);
    if (!Pause(1000)) return canceled();
    // The writers below report their own failures; a file the stick did not
    // take then ends the run, or the appliance would install without it.
    auto notWritten = [&root] { return !root.FailedFiles().empty(); };
    auto writeFailed = [&root, &copyFailed] {
        return copyFailed(root.FailedFiles().front().error);
    };
    config_.CreateNodeCfgFile(request_, root);
    if (notWritten()) return writeFailed();
    if (request_.m_configSource == ConfigFromDatabase) {
        SetProgressAction(u"Creating database file...");
        SetProgressPos(++pos);
        if (!Pause(1000)) return canceled();
        config_.CopyDbFile(request_, root);
        if (notWritten()) return writeFailed();
    }

    const bool brandingDone = WriteBrandingFiles(root, [this, &pos](const BrandingStep& step) {
        services_.WriteLog("SetupUSB(): %.*s", static_cast<int>(step.logText.size()), step.logText.data());
        SetProgressAction(step.action);
        SetProgressPos(++pos);
        return Pause(1000);
    });
    if (!brandingDone || StopRequested()) return canceled();
    if (notWritten()) return writeFailed();

    services_.WriteLog("SetupUSB(): copying files");
    SetProgressAction(u"Copying files...");
    const bool copied = CopyFiles(root, 100);
    const bool watched = root.WatchWrites(false);
    if (!copied) return closeAndEnd();

    // The operator pulls the stick as soon as it says done.
    int flushError = watched ? 0 : root.LastError();
    if (!watched || !diskService().FlushDisk(stick.disk, flushError)) {
        if (StopRequested()) return canceled();
        ShowStickFailure(stick.disk, {}, flushError);
        CloseProgress();
        return 0;
    }
    // A worn stick or a controller that drops writes shows only when read back.
    // The disk's bytes before the volume hold the partition table and boot code.
    std::uint64_t bootBytes = 0;
    PartitionEntry table;
    if (volume != stick.disk.devicePath && diskService().ReadPartitionInfo(stick.disk, table)) {
        bootBytes = table.startingOffset;
    }
    if (!VerifyStick(root, stick.disk, bootBytes)) {
        if (StopRequested()) return canceled();
        CloseProgress();
        return 0;
    }

    services_.WriteLog("SetupUSB(): done");
    m_setupStatus = SetupComplete;
    CloseProgress();
    Pause(500);
    return 1;
}

}  // namespace flintmere
