#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/media_engine.h"
#include "engine/staged_image.h"

namespace flintmere {
namespace {

// A boot file of the installation folder and where it goes in the image tree.
struct BootFile {
    const char* logLine;
    const char16_t* action;
    const char* source;  // after request_.m_exeFolder
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

// The image path made absolute: it reaches the tool as an argument.
std::string AbsoluteImagePath(const std::string& path) {
    if (!path.empty() && path.front() == '/') return path;
    std::error_code ec;
    const std::filesystem::path cwd = std::filesystem::current_path(ec);
    if (ec) return path;
    return (cwd / path).string();
}

// ENAMETOOLONG when the image's name, or that of the tool's file beside it,
// would be too long for its folder; 0 otherwise.
int ImageNameError(const std::string& imagePath) {
    const std::size_t slash = imagePath.rfind('/');
    const std::string folder = slash == 0 ? "/" : imagePath.substr(0, slash);
    const std::size_t nameLength = imagePath.size() - slash - 1 + sizeof(".XXXXXX") - 1;
    errno = 0;
    long nameMax = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    if (nameMax <= 0) nameMax = NAME_MAX;
    if (nameLength > static_cast<std::size_t>(nameMax) ||
        imagePath.size() + sizeof(".XXXXXX") > PATH_MAX) {
        return ENAMETOOLONG;
    }
    return 0;
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
    WaitProgressReady();

    std::string tree;
    StagedImage staged;
    auto removeTree = [this, &tree] {
        if (tree.empty()) return;
        std::error_code ignored;
        std::filesystem::remove_all(tree, ignored);
        services_.WriteLog("SetupISO(): removed the temporary folder %s", tree.c_str());
    };
    // A cancelled run ends quietly (the dialog's Cancel sets the status) and
    // takes its tree and unfinished image with it: nobody asked for them.
    auto canceled = [this, &staged, &removeTree] {
        if (staged.Discard()) {
            services_.WriteLog("SetupISO(): removed the unfinished image %s", staged.Path().c_str());
        }
        removeTree();
        services_.WriteLog("SetupISO(): canceled");
        return 0;
    };
    // Every failure ends here once its box is shown.
    auto failed = [this, &removeTree] {
        if (!m_keepFailedTree) removeTree();
        CloseProgress();
        Pause(500);
        return 0;
    };
    auto fail = [this, &canceled, &failed](int error) {
        if (StopRequested()) return canceled();
        services_.DisplayErrorMessage(error);
        return failed();
    };
    if (StopRequested()) return canceled();

    // The image's name is checked before the long copy: the tool's file
    // beside it has a longer one, which must fit as well.
    const std::string imagePath = AbsoluteImagePath(ToPath(request_.m_isoPath));
    if (const int error = ImageNameError(imagePath)) return fail(error);

    // Without a temporary folder there is no safe place for the tree.
    const u16 tempFolder = services_.env().TempFolder();
    if (tempFolder.empty()) return fail(ENOENT);
    // The time-stamped name with a part no other user can guess or take
    // first; two builds in the same second get folders of their own.
    std::string pattern =
        ToPath(FormatW(u"%sflintmere_%s_XXXXXX", tempFolder, LocalTimeStamp(services_.clock().Now())));
    if (!::mkdtemp(pattern.data())) return fail(errno);
    tree = pattern;
    const u16 treeFolder = FromPath(tree);

    services_.WriteLogW(u"SetupISO(): using temporary folder %s", treeFolder);
    services_.WriteLog("SetupISO(): creating node.cfg");
    SetProgressAction(u"Creating node.cfg file...");
    SetProgressPos(1);
    if (!Pause(500)) return canceled();

    LocalFolderRoot root(tree);
    // node.cfg, config.xml or a branding file that was not written in full
    // fails the build (the writers have said why), with m_wholeTreeRequired
    // any file of the tree does; the hardware marker alone is only a hint
    // to the installer, and the build goes on without it.
    auto required = [this](const std::string& relPath) {
        return m_wholeTreeRequired || relPath == "node.cfg" || relPath == "config.xml" ||
               relPath.starts_with("branding/");
    };
    auto treeIncomplete = [this, &root, &failed, &required] {
        bool incomplete = false;
        for (const LocalFolderRoot::FailedFile& file : root.FailedFiles()) {
            if (!required(file.relPath)) continue;
            services_.DisplayMessage(FormatW(u"%s was not written in full: %s",
                                   root.DisplayPath(file.relPath),
                                   Utf8ToUtf16(AppServices::SystemErrorText(file.error))));
            incomplete = true;
        }
        if (incomplete) failed();
        return incomplete;
    };
    // The writers report their own failures.
    switch (request_.m_configSource) {
        case ConfigFromNodeFile:
            config_.CreateNodeCfgFile(request_, root);
            break;
        case ConfigGenerateNodeFile:
        case ConfigAutomated:
            config_.CreateNodeCfgFile(request_, root);
            break;
        case ConfigFromDatabase:
            config_.CreateNodeCfgFile(request_, root);
            SetProgressAction(u"Creating database file...");
            if (!Pause(500)) return canceled();
            config_.CopyDbFile(request_, root);
            break;
        default:
            break;
    }
    if (treeIncomplete()) return 0;

    services_.WriteLog("SetupISO(): copying files");
    SetProgressAction(u"Copying files to tmp folder...");
    if (!CopyFiles(root, 50)) {
        // The copy engine has shown what went wrong; this box adds the system's text.
        return fail(root.LastError() != 0 ? root.LastError() : ENOENT);
    }

    const std::string exeFolder = ToPath(request_.m_exeFolder);
    if (const int error = CopyIsoBootFiles(root, tree)) return fail(error);

    if (!Pause(500)) return canceled();

    const bool brandingDone = WriteBrandingFiles(root, [this](const BrandingStep& step) {
        services_.WriteLog("SetupISO(): %.*s", static_cast<int>(step.logText.size()), step.logText.data());
        SetProgressAction(step.action);
        if (step.index >= 0 && step.index < 4) SetProgressPos(kBrandingPositions[step.index]);
        return Pause(500);
    });
    if (!brandingDone || StopRequested()) return canceled();
    if (treeIncomplete()) return 0;

    services_.WriteLog("SetupISO(): creating ISO file");
    SetProgressAction(u"Creating the ISO file...");
    // The tool writes a new file beside the image, which takes the image's
    // name only once it holds a whole image.
    if (!staged.Create(imagePath)) return fail(errno);
    // The log shows the command as the operator knows it, with the file the
    // tool really writes; the tool itself is taken from the program's
    // folder, not from the current directory.
    const u16 commandLine = FormatW(kMasteringCommand, FromPath(staged.Path()), treeFolder);
    const std::vector<std::string> argv = MasteringArguments(exeFolder, staged.Path(), {tree});
    const bool toolDone = Process(commandLine, argv, true);
    // A cancel that came while the tool was finishing still counts.
    if (StopRequested()) return canceled();
    auto discard = [this, &staged] {
        if (staged.Discard()) {
            services_.WriteLog("SetupISO(): removed the unfinished image %s", staged.Path().c_str());
        }
    };
    if (!toolDone) {
        discard();
        return failed();
    }
    if (!staged.HoldsIso9660Image()) {
        services_.DisplayMessage(FormatW(u"The mastering tool left no readable ISO 9660 image in %s",
                               FromPath(staged.Path())));
        discard();
        return failed();
    }
    if (StopRequested()) return canceled();
    if (!staged.Commit()) {
        const int error = errno;
        discard();
        return fail(error);
    }
    // The image is in place: a cancel from here on cannot take it back.
    m_setupStatus = SetupComplete;
    services_.WriteLogW(u"SetupISO(): image written to %s", FromPath(imagePath));

    // Silent and non-interactive; a tree that cannot be removed does not
    // spoil a finished image.
    std::error_code ignored;
    std::filesystem::remove_all(tree, ignored);

    services_.WriteLog("SetupISO(): done");
    SetProgressAction(u"Complete");
    CloseProgress();
    Pause(500);
    return 1;
}

}  // namespace flintmere
