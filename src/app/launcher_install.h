// flintmere --install-launcher / --remove-launcher: the operator's desktop
// launcher and icons under the XDG data home, pointing at this folder as it
// is now, so a folder that was copied or moved is one command from a
// working launcher.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace flintmere {

inline constexpr char kDesktopId[] = "org.corvane.flintmere";

// The entry the folder carries (share/applications/) with Exec and TryExec
// naming `program`; nothing when the path cannot be written into an entry
// (a control character).
std::optional<std::string> LauncherEntry(const std::string& folderEntry,
                                         const std::string& program);

// $XDG_DATA_HOME when absolute, else $HOME/.local/share; empty when neither.
std::string DataHome();

// Files of the launcher relative to the folder's share/ and to the data home.
std::vector<std::string> LauncherIcons();

// Installs or removes; reports on standard output or error. Returns the
// exit status: 0 done, 1 failed.
int RunLauncherCommand(bool install, const std::string& program);

}  // namespace flintmere
