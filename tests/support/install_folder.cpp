#include "support/install_folder.h"

#include "support/run_program.h"

namespace flintmere::testing {

InstallFolder MakeInstallFolder(const std::string& path, bool withProgram) {
    const std::string script = FLINTMERE_SOURCE_DIR "/scripts/make-install-folder";
    const ProgramResult made =
        withProgram ? RunProgram({"bash", script, path},
                                 {std::string("FLINTMERE_BIN=") + FLINTMERE_BINARY,
                                  std::string("FLINTMERE_WRITER_BIN=") + FLINTMERE_TEST_WRITER})
                    : RunProgram({"bash", script, "--no-program", path});
    return {made.exitStatus, made.err};
}

}  // namespace flintmere::testing
