#include <sys/stat.h>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/media_engine.h"

namespace flintmere {
namespace {

// A boot file of the installation folder and where it goes in the image tree.
struct BootFile {
    const char* logLine;
    const char16_t* action;
    const char* source;  // after m_exeFolder
    const char* target;  // in the tree
};

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

// Positions of the branding items: company name, product name, TLA, logo.
constexpr int kBrandingPositions[] = {55, 60, 65, 70};

constexpr char16_t kMasteringCommand[] =
    u"syslinux/mkisofs -o \"%s\" -b isolinux.bin -c boot.cat -no-emul-boot -boot-load-size 4 "
    u"-boot-info-table -iso-level 4 \"%s\"";

// What the image path held before the mastering tool ran.
struct FileStamp {
    bool exists = false;
    struct stat st {};
};

FileStamp StampOf(const std::string& path) {
    FileStamp stamp;
    stamp.exists = ::stat(path.c_str(), &stamp.st) == 0;
    return stamp;
}

// True when the tool created or rewrote the file at `path` since `before`.
bool WrittenSince(const std::string& path, const FileStamp& before) {
    const FileStamp now = StampOf(path);
    if (!now.exists || !S_ISREG(now.st.st_mode)) return false;
    if (!before.exists) return true;
    return now.st.st_dev != before.st.st_dev || now.st.st_ino != before.st.st_ino ||
           now.st.st_size != before.st.st_size ||
           now.st.st_mtim.tv_sec != before.st.st_mtim.tv_sec ||
           now.st.st_mtim.tv_nsec != before.st.st_mtim.tv_nsec;
}

std::string LocalTimeStamp(std::time_t now) {
    std::tm local{};
    ::tzset();
    ::localtime_r(&now, &local);
    char stamp[128] = {};
    std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &local);
    return stamp;
}

}  // namespace

int MediaEngine::SetupISO() {
    WriteLog("SetupISO(): start ISO");
    m_setupStatus = SetupError;
    WaitProgressReady();

    // A cancelled run ends quietly: the dialog's Cancel sets the status.
    auto canceled = [this] {
        WriteLog("SetupISO(): canceled");
        return 0;
    };
    auto fail = [this, &canceled](int error) {
        if (StopRequested()) return canceled();
        DisplayErrorMessage(error);
        CloseProgress();
        Pause(500);
        return 0;
    };
    if (StopRequested()) return canceled();

    // Without a temporary folder there is no safe place for the tree.
    const u16 tempFolder = env().TempFolder();
    if (tempFolder.empty()) return fail(ENOENT);
    const u16 treeFolder = FormatW(u"%sflintmere_%s", tempFolder, LocalTimeStamp(clock().Now()));
    const std::string tree = ToPath(treeFolder);
    // Not recursive and not tolerant of an existing folder: two builds in the
    // same second must not share a tree.
    if (::mkdir(tree.c_str(), 0755) != 0) return fail(errno);

    WriteLogW(u"SetupISO(): using temporary folder %s", treeFolder);
    WriteLog("SetupISO(): creating node.cfg");
    SetProgressAction(u"Creating node.cfg file...");
    SetProgressPos(1);
    if (!Pause(500)) return canceled();

    LocalFolderRoot root(tree);
    // The writers report their own failures, and the build goes on without them.
    switch (m_configSource) {
        case ConfigFromNodeFile:
            CreateNodeCfgFile(root, false);
            break;
        case ConfigGenerateNodeFile:
        case ConfigAutomated:
            CreateNodeCfgFile(root, m_autoinstall != 0);
            break;
        case ConfigFromDatabase:
            CreateNodeCfgFile(root, m_autoinstall != 0);
            SetProgressAction(u"Creating database file...");
            if (!Pause(500)) return canceled();
            CopyDbFile(root);
            break;
        default:
            break;
    }

    WriteLog("SetupISO(): copying files");
    SetProgressAction(u"Copying files to tmp folder...");
    if (!CopyFiles(root, 50)) {
        // The copy engine has shown what went wrong; this box adds the system's text.
        return fail(root.LastError() != 0 ? root.LastError() : ENOENT);
    }

    const std::string exeFolder = ToPath(m_exeFolder);
    auto stillRunning = [this](std::uint64_t) { return !StopRequested(); };
    auto copyBootFile = [&](const BootFile& file) {
        WriteLog("%s", file.logLine);
        SetProgressAction(file.action);
        return root.CopyFileIn(exeFolder + file.source, file.target, stillRunning);
    };

    for (const BootFile& file : kLegacyBootFiles) {
        if (!copyBootFile(file)) return fail(root.LastError());
    }

    WriteLog("SetupISO(): syslinux.cfg file");
    {
        // A root of its own, so its error code belongs to this call alone.
        LocalFolderRoot patchRoot(tree);
        errno = 0;
        if (!PatchBootConfig(tree + "/syslinux.cfg", patchRoot, "isolinux.cfg")) {
            const int error = errno;
            return fail(patchRoot.LastError() != 0 ? patchRoot.LastError()
                                                   : (error != 0 ? error : EIO));
        }
    }

    // A folder that cannot be made shows up as the failing copy below.
    for (const char* folder : kEfiFolders) root.MakeFolder(folder);

    for (const BootFile& file : kUefiBootFiles) {
        if (!copyBootFile(file)) return fail(root.LastError());
    }

    if (!Pause(500)) return canceled();

    const bool brandingDone = WriteBrandingFiles(root, [this](const BrandingStep& step) {
        WriteLog("SetupISO(): %.*s", static_cast<int>(step.logText.size()), step.logText.data());
        SetProgressAction(step.action);
        if (step.index >= 0 && step.index < 4) SetProgressPos(kBrandingPositions[step.index]);
        return Pause(500);
    });
    if (!brandingDone || StopRequested()) return canceled();

    WriteLog("SetupISO(): creating ISO file");
    SetProgressAction(u"Creating the ISO file...");
    // The log shows the command as the operator knows it; the tool itself is
    // taken from the program's folder, not from the current directory.
    const u16 commandLine = FormatW(kMasteringCommand, m_isoPath, treeFolder);
    const std::vector<std::string> argv = {
        exeFolder + "/syslinux/mkisofs",
        "-o",
        ToPath(m_isoPath),
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
        tree,
    };
    const std::string imagePath = ToPath(m_isoPath);
    const FileStamp imageBefore = StampOf(imagePath);
    if (!Process(commandLine, argv, true)) {
        // A tool that failed or was stopped half way leaves a cut-off image
        // under the final name; only what it wrote itself is removed.
        if (WrittenSince(imagePath, imageBefore) && ::unlink(imagePath.c_str()) == 0) {
            WriteLogW(u"SetupISO(): removed the incomplete image %s", m_isoPath);
        }
        if (StopRequested()) return canceled();
        CloseProgress();
        Pause(500);
        return 0;
    }
    // A cancel that came while the tool was finishing still counts.
    if (StopRequested()) return canceled();

    // Silent and non-interactive; a tree that cannot be removed does not
    // spoil a finished image.
    std::error_code ignored;
    std::filesystem::remove_all(tree, ignored);

    WriteLog("SetupISO(): done");
    m_setupStatus = SetupComplete;
    SetProgressAction(u"Complete");
    CloseProgress();
    Pause(500);
    return 1;
}

}  // namespace flintmere
