// Where the program runs: its own file and the temporary folder.
#pragma once

#include "platform/text.h"

namespace flintmere {

class SystemEnv {
  public:
    virtual ~SystemEnv() = default;
    // Absolute temporary folder with its trailing '/', or empty when there is none.
    virtual u16 TempFolder() = 0;
    // Full path of the running program file.
    virtual u16 ExecutablePath() = 0;
};

// $TMPDIR (when set and not empty, taken from the current directory when
// relative) or /tmp/; the program file from /proc/self/exe.
class LinuxSystemEnv final : public SystemEnv {
  public:
    u16 TempFolder() override;
    u16 ExecutablePath() override;
};

}  // namespace flintmere
