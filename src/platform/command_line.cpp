#include "platform/command_line.h"

#include <algorithm>

namespace flintmere {
namespace {

const OptionRule* Find(std::span<const OptionRule> rules, std::string_view given) {
    for (const OptionRule& rule : rules) {
        if (given == rule.name || (!rule.alias.empty() && given == rule.alias)) return &rule;
    }
    return nullptr;
}

}  // namespace

bool SplitCommandLine::Has(std::string_view name) const {
    return std::any_of(options.begin(), options.end(),
                       [name](const GivenOption& o) { return o.name == name; });
}

SplitCommandLine SplitArguments(const std::vector<std::string>& args,
                                std::span<const OptionRule> rules) {
    SplitCommandLine split;
    auto fault = [&split](std::string text) {
        if (!split.error.empty()) return;
        split.error = std::move(text);
        split.errorIndex = split.options.size();
    };
    bool operandsOnly = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        // A lone "-" is an operand, as GNU programs take it (standard input).
        if (operandsOnly || arg.size() < 2 || arg.front() != '-') {
            split.operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            operandsOnly = true;
            continue;
        }
        const std::size_t equals = arg.starts_with("--") ? arg.find('=') : std::string::npos;
        const std::string given = arg.substr(0, equals);
        const OptionRule* rule = Find(rules, given);
        if (rule == nullptr) {
            fault("unknown option " + given);
            split.options.push_back({given, {}});
            continue;
        }
        GivenOption option{std::string(rule->name), {}};
        if (equals != std::string::npos) {
            option.value = arg.substr(equals + 1);
            if (!rule->takesValue) fault(given + " takes no value");
        } else if (rule->takesValue && i + 1 < args.size()) {
            // The next argument is the value unless it is one of the options
            // ("--iso --json" lacks its folder), so "--iso -x" names "-x".
            const std::string& next = args[i + 1];
            const bool isOption =
                next.starts_with("-") && Find(rules, next.substr(0, next.find('='))) != nullptr;
            if (!isOption) option.value = args[++i];
        }
        if (rule->takesValue && option.value.empty()) fault(given + " needs a value");
        split.options.push_back(std::move(option));
    }
    return split;
}

}  // namespace flintmere
