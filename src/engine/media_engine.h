// The media preparation part of the application object: the worker and its
// progress channel, the tools it runs, the copies, the ISO and USB sequences.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "config/config_model.h"
#include "engine/progress_dialog.h"

namespace flintmere {

constexpr int kMaxDrives = 32;

class MediaEngine : public ConfigModel {
public:
    explicit MediaEngine(PlatformServices services) : ConfigModel(std::move(services)) {}
    ~MediaEngine() override;

    // --- worker and progress channel (worker_channel.cpp) ---
    ProgressDialog* m_pProgressDlg = nullptr;
    std::atomic<int> m_setupStatus{SetupError};
    std::jthread m_hWorkerThread;
    std::stop_source m_workerStop;

    void WaitProgressReady();
    void SetProgressPos(int position);
    // Leaves `position` as it was when there is no dialog.
    void GetProgressPos(int& position);
    void SetProgressAction(const u16& text);
    void CloseProgress();
    // A fixed pause of the sequences; false when the run was cancelled.
    bool Pause(int milliseconds);
    bool StopRequested() const;
    // Starts `routine` on the worker thread with a fresh stop source.
    void StartWorker(std::function<int()> routine);
    // Asks the worker to stop at its next stop point and waits for it to end.
    void CancelWorker();
    void WaitWorker();

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

    // --- copy engine (copy_engine.cpp) ---
    // Copies the distribution folder (m_distFolder) to the root of `target`,
    // moving the bar from its current position to `endPosition`.
    bool CopyFiles(MediaRoot& target, int endPosition);
    bool GetFilesSize(const std::string& sourceFolder);
    bool CopyDirFiles(const std::string& sourceFolder, MediaRoot& target,
                      const std::string& targetFolder);
    // Per-chunk progress of one file; false stops the copy (cancel).
    bool CopyProgressRoutine(std::uint64_t fileSize, std::uint64_t bytesDone);

    // --- installation source checks (source_checks.cpp) ---
    bool CheckPendriveSoftware();
    bool CheckInstallImage();

    // --- generated files (generated_files.cpp) ---
    bool CreateMiscFile(MediaRoot& target, std::string_view name, std::string_view text);
    bool CreateBinaryFile(MediaRoot& target, std::string_view relPath,
                          std::span<const std::uint8_t> data);
    // Reads the boot menu at `sourcePath`, inserts the virtual-CD flag and
    // writes it to `relPath` on `target`.
    bool PatchBootConfig(const std::string& sourcePath, MediaRoot& target, std::string_view relPath);
    // `reportStep(item)` announces each branding item; false stops (cancel).
    bool WriteBrandingFiles(MediaRoot& target, const std::function<bool(const u16&)>& reportStep);

    // --- ISO image builder (iso_builder.cpp) ---
    // The worker routine; returns 1 after success and 0 after a failure.
    int SetupISO();

    // --- drive table (drive_discovery.cpp) ---
    std::array<u16, kMaxDrives> m_driveVolumeName{};
    std::array<std::uint64_t, kMaxDrives> m_driveSize{};
    std::int32_t m_selectedDrive = 0;
};

}  // namespace flintmere
