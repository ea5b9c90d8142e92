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

    // Exit statuses of the batch mode; a signal that cancels the run gives
    // 128 + its number.
    static constexpr int kExitDone = 0;         // imported, image in place
    static constexpr int kExitNotBuilt = 1;     // the build failed: no new image
    static constexpr int kExitUsage = 2;        // no .xml database first, or a third argument
    static constexpr int kExitNotImported = 3;  // image built from the reset record
    static constexpr int kExitRefused = 4;      // a database value would change node.cfg

    // Builds the ISO image without a window: `args` are the database (ending
    // in ".xml") and, optionally, the image's name without ".iso". Returns
    // the exit status: 0 only when the database was imported and the image built.
    int RunBatchIso(const std::vector<u16>& args);
};

}  // namespace flintmere
