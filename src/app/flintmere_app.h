// The application object: the composition root of a run. It owns the
// parts (services, request, configuration files, engine) and hands them to
// the front end the command line asks for.
#pragma once

#include <string>
#include <vector>

#include "engine/app_parts.h"

namespace flintmere {

class CflintmereApp {
  public:
    explicit CflintmereApp(PlatformServices services) : parts(std::move(services)) {}
    CflintmereApp(const CflintmereApp&) = delete;
    CflintmereApp& operator=(const CflintmereApp&) = delete;

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

    AppParts parts;
};

}  // namespace flintmere
