// The application object: owns all state of the run, composed of the
// configuration, engine and platform parts.
#pragma once

#include <string>
#include <vector>

#include "engine/media_engine.h"

namespace flintmere {

class CflintmereApp : public MediaEngine {
  public:
    explicit CflintmereApp(PlatformServices services) : MediaEngine(std::move(services)) {}

    // The whole run: folders, log, start and version lines, then the window or
    // the batch mode. `args` are the arguments after the program name.
    // Returns the process exit status.
    int InitInstance(const std::vector<std::string>& args);
    // m_exeFolder and m_distFolder from the path of the program file.
    void DeriveFolders();

    // Builds the ISO image named by the command line without a window.
    // Returns the exit status: 0 only when the database was imported and the image built.
    int RunBatchIso(const u16& commandLine);
};

}  // namespace flintmere
