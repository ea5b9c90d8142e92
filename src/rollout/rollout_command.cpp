#include "rollout/rollout_command.h"

#include <algorithm>

namespace flintmere {
namespace {

bool IsOption(const std::string& arg) {
    return arg == "--iso" || arg == "--stick" || arg == "--yes" || arg == "--json";
}

}  // namespace

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
    if (args.empty()) return false;
    if (HasExtension(args.front(), ".csv")) return true;
    return std::any_of(args.begin(), args.end(), IsOption);
}

std::optional<RolloutCommand> ParseRolloutCommand(const std::vector<std::string>& args,
                                                  std::string& error) {
    RolloutCommand command;
    if (args.empty() || args.front().starts_with("--")) {
        error = "the first argument is the units table, database or node.cfg to write";
        return std::nullopt;
    }
    command.path = args.front();
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
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool takesValue = arg == "--iso" || arg == "--stick";
        // "--iso --json" lacks its folder: an option is not a value.
        if (takesValue && (i + 1 >= args.size() || args[i + 1].empty() || IsOption(args[i + 1]))) {
            error = arg + " needs a value";
            return std::nullopt;
        }
        if (arg == "--iso") {
            if (!command.isoFolder.empty()) {
                error = "--iso is given twice";
                return std::nullopt;
            }
            command.isoFolder = args[++i];
        } else if (arg == "--stick") {
            command.sticks.push_back(args[++i]);
        } else if (arg == "--yes") {
            command.yes = true;
        } else if (arg == "--json") {
            command.json = true;
        } else {
            error = "unknown argument " + arg;
            return std::nullopt;
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
