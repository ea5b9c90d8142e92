#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/iso_job.h"
#include "engine/media_engine.h"

namespace flintmere {
namespace {

// A boot file of the installation folder and where it goes in the image tree.

constexpr BootFile kLegacyBootFiles[] = {
    {"SetupISO(): syslinux.cfg file", u"Copying files...\r\nsyslinux.cfg", "/syslinux/syslinux.cfg",
     "syslinux.cfg"},
    {"SetupISO(): isolinux.bin file", u"Copying files...\r\nisolinux.bin", "/syslinux/isolinux.bin",
     "isolinux.bin"},
    {"SetupISO(): ldlinux.c32 file", u"Copying files...\r\nldlinux.c32", "/syslinux/ldlinux.c32",
     "ldlinux.c32"},
};

constexpr BootFile kUefiBootFiles[] = {
    {"SetupISO(): systemd-bootx64.efi file", u"Copying files...\r\nsystemd-bootx64.efi",
     "/systemd-boot/systemd-bootx64.efi", "EFI/BOOT/BOOTX64.EFI"},
    {"SetupISO(): loader.conf file", u"Copying files...\r\nloader.conf",
     "/systemd-boot/loader.conf", "loader/loader.conf"},
    {"SetupISO(): iso.conf file", u"Copying files...\r\niso.conf", "/systemd-boot/iso.conf",
     "loader/entries/auto.conf"},
};

constexpr const char* kEfiFolders[] = {"EFI", "EFI/BOOT", "loader", "loader/entries"};

}  // namespace

std::vector<std::string> MasteringArguments(const std::string& exeFolder,
                                            const std::string& imageFile,
                                            const std::vector<std::string>& trees) {
    std::vector<std::string> argv = {
        exeFolder + "/syslinux/mkisofs",
        "-o",
        imageFile,
        "-b",
        "isolinux.bin",
        "-c",
        "boot.cat",
        "-no-emul-boot",
        "-boot-load-size",
        "4",
        "-boot-info-table",
        "-iso-level",
        "4",
    };
    argv.insert(argv.end(), trees.begin(), trees.end());
    return argv;
}

int MediaEngine::CopyIsoBootFiles(LocalFolderRoot& root, const std::string& tree) {
    const std::string exeFolder = ToPath(request_.m_exeFolder);
    auto stillRunning = [this](std::uint64_t) { return !StopRequested(); };
    auto copyBootFile = [&](const BootFile& file) {
        services_.WriteLog("%s", file.logLine);
        SetProgressAction(file.action);
        return root.CopyFileIn(exeFolder + file.source, file.target, stillRunning);
    };

    for (const BootFile& file : kLegacyBootFiles) {
        if (!copyBootFile(file)) return root.LastError() != 0 ? root.LastError() : EIO;
    }

    services_.WriteLog("SetupISO(): syslinux.cfg file");
    {
        // A root of its own, so its error code belongs to this call alone.
        LocalFolderRoot patchRoot(tree);
        errno = 0;
        if (!PatchBootConfig(tree + "/syslinux.cfg", patchRoot, "isolinux.cfg")) {
            const int error = errno;
            return patchRoot.LastError() != 0 ? patchRoot.LastError() : (error != 0 ? error : EIO);
        }
    }

    // A folder that cannot be made shows up as the failing copy below.
    for (const char* folder : kEfiFolders) root.MakeFolder(folder);

    for (const BootFile& file : kUefiBootFiles) {
        if (!copyBootFile(file)) return root.LastError() != 0 ? root.LastError() : EIO;
    }
    return 0;
}

int MediaEngine::SetupISO() {
    services_.WriteLog("SetupISO(): start ISO");
    m_setupStatus = SetupError;
    m_lastToolExitCode = 0;
    m_lastOutcome = Outcome();
    WaitProgressReady();
    IsoJob job(*this, request_);
    const Outcome outcome = job.Run();
    if (outcome.Complete() || outcome.kind == OutcomeKind::Canceled) return EndRun(outcome);
    // The box first, then the tree goes, then the dialog closes.
    ShowOutcome(outcome);
    job.CleanUpAfterFailure();
    const int result = EndRun(Outcome::Shown(outcome.kind, outcome.error));
    m_lastOutcome = outcome;
    Pause(500);
    return result;
}

}  // namespace flintmere
