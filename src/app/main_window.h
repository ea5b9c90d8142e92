#pragma once

namespace flintmere {

class CflintmereApp;

// Opens the window: checks for a display, loads the window module from the
// program's folder and runs it until it closes. Returns the process exit
// status; 1 with a message on standard error when there is no display or
// the module or a library it needs cannot be loaded.
int RunMainWindow(CflintmereApp& app);

}  // namespace flintmere
