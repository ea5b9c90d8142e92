#include "engine/media_engine.h"
#include "engine/stick_job.h"

namespace flintmere {

int MediaEngine::SetupUSB() {
    services_.WriteLog("SetupUSB(): start");
    m_setupStatus = SetupError;
    m_lastOutcome = Outcome();
    WaitProgressReady();
    StickJob job(*this, request_);
    const int result = EndRun(job.Run());
    if (job.PausesAtEnd()) Pause(500);
    return result;
}

}  // namespace flintmere
