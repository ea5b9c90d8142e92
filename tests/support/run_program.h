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

// The first of `tools` that is not on the PATH; empty when all are.
std::string MissingTool(const std::vector<std::string>& tools);

}  // namespace flintmere::testing

// Skips the test when a tool it runs is not installed.
#define FLINTMERE_REQUIRE_TOOLS(...)                                                   \
    do {                                                                               \
        const std::string missing_ = ::flintmere::testing::MissingTool({__VA_ARGS__}); \
        if (!missing_.empty())                                                         \
            GTEST_SKIP() << missing_ << " is not installed (scripts/install-deps)";    \
    } while (0)

namespace flintmere::testing {}  // namespace flintmere::testing
