#include "rollout/rollout_command.h"

#include <algorithm>
#include <iterator>

namespace flintmere {

const OptionRule kRolloutOptions[4] = {
    {"--iso", true, {}},
    {"--stick", true, {}},
    {"--yes", false, {}},
    {"--json", false, {}},
};

bool HasExtension(std::string_view path, std::string_view extension) {
    const std::string_view name = path.substr(path.rfind('/') + 1);
    if (name.size() <= extension.size()) return false;
    const std::string_view end = name.substr(name.size() - extension.size());
    return std::equal(end.begin(), end.end(), extension.begin(), extension.end(),
                      [](char a, char b) {
                          const auto lower = [](char c) {
                              return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
                          };
                          return lower(a) == lower(b);
                      });
}

bool IsRolloutCommand(const std::vector<std::string>& args) {
    const SplitCommandLine split = SplitArguments(args, kRolloutOptions);
    if (!split.operands.empty() && HasExtension(split.operands.front(), ".csv")) return true;
    // An unknown option is kept by its name, so only the rollout's own count.
    return std::any_of(split.options.begin(), split.options.end(), [](const GivenOption& o) {
        return std::any_of(std::begin(kRolloutOptions), std::end(kRolloutOptions),
                           [&o](const OptionRule& rule) { return rule.name == o.name; });
    });
}

std::optional<RolloutCommand> ParseRolloutCommand(const std::vector<std::string>& args,
                                                  std::string& error) {
    const SplitCommandLine split = SplitArguments(args, kRolloutOptions);
    if (!split.error.empty()) {
        error = split.error;
        return std::nullopt;
    }
    RolloutCommand command;
    if (split.operands.empty()) {
        error = "the first argument is the units table, database or node.cfg to write";
        return std::nullopt;
    }
    if (split.operands.size() > 1) {
        error = "unexpected argument " + split.operands[1] +
                " (one table, database or node.cfg at a time)";
        return std::nullopt;
    }
    command.path = split.operands.front();
    if (HasExtension(command.path, ".csv")) {
        command.source = RolloutCommand::Source::Table;
    } else if (HasExtension(command.path, ".xml")) {
        command.source = RolloutCommand::Source::Database;
    } else if (HasExtension(command.path, ".cfg")) {
        command.source = RolloutCommand::Source::NodeFile;
    } else {
        error =
            "the first argument must be a units table (.csv), a database (.xml) or a "
            "node.cfg (.cfg)";
        return std::nullopt;
    }
    for (const GivenOption& option : split.options) {
        if (option.name == "--iso") {
            if (!command.isoFolder.empty()) {
                error = "--iso is given twice";
                return std::nullopt;
            }
            command.isoFolder = option.value;
        } else if (option.name == "--stick") {
            command.sticks.push_back(option.value);
        } else if (option.name == "--yes") {
            command.yes = true;
        } else if (option.name == "--json") {
            command.json = true;
        }
    }
    if (command.isoFolder.empty() == command.sticks.empty()) {
        error = "give either --iso DIR or --stick DEVICE";
        return std::nullopt;
    }
    if (command.source != RolloutCommand::Source::Table) {
        if (!command.isoFolder.empty()) {
            error =
                "a database or node.cfg is written to one stick (--stick DEVICE); a "
                "database's image is made with: flintmere SITE.xml [NAME]";
            return std::nullopt;
        }
        if (command.sticks.size() != 1) {
            error = "a database or node.cfg is written to exactly one stick";
            return std::nullopt;
        }
    }
    return command;
}

}  // namespace flintmere
