// The media preparation part of the application object: the worker and its
// progress channel, the tools it runs, the copies, the ISO and USB sequences.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>
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

    // --- drive table (drive_discovery.cpp) ---
    std::array<u16, kMaxDrives> m_driveVolumeName{};
    std::array<std::uint64_t, kMaxDrives> m_driveSize{};
    std::int32_t m_selectedDrive = 0;
};

}  // namespace flintmere
