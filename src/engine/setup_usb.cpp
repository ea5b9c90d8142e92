#include "engine/media_engine.h"
#include "engine/stick_job.h"

namespace flintmere {

int MediaEngine::SetupUSB() {
    services_.WriteLog("SetupUSB(): start");
    m_setupStatus = SetupError;
    m_lastOutcome = Outcome();
    WaitProgressReady();
    return EndRun(StickJob(*this, request_).Run());
}

}  // namespace flintmere
