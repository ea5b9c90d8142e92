#include "app/command_line.h"

#include <gtest/gtest.h>

#include "rollout/rollout_command.h"

namespace flintmere {
namespace {

using Action = ProgramCommand::Action;
using Args = std::vector<std::string>;

TEST(CommandLine, PicksTheCommandAsGnuProgramsRead) {
    const struct {
        Args args;
        Action action;
        Args operands;
    } cases[] = {
        {{}, Action::Window, {}},
        {{"--"}, Action::Window, {}},
        {{"-h"}, Action::Help, {}},
        {{"--help", "--bogus"}, Action::Help, {}},
        {{"--bogus", "--help"}, Action::Usage, {}},
        {{"site.xml", "--version"}, Action::Version, {}},
        {{"--help=x"}, Action::Usage, {}},
        {{"site.xml", "vm1"}, Action::Batch, {"site.xml", "vm1"}},
        {{"--", "-site.xml", "-vm"}, Action::Batch, {"-site.xml", "-vm"}},
        {{"--", "--help"}, Action::Usage, {}},
        {{"-", "vm1"}, Action::Usage, {}},
        {{"site.xml", "a", "b"}, Action::Usage, {}},
        {{"site.xml", "--bogus"}, Action::Usage, {}},
        {{"--install-launcher"}, Action::InstallLauncher, {}},
        {{"--remove-launcher"}, Action::RemoveLauncher, {}},
        {{"--install-launcher", "site.xml"}, Action::Usage, {}},
        {{"--install-launcher", "--remove-launcher"}, Action::Usage, {}},
        {{"units.csv"}, Action::Rollout, {}},
        {{"site.xml", "--stick=/dev/sdb"}, Action::Rollout, {}},
        {{"--json", "--", "-units.csv"}, Action::Rollout, {}},
    };
    for (const auto& c : cases) {
        const ProgramCommand command = ParseProgramCommand(c.args);
        const std::string line = ::testing::PrintToString(c.args);
        EXPECT_EQ(command.action, c.action) << line << " " << command.error;
        EXPECT_EQ(command.operands, c.operands) << line;
        EXPECT_EQ(command.action == Action::Usage, !command.error.empty()) << line;
    }
}

TEST(CommandLine, RolloutTakesEitherSpellingOfAValue) {
    const struct {
        Args args;
        std::string error;  // empty: accepted as below
        std::string path;
        std::string iso;
        Args sticks;
    } cases[] = {
        {{"u.csv", "--iso", "img"}, "", "u.csv", "img", {}},
        {{"u.csv", "--iso=img"}, "", "u.csv", "img", {}},
        {{"--iso=a=b", "u.csv"}, "", "u.csv", "a=b", {}},
        {{"u.csv", "--iso", "-dir"}, "", "u.csv", "-dir", {}},
        {{"--stick=/dev/sdb", "--stick", "/dev/sdc", "--", "-u.csv"},
         "",
         "-u.csv",
         "",
         {"/dev/sdb", "/dev/sdc"}},
        {{"u.csv", "--iso="}, "--iso needs a value", "", "", {}},
        {{"u.csv", "--iso"}, "--iso needs a value", "", "", {}},
        {{"u.csv", "--iso", "--json"}, "--iso needs a value", "", "", {}},
        {{"U.CSV", "--stick=--yes"}, "", "U.CSV", "", {"--yes"}},
        {{"u.csv", "--yes=1", "--iso", "x"}, "--yes takes no value", "", "", {}},
        {{"u.csv", "--iso", "a", "--iso=b"}, "--iso is given twice", "", "", {}},
        {{"u.csv", "v.csv", "--iso", "a"}, "unexpected argument v.csv", "", "", {}},
        {{"u.csv", "--", "--iso", "a"}, "unexpected argument --iso", "", "", {}},
        {{"u.csv", "--isox", "a"}, "unknown option --isox", "", "", {}},
    };
    for (const auto& c : cases) {
        std::string error;
        const auto command = ParseRolloutCommand(c.args, error);
        const std::string line = ::testing::PrintToString(c.args);
        if (!c.error.empty()) {
            EXPECT_FALSE(command) << line;
            EXPECT_TRUE(error.starts_with(c.error)) << line << ": " << error;
            continue;
        }
        ASSERT_TRUE(command) << line << ": " << error;
        EXPECT_EQ(command->path, c.path) << line;
        EXPECT_EQ(command->isoFolder, c.iso) << line;
        EXPECT_EQ(command->sticks, c.sticks) << line;
    }
}

}  // namespace
}  // namespace flintmere
