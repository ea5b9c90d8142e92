// Media preparation over one request: the worker and its progress channel,
// the tools it runs, the copies, the ISO and USB sequences. The request is
// the front end's; the engine only reads it.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "config/config_model.h"
#include "engine/folder_listing.h"
#include "engine/outcome.h"
#include "engine/progress_dialog.h"
#include "engine/stick_request.h"
#include "engine/usb_stick.h"
#include "platform/fat_volume_root.h"

namespace flintmere {

constexpr int kMaxDrives = 32;

// The mastering tool's arguments for `imageFile`; the `trees` are merged at
// the image's root, and the first of them holding isolinux.bin boots it.
std::vector<std::string> MasteringArguments(const std::string& exeFolder,
                                            const std::string& imageFile,
                                            const std::vector<std::string>& trees);

// A boot file a job copies from the installation folder, as it announces it.
struct BootFile {
    const char* logLine;
    const char16_t* action;
    const char* source;  // after the installation folder
    const char* target;  // on the medium
};

class MediaEngine {
  public:
    MediaEngine(AppServices& services, const SetupRecord& request)
        : services_(services), config_(services), request_(request) {}
    MediaEngine(const MediaEngine&) = delete;
    MediaEngine& operator=(const MediaEngine&) = delete;
    ~MediaEngine();

    AppServices& services() { return services_; }
    ConfigModel& config() { return config_; }
    const SetupRecord& request() const { return request_; }

    // --- worker and progress channel (worker_channel.cpp) ---
    // The channel calls come from the worker. Each is a no-op without a
    // dialog (batch mode) and once a stop has been requested, when the
    // dialog is only waiting for the worker to end.
    ProgressDialog* m_pProgressDlg = nullptr;
    std::atomic<int> m_setupStatus{SetupError};
    std::jthread m_hWorkerThread;
    std::stop_source m_workerStop;
    // Set while the worker routine runs.
    std::atomic<bool> m_workerRunning{false};
    // Set by CloseProgress: the worker has finished reporting, so a Cancel
    // arriving now must not turn its outcome into SetupCanceled.
    std::atomic<bool> m_progressClosing{false};

    // Returns once the dialog is ready, checking every 100 ms (stops on cancel).
    void WaitProgressReady();
    void SetProgressPos(int position);
    // Leaves `position` as it was when there is no dialog.
    void GetProgressPos(int& position);
    void SetProgressAction(const u16& text);
    void CloseProgress();
    // A fixed pause of the sequences; false when the run was cancelled.
    bool Pause(int milliseconds);
    bool StopRequested() const;

    // Starts `routine` on the worker thread with a fresh stop source, after
    // any previous worker has ended; m_setupStatus starts as SetupError. When
    // the thread cannot be created the error is shown and false returned.
    bool StartWorker(std::function<int()> routine);
    bool WorkerRunning() const { return m_workerRunning.load(); }
    // The progress dialog's Cancel (button or Escape): asks the worker to stop
    // at its next stop point, waits for it to end, then sets SetupCanceled.
    // When the worker has already asked the dialog to close, or its result
    // is in place (SetupComplete), it only waits and the run's own outcome
    // stands. `whileWaiting` runs every few
    // milliseconds during the wait so that a UI thread can keep serving the
    // worker's synchronous channel calls.
    void CancelSetup(const std::function<void()>& whileWaiting = {});
    // The progress dialog's close box: Cancel while a worker runs; otherwise
    // the dialog just ends and the status stays.
    void CloseSetup(const std::function<void()>& whileWaiting = {});
    // Stops the worker and waits for it without touching the status (shutdown).
    void CancelWorker();
    // Waits for the worker to end; call before the dialog object goes away.
    void WaitWorker(const std::function<void()>& whileWaiting = {});

    // --- copy accounting (copy_engine.cpp); 64-bit so trees of 4 GiB and more count right ---
    std::uint64_t m_copyTotalKB = 0;
    std::uint64_t m_copyFileKB = 0;
    std::uint64_t m_copyDoneKB = 0;
    std::int32_t m_progressBase = 0;
    std::int32_t m_progressEnd = 0;

    // --- command runner (command_runner.cpp) ---
    // Runs `argv` (argv[0] is the program path) with stdout and stderr merged,
    // "\r\n" on stdin, its output logged in chunks. `commandLine` is the text
    // that the log and the failure messages show. With `trackProgress` the
    // tool's "% done" lines move the bar from m_progressBase to 100.
    bool Process(const u16& commandLine, const std::vector<std::string>& argv, bool trackProgress);
    // Exit code of the last tool Process ran (128 + signal when a signal ended it).
    int m_lastToolExitCode = 0;
    // The last line of text that tool wrote: a failing tool says why there.
    std::string m_lastToolLine;

    // --- copy engine (copy_engine.cpp) ---
    // Copies the distribution folder (m_distFolder) to the root of `target`,
    // moving the bar from its current position toward `endPosition` (it stays
    // just below it; the caller sets the next position). False after a
    // failure, which has been shown, or after a cancel, which shows nothing.
    bool CopyFiles(MediaRoot& target, int endPosition);
    // Adds the bytes of every readable file below `sourceFolder` (ending in
    // '/') to m_copyTotalKB; false when `sourceFolder` itself cannot be listed.
    bool GetFilesSize(const std::string& sourceFolder);
    // Copies `sourceFolder` (ending in '/') into `targetFolder` of `target`
    // ("" for its root), entries in name order.
    bool CopyDirFiles(const std::string& sourceFolder, MediaRoot& target,
                      const std::string& targetFolder);
    // Progress of the file being copied; false stops the copy (cancel).
    bool CopyProgressRoutine(std::uint64_t fileSize, std::uint64_t bytesDone);
    // The folders from the top of the walk in progress down to the current
    // one: a link back to any of them is skipped, so the walk always ends.
    std::vector<FolderId> m_copyFolders;
    // The folders the walk in progress has entered: a link to one of them is
    // not followed, so links that branch to the same folders cannot make the
    // walk grow without end (each folder is walked at most twice: in place
    // and through the first link to it).
    std::vector<FolderId> m_walkedFolders;
    // The installation folder and the folders above it: a link to one of
    // them would put the program and the whole system into the image.
    std::vector<FolderId> m_outsideFolders;
    // The installation folder as the system resolves it ("" for no rule):
    // a link that leads out of it is not followed.
    std::string m_installRealPath;
    bool LeadsOutOfInstallation(const std::string& path) const;
    // Why the walk must not enter `folder` (an entry of `parent`), or null.
    const char* WalkRefusal(const std::string& parent, const FolderEntry& entry);

    // --- installation source checks (source_checks.cpp) ---
    bool CheckPendriveSoftware();
    bool CheckInstallImage();

    // --- generated files (generated_files.cpp, branding_files.cpp) ---
    // Writes `text` as it is to `folder`/`name` on `target` ("" is the root).
    // A `text` with no data (a default string_view) is "file data not found".
    bool CreateMiscFile(MediaRoot& target, std::string_view folder, std::string_view name,
                        std::string_view text);
    // Writes `data` to `relPath`; empty data is "file data not found".
    bool CreateBinaryFile(MediaRoot& target, std::string_view relPath,
                          std::span<const std::uint8_t> data);
    // Reads the boot menu at `sourcePath`, inserts the virtual-CD flag and
    // writes it to `relPath` on `target`.
    bool PatchBootConfig(const std::string& sourcePath, MediaRoot& target,
                         std::string_view relPath);

    // One branding item as the caller announces it: it writes the log line
    // "<Caller>(): " + logText, shows `action`, sets its position and pauses.
    struct BrandingStep {
        int index;                 // 0 company name, 1 product name, 2 TLA, 3 logo
        std::string_view logText;  // "copying branding company name", ...
        u16 action;                // "Copying Branding Company Name...", ...
    };
    // Writes the branding files under "branding/" of `target`. Files that
    // cannot be written do not stop it; false only when `reportStep` returned
    // false (cancel).
    bool WriteBrandingFiles(MediaRoot& target,
                            const std::function<bool(const BrandingStep&)>& reportStep);

    // --- ISO image builder (iso_builder.cpp) ---
    // The worker routine; returns 1 after success and 0 after a failure.
    // An unfinished image never takes the name m_isoPath; a cancelled run
    // removes its temporary folder.
    int SetupISO();
    // Copies the boot files of both boot paths into the tree at `tree` and
    // writes its isolinux.cfg. Returns 0, or the errno of the failure.
    int CopyIsoBootFiles(LocalFolderRoot& root, const std::string& tree);
    // When set, a file of the image tree that is not written in full (the
    // configuration, the database, a branding file) fails the build instead
    // of leaving a gap in the image. The batch mode sets it. The branding
    // files are required either way: an image without them is not the one asked for.
    bool m_wholeTreeRequired = false;
    // When set, a failed build leaves its tree in the temporary folder for
    // inspection (the batch mode); otherwise it is removed, so a run that
    // failed on a full temporary folder does not keep it full.
    bool m_keepFailedTree = false;

    // --- drive table (drive_discovery.cpp) ---
    std::array<u16, kMaxDrives> m_driveVolumeName{};
    std::array<std::uint64_t, kMaxDrives> m_driveSize{};
    std::int32_t m_selectedDrive = 0;

    // --- removable drives and the USB stick sequence (drive_discovery.cpp,
    //     find_disk.cpp, usb_prepare.cpp, setup_usb.cpp) ---
    // The disks this object sees; the system's unless a test sets its own.
    DiskService& diskService();
    void SetDiskService(DiskService* service) { m_diskService = service; }
    // Rebuilds `list` and the drive table; the first entry is selected.
    void RefreshDevices(MediaList& list);
    // Finds the stick of the selected entry by its identity.
    StickLocation LocateSelectedStick();
    // Polls up to 15 s for the stick's volume: by its identity, or on the
    // `expected` disk by the partition that was `written` (either may be null).
    // Returns the volume device, or empty.
    std::string FindDisk(const RemovableDisk* expected, const PartitionEntry* written);
    // Wipes, partitions and formats the stick; a failure ends the setup.
    // `written` receives partition 1 when a table was written.
    Outcome PrepareStick(const SetupRecord& request, const StickLocation& stick,
                         std::optional<PartitionEntry>& written);
    // Reads back, from the medium and not from the kernel's cache of it, the
    // disk's first `bootBytes` (partition table and boot code) and the
    // volume's reserved sectors, checks the file system with an independent
    // reader and matches every file `root` wrote with what was meant to be
    // there. False after a difference or a read failure (shown) or a cancel
    // (not shown).
    bool VerifyStick(FatVolumeRoot& root, const RemovableDisk& disk, std::uint64_t bootBytes);
    // Shows why a step on the stick failed: that the stick is gone or does
    // not answer, else `toolLine` (a tool's own words) when there is one,
    // else the system's text for `error`.
    void ShowStickFailure(const RemovableDisk& disk, const std::string& toolLine, int error);
    // The failure of a step of `kind` on the stick, as ShowStickFailure would show it.
    Outcome StickFailure(const RemovableDisk& disk, OutcomeKind kind, const std::string& toolLine,
                         int error);
    // Shows the box of a failed outcome (nothing when its step showed its own).
    void ShowOutcome(const Outcome& outcome);
    // Ends a worker routine with `outcome`: its box, the status, the dialog
    // closed. Returns 1 after success and 0 otherwise.
    int EndRun(const Outcome& outcome);
    // How the last ISO or stick run ended, for the front end that started it.
    Outcome m_lastOutcome;
    // True when the stick is gone: no longer listed, no device behind its
    // node, or a read that keeps failing over a few tries with pauses.
    bool StickGone(const RemovableDisk& disk);
    // Shows that the stick is gone, when it is; true then.
    bool ShowIfStickGone(const RemovableDisk& disk);
    // Shows that `what` could not be read back, with the system's reason.
    void ShowUnreadable(const RemovableDisk& disk, const std::string& what, int error);
    // Shows why a write to `target` failed; on a stick, as ShowStickFailure.
    void ShowWriteFailure(MediaRoot& target);
    // The stick the running setup writes, for the reasons of a failure.
    std::optional<RemovableDisk> m_setupDisk;
    // The worker routine; returns 1 after success and 0 after a failure.
    // The job itself is StickJob (stick_job.h).
    int SetupUSB();
    // Where the stick's tools come from (the formatter, mtools, the boot
    // installer): the stick writer's own root-owned folder, which may differ
    // from the installation folder it reads its files from. Empty: m_exeFolder.
    u16 m_toolFolder;
    std::string ToolFolder() const {
        return ToPath(m_toolFolder.empty() ? request_.m_exeFolder : m_toolFolder);
    }

    DiskService* m_diskService = nullptr;
    std::unique_ptr<DiskService> m_systemDiskService;

  private:
    AppServices& services_;
    ConfigModel config_;
    const SetupRecord& request_;
};

}  // namespace flintmere
