#pragma once

namespace flintmere {

class CflintmereApp;

// Runs the main dialog modally; returns the process exit status. Provided by
// the window front end when it is built in.
int RunMainWindow(CflintmereApp& app);

}  // namespace flintmere
