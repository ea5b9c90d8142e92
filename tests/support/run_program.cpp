#include "support/run_program.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace flintmere::testing {
namespace {

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') {
            q += "'\\''";
        } else {
            q += c;
        }
    }
    return q + "'";
}

}  // namespace

ProgramResult RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         const std::string& workingDir) {
    char outPattern[] = "/tmp/flintmere-run-XXXXXX";
    int fd = ::mkstemp(outPattern);
    ::close(fd);
    const std::string outPath = outPattern;
    const std::string errPath = outPath + ".err";
    std::string command;
    if (!workingDir.empty()) command += "cd " + Quote(workingDir) + " && ";
    command += "env";
    for (const auto& e : env) command += " " + Quote(e);
    for (const auto& a : argv) command += " " + Quote(a);
    command += " >" + Quote(outPath) + " 2>" + Quote(errPath) + " </dev/null";
    int status = std::system(command.c_str());
    ProgramResult result;
    if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.exitStatus = 128 + WTERMSIG(status);
    result.out = Slurp(outPath);
    result.err = Slurp(errPath);
    std::filesystem::remove(outPath);
    std::filesystem::remove(errPath);
    return result;
}

std::string MissingTool(const std::vector<std::string>& tools) {
    for (const std::string& tool : tools) {
        if (RunProgram({"sh", "-c", "command -v \"$0\"", tool}).exitStatus != 0) return tool;
    }
    return {};
}

}  // namespace flintmere::testing
