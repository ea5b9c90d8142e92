#include "engine/iso_job.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <filesystem>

namespace flintmere {
namespace {

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

void IsoJob::DiscardImage() {
    if (staged_.Discard()) {
        engine_.services().WriteLog("SetupISO(): removed the unfinished image %s",
                                    staged_.Path().c_str());
    }
}

void IsoJob::RemoveTree() {
    if (tree_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(tree_, ignored);
    engine_.services().WriteLog("SetupISO(): removed the temporary folder %s", tree_.c_str());
}

void IsoJob::CleanUpAfterFailure() {
    DiscardImage();
    if (!engine_.m_keepFailedTree) RemoveTree();
}

// A cancelled run takes its tree and unfinished image with it: nobody asked for them.
Outcome IsoJob::Stopped() {
    DiscardImage();
    RemoveTree();
    engine_.services().WriteLog("SetupISO(): canceled");
    return Outcome::Stopped();
}

Outcome IsoJob::Failed(OutcomeKind kind, int error, std::string path) {
    if (engine_.StopRequested()) return Stopped();
    return Outcome::SystemError(kind, error, std::move(path));
}

// The image's name is checked before the long copy: the tool's file beside
// it has a longer one, which must fit as well.
Outcome IsoJob::MakeTree() {
    imagePath_ = AbsoluteImagePath(ToPath(request_.m_isoPath));
    if (const int error = ImageNameError(imagePath_)) {
        return Failed(OutcomeKind::Refused, error, imagePath_);
    }
    // Without a temporary folder there is no safe place for the tree.
    const u16 tempFolder = engine_.services().env().TempFolder();
    if (tempFolder.empty()) return Failed(OutcomeKind::WriteError, ENOENT);
    // The time-stamped name with a part no other user can guess or take
    // first; two builds in the same second get folders of their own.
    std::string pattern = ToPath(FormatW(u"%sflintmere_%s_XXXXXX", tempFolder,
                                         LocalTimeStamp(engine_.services().clock().Now())));
    if (!::mkdtemp(pattern.data())) return Failed(OutcomeKind::WriteError, errno, pattern);
    tree_ = pattern;
    engine_.services().WriteLogW(u"SetupISO(): using temporary folder %s", FromPath(tree_));
    root_ = std::make_unique<LocalFolderRoot>(tree_);
    return Outcome::Done();
}

// node.cfg, config.xml or a branding file that was not written in full
// fails the build (the writers have said why), with m_wholeTreeRequired
// any file of the tree does; the hardware marker alone is only a hint to
// the installer, and the build goes on without it.
Outcome IsoJob::TreeIncomplete() {
    auto required = [this](const std::string& relPath) {
        return engine_.m_wholeTreeRequired || relPath == "node.cfg" || relPath == "config.xml" ||
               relPath.starts_with("branding/");
    };
    Outcome outcome = Outcome::Done();
    for (const LocalFolderRoot::FailedFile& file : root_->FailedFiles()) {
        if (!required(file.relPath)) continue;
        // One box per file; the last is the outcome's.
        if (!outcome.Complete()) engine_.ShowOutcome(outcome);
        outcome = Outcome::Said(
            OutcomeKind::WriteError,
            FormatW(u"%s was not written in full: %s", root_->DisplayPath(file.relPath),
                    Utf8ToUtf16(AppServices::SystemErrorText(file.error))),
            file.error);
        outcome.path = file.relPath;
    }
    return outcome;
}

// The writers report their own failures.
Outcome IsoJob::WriteConfigFiles() {
    engine_.services().WriteLog("SetupISO(): creating node.cfg");
    engine_.SetProgressAction(u"Creating node.cfg file...");
    engine_.SetProgressPos(1);
    if (!engine_.Pause(500)) return Stopped();
    switch (request_.m_configSource) {
        case ConfigFromNodeFile:
            engine_.config().CreateNodeCfgFile(request_, *root_);
            break;
        case ConfigGenerateNodeFile:
        case ConfigAutomated:
            engine_.config().CreateNodeCfgFile(request_, *root_);
            break;
        case ConfigFromDatabase:
            engine_.config().CreateNodeCfgFile(request_, *root_);
            engine_.SetProgressAction(u"Creating database file...");
            if (!engine_.Pause(500)) return Stopped();
            engine_.config().CopyDbFile(request_, *root_);
            break;
        default:
            break;
    }
    return TreeIncomplete();
}

Outcome IsoJob::CopyTree() {
    engine_.services().WriteLog("SetupISO(): copying files");
    engine_.SetProgressAction(u"Copying files to tmp folder...");
    if (!engine_.CopyFiles(*root_, 50)) {
        // The copy engine has shown what went wrong; this box adds the system's text.
        return Failed(OutcomeKind::WriteError,
                      root_->LastError() != 0 ? root_->LastError() : ENOENT);
    }
    if (const int error = engine_.CopyIsoBootFiles(*root_, tree_)) {
        return Failed(OutcomeKind::WriteError, error);
    }
    if (!engine_.Pause(500)) return Stopped();
    const bool brandingDone =
        engine_.WriteBrandingFiles(*root_, [this](const MediaEngine::BrandingStep& step) {
            engine_.services().WriteLog("SetupISO(): %.*s", static_cast<int>(step.logText.size()),
                                        step.logText.data());
            engine_.SetProgressAction(step.action);
            if (step.index >= 0 && step.index < 4) {
                engine_.SetProgressPos(kBrandingPositions[step.index]);
            }
            return engine_.Pause(500);
        });
    if (!brandingDone || engine_.StopRequested()) return Stopped();
    return TreeIncomplete();
}

// The tool writes a new file beside the image, which takes the image's
// name only once it holds a whole image.
Outcome IsoJob::Master() {
    engine_.services().WriteLog("SetupISO(): creating ISO file");
    engine_.SetProgressAction(u"Creating the ISO file...");
    if (!staged_.Create(imagePath_)) return Failed(OutcomeKind::WriteError, errno, imagePath_);
    // The log shows the command as the operator knows it, with the file the
    // tool really writes; the tool itself is taken from the program's
    // folder, not from the current directory.
    const u16 commandLine = FormatW(kMasteringCommand, FromPath(staged_.Path()), FromPath(tree_));
    const std::vector<std::string> argv =
        MasteringArguments(ToPath(request_.m_exeFolder), staged_.Path(), {tree_});
    const bool toolDone = engine_.Process(commandLine, argv, true);
    // A cancel that came while the tool was finishing still counts.
    if (engine_.StopRequested()) return Stopped();
    if (!toolDone) {
        // The tool runner has shown the tool's words.
        Outcome outcome = Outcome::Shown(OutcomeKind::ToolFailed, EIO);
        outcome.toolLine = engine_.m_lastToolLine;
        outcome.path = staged_.Path();
        return outcome;
    }
    if (!staged_.HoldsIso9660Image()) {
        return Outcome::Said(OutcomeKind::Verification,
                             FormatW(u"The mastering tool left no readable ISO 9660 image in %s",
                                     FromPath(staged_.Path())));
    }
    if (engine_.StopRequested()) return Stopped();
    if (!staged_.Commit()) {
        const int error = errno;
        DiscardImage();
        return Failed(OutcomeKind::WriteError, error, imagePath_);
    }
    return Outcome::Done();
}

Outcome IsoJob::Run() {
    if (engine_.StopRequested()) return Stopped();
    for (Outcome (IsoJob::*step)() :
         {&IsoJob::MakeTree, &IsoJob::WriteConfigFiles, &IsoJob::CopyTree, &IsoJob::Master}) {
        if (Outcome outcome = (this->*step)(); !outcome.Complete()) return outcome;
    }
    // The image is in place: a cancel from here on cannot take it back.
    engine_.m_setupStatus = SetupComplete;
    engine_.services().WriteLogW(u"SetupISO(): image written to %s", FromPath(imagePath_));
    // Silent and non-interactive; a tree that cannot be removed does not
    // spoil a finished image.
    std::error_code ignored;
    std::filesystem::remove_all(tree_, ignored);
    engine_.services().WriteLog("SetupISO(): done");
    engine_.SetProgressAction(u"Complete");
    Outcome done = Outcome::Done();
    done.path = imagePath_;
    return done;
}

}  // namespace flintmere
