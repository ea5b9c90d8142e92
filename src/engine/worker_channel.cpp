#include <chrono>
#include <system_error>

#include "engine/media_engine.h"

namespace flintmere {

MediaEngine::~MediaEngine() {
    CancelWorker();
}

void MediaEngine::WaitProgressReady() {
    while (m_pProgressDlg && !StopRequested() && !m_pProgressDlg->IsReady()) {
        if (!Pause(100)) return;
    }
}

void MediaEngine::SetProgressPos(int position) {
    if (m_pProgressDlg && !StopRequested()) m_pProgressDlg->SetPos(position);
}

void MediaEngine::GetProgressPos(int& position) {
    if (m_pProgressDlg && !StopRequested()) position = m_pProgressDlg->GetPos();
}

void MediaEngine::SetProgressAction(const u16& text) {
    if (m_pProgressDlg && !StopRequested()) m_pProgressDlg->SetAction(text);
}

void MediaEngine::CloseProgress() {
    m_progressClosing = true;
    if (m_pProgressDlg && !StopRequested()) m_pProgressDlg->RequestClose();
}

bool MediaEngine::Pause(int milliseconds) {
    return services_.clock().Sleep(std::chrono::milliseconds(milliseconds),
                                   m_workerStop.get_token());
}

bool MediaEngine::StopRequested() const {
    return m_workerStop.stop_requested();
}

bool MediaEngine::StartWorker(std::function<int()> routine) {
    WaitWorker();
    m_workerStop = std::stop_source();
    m_progressClosing = false;
    m_setupStatus = SetupError;
    m_workerRunning = true;
    try {
        m_hWorkerThread = std::jthread([this, routine = std::move(routine)] {
            routine();
            m_workerRunning = false;
        });
    } catch (const std::system_error& e) {
        m_workerRunning = false;
        services_.DisplayErrorMessage(e.code().value());
        return false;
    }
    return true;
}

void MediaEngine::CancelSetup(const std::function<void()>& whileWaiting) {
    // A worker that has already asked to close has its outcome in place.
    const bool finishing = m_progressClosing.load();
    if (!finishing) m_workerStop.request_stop();
    WaitWorker(whileWaiting);
    // A run whose result is already in place keeps its outcome.
    if (!finishing && m_setupStatus != SetupComplete) m_setupStatus = SetupCanceled;
}

void MediaEngine::CloseSetup(const std::function<void()>& whileWaiting) {
    if (WorkerRunning()) {
        CancelSetup(whileWaiting);
    } else {
        WaitWorker(whileWaiting);
    }
}

void MediaEngine::CancelWorker() {
    m_workerStop.request_stop();
    WaitWorker();
}

void MediaEngine::WaitWorker(const std::function<void()>& whileWaiting) {
    if (!m_hWorkerThread.joinable()) return;
    if (m_hWorkerThread.get_id() == std::this_thread::get_id()) return;
    if (whileWaiting) {
        while (m_workerRunning) {
            whileWaiting();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    m_hWorkerThread.join();
}

}  // namespace flintmere
