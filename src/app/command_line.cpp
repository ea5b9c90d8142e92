#include "app/command_line.h"

#include <array>

#include "rollout/rollout_command.h"
#include "rollout/rollout_run.h"

namespace flintmere {
namespace {

const char kUsage[] =
    "Usage: flintmere                      open the setup window\n"
    "       flintmere CONFIG.xml [NAME]    build CONFIG.iso (or NAME.iso) next to CONFIG.xml\n"
    "                                      from the appliance database, without a window\n"
    "%s"
    "       flintmere --install-launcher   add this folder's desktop launcher and icons\n"
    "                                      under $XDG_DATA_HOME (default ~/.local/share)\n"
    "       flintmere --remove-launcher    remove that launcher and its icons\n"
    "       flintmere --version            print the version\n"
    "       flintmere --help, -h           print this text\n"
    "\n"
    "An option's value may follow as the next argument or after '=' (--iso=DIR).\n"
    "\"--\" ends the options, for a file whose name begins with '-'.\n"
    "\n"
    "Run it from the installation folder (the folder holding kx/, syslinux/ and\n"
    "systemd-boot/). Each run writes $TMPDIR/flintmere_YYYYmmddHHMMSS.log.\n"
    "\n"
    "Exit status of a build: 0 built; 1 not built; 2 the first argument is not a\n"
    ".xml database, or there are more than two; 3 built from the reset configuration\n"
    "(the database could not be imported); 4 database refused (a value would change\n"
    "node.cfg); 128+N cancelled by signal N.\n"
    "\n"
    "Exit status of a table, database or node.cfg written to media: 0 every unit\n"
    "done; 1-63 that many units failed (63: 63 or more); 64 wrong command line;\n"
    "65 refused, nothing written; 66 not started (installation folder incomplete,\n"
    "image folder unfit, stick writer or pkexec missing, or the sticks were not\n"
    "confirmed); 67 the result file cannot be written; 128+N cancelled by signal N.\n"
    "\n"
    "See flintmere(1).\n";

ProgramCommand Usage(std::string error) {
    ProgramCommand command;
    command.action = ProgramCommand::Action::Usage;
    command.error = std::move(error);
    return command;
}

ProgramCommand Just(ProgramCommand::Action action) {
    ProgramCommand command;
    command.action = action;
    return command;
}

}  // namespace

std::span<const OptionRule> ProgramOptions() {
    // Made on first use: the rollout's part lives in another file.
    static const std::array<OptionRule, 8> options = {{
        {"--help", false, "-h"},
        {"--version", false, {}},
        {"--install-launcher", false, {}},
        {"--remove-launcher", false, {}},
        kRolloutOptions[0],
        kRolloutOptions[1],
        kRolloutOptions[2],
        kRolloutOptions[3],
    }};
    return options;
}

void PrintUsage(std::FILE* out) {
    std::fprintf(out, kUsage, kRolloutUsageText);
}

ProgramCommand ParseProgramCommand(const std::vector<std::string>& args) {
    using Action = ProgramCommand::Action;
    const SplitCommandLine split = SplitArguments(args, ProgramOptions());
    // As GNU programs do: --help or --version before any fault answers it,
    // whatever else the line holds.
    const std::size_t beforeFault = split.error.empty() ? split.options.size() : split.errorIndex;
    for (std::size_t i = 0; i < beforeFault; ++i) {
        if (split.options[i].name == "--help") return Just(Action::Help);
        if (split.options[i].name == "--version") return Just(Action::Version);
    }
    const bool install = split.Has("--install-launcher");
    if (install || split.Has("--remove-launcher")) {
        if (split.options.size() != 1 || !split.operands.empty()) {
            return Usage((install ? "--install-launcher" : "--remove-launcher") +
                         std::string(" is given alone"));
        }
        return Just(install ? Action::InstallLauncher : Action::RemoveLauncher);
    }
    // The rollout names its own faults, with its own usage and status.
    if (IsRolloutCommand(args)) return Just(Action::Rollout);
    if (!split.error.empty()) return Usage(split.error);
    if (split.operands.empty()) return Just(Action::Window);
    // The database and the name come as arguments of their own: only a
    // first one that names a .xml file, and at most one more, make a run.
    if (split.operands.size() > 2) return Usage("more than two arguments");
    if (!HasExtension(split.operands.front(), ".xml")) {
        return Usage("not a configuration database (.xml): " + split.operands.front());
    }
    ProgramCommand command = Just(Action::Batch);
    command.operands = split.operands;
    return command;
}

}  // namespace flintmere
