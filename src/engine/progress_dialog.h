// What a worker needs of the progress dialog. The Qt dialog and the test
// recording implement it; all calls come from the worker thread. While the
// UI thread waits in MediaEngine::CancelSetup it keeps serving the
// synchronous calls through the wait's callback, so they cannot deadlock.
#pragma once

#include "platform/text.h"

namespace flintmere {

enum SetupStatus : int {
    SetupError = 0,
    SetupComplete = 1,
    SetupCanceled = 2,
    SetupBlocked = 3,
};

class ProgressDialog {
  public:
    virtual ~ProgressDialog() = default;
    // True once the dialog's window exists and its bar has the range 0..100.
    virtual bool IsReady() = 0;
    // Synchronous: return after the dialog has shown the change.
    virtual void SetPos(int position) = 0;
    virtual int GetPos() = 0;
    virtual void SetAction(const u16& text) = 0;
    // Asynchronous close request.
    virtual void RequestClose() = 0;
};

}  // namespace flintmere
