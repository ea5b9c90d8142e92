// GNU-style splitting of a command line into options and operands: long
// options as "--name value" or "--name=value", a short alias, and "--"
// before operands that begin with '-'. What the options mean is the
// caller's; this only knows their names and whether they take a value.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace flintmere {

struct OptionRule {
    std::string_view name;  // "--iso"
    bool takesValue = false;
    std::string_view alias;  // "-h", or empty
};

struct GivenOption {
    std::string name;  // the rule's long name, whichever spelling was given
    std::string value;
};

struct SplitCommandLine {
    std::vector<GivenOption> options;   // in the order given
    std::vector<std::string> operands;  // in the order given
    // The first fault, or empty. Splitting goes on past it, so a caller can
    // still tell which command was meant (and whose usage to print).
    std::string error;
    std::size_t errorIndex = 0;  // options before this one came before the fault

    bool Has(std::string_view name) const;
};

SplitCommandLine SplitArguments(const std::vector<std::string>& args,
                                std::span<const OptionRule> rules);

}  // namespace flintmere
