// The command lines that write media without the window:
//   flintmere UNITS.csv --iso DIR [--json]
//   flintmere UNITS.csv --stick DEVICE [--stick DEVICE ...] [--yes] [--json]
//   flintmere SITE.xml --stick DEVICE [--yes] [--json]
//   flintmere node.cfg --stick DEVICE [--yes] [--json]
// Options may come before or after the file, as "--iso DIR" or "--iso=DIR";
// "--" ends the options, for a file whose name begins with '-'.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/command_line.h"

namespace flintmere {

struct RolloutCommand {
    enum class Source { Table, Database, NodeFile };
    Source source = Source::Table;
    std::string path;       // the table, database or node.cfg
    std::string isoFolder;  // --iso; empty for sticks
    std::vector<std::string> sticks;
    bool yes = false;
    bool json = false;
};

// The rollout's options; the program's own list includes them.
extern const OptionRule kRolloutOptions[4];

// Whether the file name `path` ends in `extension` (".csv"), letter case
// ignored, with a name before it: a spreadsheet on another system writes
// UNITS.CSV.
bool HasExtension(std::string_view path, std::string_view extension);

// True when `args` are meant for a rollout rather than the window or the
// batch image: a .csv first, or any of the rollout's options.
bool IsRolloutCommand(const std::vector<std::string>& args);

// The command, or nothing with `error` saying what is wrong.
std::optional<RolloutCommand> ParseRolloutCommand(const std::vector<std::string>& args,
                                                  std::string& error);

}  // namespace flintmere
