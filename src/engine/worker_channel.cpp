#include "engine/media_engine.h"

namespace flintmere {

MediaEngine::~MediaEngine() { CancelWorker(); }

void MediaEngine::WaitProgressReady() {
    if (!m_pProgressDlg) return;
    while (!m_pProgressDlg->IsReady()) {
        if (!Pause(100)) return;
    }
}

void MediaEngine::SetProgressPos(int position) {
    if (m_pProgressDlg) m_pProgressDlg->SetPos(position);
}

void MediaEngine::GetProgressPos(int& position) {
    if (m_pProgressDlg) position = m_pProgressDlg->GetPos();
}

void MediaEngine::SetProgressAction(const u16& text) {
    if (m_pProgressDlg) m_pProgressDlg->SetAction(text);
}

void MediaEngine::CloseProgress() {
    if (m_pProgressDlg) m_pProgressDlg->RequestClose();
}

bool MediaEngine::Pause(int milliseconds) {
    return clock().Sleep(std::chrono::milliseconds(milliseconds), m_workerStop.get_token());
}

bool MediaEngine::StopRequested() const { return m_workerStop.stop_requested(); }

void MediaEngine::StartWorker(std::function<int()> routine) {
    WaitWorker();
    m_workerStop = std::stop_source();
    m_hWorkerThread = std::jthread([routine = std::move(routine)] { routine(); });
}

void MediaEngine::CancelWorker() {
    m_workerStop.request_stop();
    WaitWorker();
}

void MediaEngine::WaitWorker() {
    if (m_hWorkerThread.joinable()) m_hWorkerThread.join();
}

}  // namespace flintmere
