// Where the program finds the tools it runs by name (the formatter, mtools,
// the partition tool). An installation folder that carries its own tools in
// a "tools" folder beside the program uses those alone: a tool missing there
// is missing, never picked up from whatever PATH holds. A folder without one
// (a development build) uses the system's tools.
#pragma once

#include <string>
#include <vector>

namespace flintmere {

// The tools a folder with its own tools must carry.
extern const std::vector<std::string> kBundledTools;

// The path to run `name` by, for the program in `programFolder` (no
// trailing '/'; empty for the system's tools).
std::string ToolPath(const std::string& programFolder, const std::string& name);

// The first of kBundledTools that `programFolder` should carry but lacks
// (not an executable file), or "" when none is missing or the folder uses
// the system's tools.
std::string MissingTool(const std::string& programFolder);

}  // namespace flintmere
