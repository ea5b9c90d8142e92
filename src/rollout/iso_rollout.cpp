#include "rollout/iso_rollout.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "engine/staged_image.h"
#include "rollout/result_file.h"
#include "rollout/sha256.h"
#include "rollout/unit_run.h"

namespace flintmere {
namespace {

namespace fs = std::filesystem;

// A temporary folder removed with everything in it on every path.
class TempTree {
  public:
    TempTree() = default;
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;
    ~TempTree() {
        if (path_.empty()) return;
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    // False with errno set.
    bool Make(const std::string& pattern) {
        std::string name = pattern;
        if (!::mkdtemp(name.data())) return false;
        path_ = name;
        return true;
    }
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

// The staging's progress, shown on every unit's line.
class StagingProgress final : public ProgressDialog {
  public:
    StagingProgress(RolloutView& view, std::size_t units) : view_(view), units_(units) {}
    bool IsReady() override { return true; }
    void SetPos(int position) override {
        position_ = position;
        Show();
    }
    int GetPos() override { return position_; }
    void SetAction(const u16&) override { Show(); }
    void RequestClose() override {}

  private:
    void Show() {
        // The copy moves the bar to 50; staging is the first half of a unit.
        for (std::size_t i = 0; i < units_; ++i) {
            view_.Progress(i, {"Staging the distribution", std::min(position_, 50), -1});
        }
    }
    RolloutView& view_;
    std::size_t units_;
    int position_ = 0;
};

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& data) {
    std::ifstream in(path, std::ios::binary);
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return in.good() || in.eof();
}

std::uint64_t FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

// The staged tree: distribution, boot files, branding; then isolinux.bin
// is taken out, because the mastering tool writes each image's own block
// numbers into it, and every unit gets a copy in its own tree.
struct StagedTree {
    TempTree tree;
    std::vector<std::uint8_t> bootImage;
    std::string failure;
};

bool StageTree(AppParts& app, StagedTree& staged, RolloutView& view, std::size_t units,
               const std::stop_source& stop) {
    UnitBoxes boxes;
    StagingProgress progress(view, units);
    AppServices services(
        {app.services.clock(), boxes, app.services.env(), [](std::string_view) {}});
    MediaEngine stager(services, app.record);
    stager.m_pProgressDlg = &progress;
    const auto forwarded = ForwardStop(stop, stager);
    services.SetLogSink([&app](std::string_view line) {
        app.services.WriteLogLine("[staging] " + std::string(line));
    });
    auto fail = [&](const std::string& why) {
        staged.failure = boxes.Reason().empty() ? why : boxes.Reason();
        return false;
    };

    const u16 temp = app.services.env().TempFolder();
    if (temp.empty()) return fail("no temporary folder");
    if (!staged.tree.Make(ToPath(temp) + "flintmere_rollout_XXXXXX")) {
        return fail("the staging folder could not be made: " + AppServices::SystemErrorText(errno));
    }
    const std::string& tree = staged.tree.Path();
    app.services.WriteLog("RunIsoRollout(): staging in %s", tree.c_str());
    LocalFolderRoot root(tree);
    if (!stager.CopyFiles(root, 50)) {
        if (stop.stop_requested()) return fail("canceled");
        return fail("the distribution could not be staged: " +
                    AppServices::SystemErrorText(root.LastError() ? root.LastError() : ENOENT));
    }
    if (const int error = stager.CopyIsoBootFiles(root, tree)) {
        return fail("the boot files could not be staged: " + AppServices::SystemErrorText(error));
    }
    const bool branded = stager.WriteBrandingFiles(
        root, [&stop](const MediaEngine::BrandingStep&) { return !stop.stop_requested(); });
    if (!branded || stop.stop_requested()) return fail("canceled");
    for (const LocalFolderRoot::FailedFile& file : root.FailedFiles()) {
        return fail(Utf16ToUtf8(root.DisplayPath(file.relPath)) +
                    " was not written in full: " + AppServices::SystemErrorText(file.error));
    }
    const std::string bootPath = tree + "/isolinux.bin";
    if (!ReadWholeFile(bootPath, staged.bootImage) || staged.bootImage.empty()) {
        return fail("isolinux.bin could not be staged");
    }
    std::error_code ec;
    fs::remove(bootPath, ec);
    return true;
}

// One unit's image: its own tree and the staged one, mastered together.
UnitOutcome MasterUnit(AppParts& app, const UnitRow& unit, const StagedTree& staged,
                       const std::string& folder, RolloutView& view, std::size_t index,
                       const std::stop_source& stop) {
    UnitOutcome outcome = ImageOutcome(unit, folder);
    outcome.status = UnitStatus::Failed;
    const std::string imagePath = outcome.device;
    SetupRecord request = unit.record;
    request.m_isoMedia = 1;
    UnitRun run(app, request, unit.hostName, view, index, stop);
    MediaEngine& engine = run.Engine();
    auto failed = [&](const std::string& why) {
        outcome.status = stop.stop_requested() ? UnitStatus::Canceled : UnitStatus::Failed;
        outcome.reason = stop.stop_requested() ? std::string() : run.Reason(why);
        outcome.time = Iso8601Utc(app.services.clock().Now());
        return outcome;
    };
    if (stop.stop_requested()) return failed("canceled");

    TempTree own;
    if (!own.Make(ToPath(app.services.env().TempFolder()) + "flintmere_unit_XXXXXX")) {
        return failed("the unit's folder could not be made: " +
                      AppServices::SystemErrorText(errno));
    }
    LocalFolderRoot root(own.Path());
    run.Progress().Report("Creating node.cfg file...", 50);
    const bool written = ConfigModel(engine.services()).CreateNodeCfgFile(engine.request(), root);
    if (!written || !root.FailedFiles().empty()) return failed("node.cfg could not be written");
    if (!root.WriteFile("isolinux.bin", staged.bootImage)) {
        return failed("isolinux.bin could not be written: " +
                      AppServices::SystemErrorText(root.LastError()));
    }

    StagedImage image;
    if (!image.Create(imagePath)) {
        return failed("the image could not be created: " + AppServices::SystemErrorText(errno));
    }
    const std::string partial = image.Path();
    run.Progress().CountBytesWith([partial] { return FileSize(partial); });
    run.Progress().Report("Creating the ISO file...", 50);
    const std::vector<std::string> argv = MasteringArguments(
        ToPath(app.record.m_exeFolder), partial, {own.Path(), staged.tree.Path()});
    const u16 commandLine = FromPath("syslinux/mkisofs -o \"" + partial + "\" ... \"" + own.Path() +
                                     "\" \"" + staged.tree.Path() + "\"");
    if (!engine.Process(commandLine, argv, true)) return failed("the mastering tool failed");
    if (stop.stop_requested()) return failed("canceled");
    if (!image.HoldsIso9660Image()) {
        return failed("the mastering tool left no readable ISO 9660 image in " + partial);
    }
    run.Progress().Report("Computing the SHA-256 of the image", 100);
    outcome.sha256 = FileSha256(partial);
    if (outcome.sha256.empty()) {
        return failed("the image could not be read back for its SHA-256: " +
                      AppServices::SystemErrorText(errno));
    }
    if (!image.Commit()) {
        return failed("the image could not take its name: " + AppServices::SystemErrorText(errno));
    }
    engine.services().WriteLog("RunIsoRollout(): image written to %s", imagePath.c_str());
    outcome.status = UnitStatus::Done;
    outcome.time = Iso8601Utc(app.services.clock().Now());
    return outcome;
}

}  // namespace

std::string ImagePath(const UnitRow& unit, const std::string& folder) {
    return folder + "/" + unit.hostName + ".iso";
}

UnitOutcome ImageOutcome(const UnitRow& unit, const std::string& folder) {
    UnitOutcome outcome;
    outcome.unit = unit.hostName;
    outcome.kind = MediumKind::Image;
    outcome.device = outcome.medium = ImagePath(unit, folder);
    return outcome;
}

std::vector<UnitOutcome> RunIsoRollout(AppParts& app, const std::vector<UnitRow>& units,
                                       const std::string& folder, RolloutView& view,
                                       const std::stop_source& stop, unsigned parallel) {
    std::vector<UnitOutcome> outcomes;
    for (const UnitRow& unit : units) outcomes.push_back(ImageOutcome(unit, folder));
    StagedTree staged;
    if (!StageTree(app, staged, view, units.size(), stop)) {
        for (std::size_t i = 0; i < outcomes.size(); ++i) {
            outcomes[i].status = stop.stop_requested() ? UnitStatus::Canceled : UnitStatus::Failed;
            outcomes[i].reason = stop.stop_requested() ? std::string() : staged.failure;
            outcomes[i].time = Iso8601Utc(app.services.clock().Now());
            view.Finished(i, outcomes[i]);
        }
        return outcomes;
    }
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i = next++; i < units.size(); i = next++) {
            outcomes[i] = MasterUnit(app, units[i], staged, folder, view, i, stop);
            view.Finished(i, outcomes[i]);
        }
    };
    {
        std::vector<std::jthread> workers;
        const std::size_t count = std::clamp<std::size_t>(parallel, 1, units.size());
        for (std::size_t i = 0; i < count; ++i) workers.emplace_back(work);
    }
    return outcomes;
}

}  // namespace flintmere
