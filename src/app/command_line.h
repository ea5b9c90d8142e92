// The program's command line: which of its commands the arguments ask for.
// One list of options for all of them; the rollout reads its own part of
// the same list (rollout/rollout_command.h).
#pragma once

#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "platform/command_line.h"

namespace flintmere {

struct ProgramCommand {
    enum class Action {
        Window,
        Batch,
        Rollout,
        Help,
        Version,
        InstallLauncher,
        RemoveLauncher,
        Usage,
    };
    Action action = Action::Window;
    std::vector<std::string> operands;  // Batch: the database, then the image name
    std::string error;                  // Usage: what is wrong
};

ProgramCommand ParseProgramCommand(const std::vector<std::string>& args);

// Every option the program takes.
std::span<const OptionRule> ProgramOptions();

// The --help text.
void PrintUsage(std::FILE* out);

}  // namespace flintmere
