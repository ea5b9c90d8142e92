// Runs a program with arguments and an environment, capturing its output.
#pragma once

#include <string>
#include <vector>

namespace flintmere::testing {

struct ProgramResult {
    int exitStatus = -1;  // exit code, or 128 + signal
    std::string out;
    std::string err;
};

// `env` entries ("NAME=value") are added to the current environment.
ProgramResult RunProgram(const std::vector<std::string>& argv,
                         const std::vector<std::string>& env = {},
                         const std::string& workingDir = "");

}  // namespace flintmere::testing
