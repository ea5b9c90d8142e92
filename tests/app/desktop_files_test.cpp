// The program as the desktop and the shell see it: its options in --help,
// the manual page and the completion; the launcher it writes for a folder
// that moved; the completion's disks and files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <regex>
#include <set>

#include "app/command_line.h"
#include "app/launcher_install.h"
#include "support/fakes.h"
#include "support/install_folder.h"
#include "support/run_program.h"

namespace flintmere {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileBytes;
using testing::RunProgram;
using testing::TempDir;
using testing::WriteFileBytes;

const std::string kCompletion = FLINTMERE_SOURCE_DIR "/data/flintmere.bash-completion";

std::set<std::string> OptionsIn(const std::string& text) {
    std::set<std::string> found;
    const std::regex option(R"((^|[^\w-])(--[a-z][a-z-]+|-[a-z])\b)");
    for (std::sregex_iterator it(text.begin(), text.end(), option), end; it != end; ++it) {
        found.insert((*it)[2]);
    }
    return found;
}

// What the completion offers for the words of a command line.
std::vector<std::string> Complete(const std::vector<std::string>& words,
                                  const std::vector<std::string>& env = {},
                                  const std::string& dir = "") {
    std::string script = "source '" + kCompletion + "'; COMP_WORDS=(";
    for (const std::string& w : words) script += "'" + w + "' ";
    script += "); COMP_CWORD=" + std::to_string(words.size() - 1) +
              "; _flintmere; printf '%s\\n' \"${COMPREPLY[@]}\" | sort";
    const auto result = RunProgram({"bash", "-c", script}, env, dir);
    std::vector<std::string> lines;
    std::istringstream in(result.out);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

TEST(DesktopFiles, HelpManualPageAndCompletionListEveryOption) {
    std::set<std::string> table;
    for (const OptionRule& rule : ProgramOptions()) {
        table.insert(std::string(rule.name));
        if (!rule.alias.empty()) table.insert(std::string(rule.alias));
    }
    const auto help = RunProgram({FLINTMERE_BINARY, "--help"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_EQ(OptionsIn(help.out), table) << help.out;
    const std::string page = ReadFileBytes(FLINTMERE_SOURCE_DIR "/docs/man/flintmere.1.scd");
    const std::string options = page.substr(page.find("\n# OPTIONS"));
    EXPECT_EQ(OptionsIn(options.substr(0, options.find("\n# ", 2))), table);
    const std::vector<std::string> offered = Complete({"flintmere", "-"});
    EXPECT_EQ(std::set<std::string>(offered.begin(), offered.end()), table);
}

TEST(DesktopFiles, LauncherEntryQuotesThePathForExec) {
    const std::string folderEntry =
        ReadFileBytes(FLINTMERE_SOURCE_DIR "/data/org.corvane.flintmere.desktop");
    const struct {
        std::string program;
        std::string exec;
        std::string tryExec;
    } cases[] = {
        {"/opt/kit/flintmere", R"("/opt/kit/flintmere")", "/opt/kit/flintmere"},
        {"/media/My Stick/flintmere", R"("/media/My Stick/flintmere")",
         "/media/My Stick/flintmere"},
        {R"(/a"b/$c`d/e\f/100%/flintmere)", R"("/a\\"b/\\$c\\`d/e\\\\f/100%%/flintmere")",
         R"(/a"b/$c`d/e\\f/100%/flintmere)"},
    };
    for (const auto& c : cases) {
        const auto entry = LauncherEntry(folderEntry, c.program);
        ASSERT_TRUE(entry) << c.program;
        EXPECT_NE(entry->find("\nExec=" + c.exec + "\n"), std::string::npos) << *entry;
        EXPECT_NE(entry->find("\nTryExec=" + c.tryExec + "\n"), std::string::npos) << *entry;
        EXPECT_NE(entry->find("\nIcon=org.corvane.flintmere\n"), std::string::npos);
    }
    EXPECT_FALSE(LauncherEntry(folderEntry, "/opt/a\nExec=/bin/evil/flintmere"));
}

// The program an Exec line starts: its first argument, unquoted as a
// desktop reads it.
std::string ExecProgram(const std::string& entry) {
    const std::size_t at = entry.find("\nExec=");
    std::string value = entry.substr(at + 6, entry.find('\n', at + 1) - at - 6);
    std::string unescaped;
    for (std::size_t i = 0; i < value.size(); ++i) {
        unescaped += value[i] == '\\' && i + 1 < value.size() ? value[++i] : value[i];
    }
    std::string program;
    const bool quoted = !unescaped.empty() && unescaped[0] == '"';
    for (std::size_t i = quoted ? 1 : 0; i < unescaped.size(); ++i) {
        const char c = unescaped[i];
        if (quoted && c == '"') break;
        if (!quoted && c == ' ') break;
        if (c == '\\' && i + 1 < unescaped.size()) {
            program += unescaped[++i];
        } else if (c == '%' && i + 1 < unescaped.size() && unescaped[i + 1] == '%') {
            program += unescaped[++i];
        } else {
            program += c;
        }
    }
    return program;
}

TEST(DesktopFiles, AMovedFolderIsOneCommandFromAWorkingLauncher) {
    TempDir tmp;
    const std::string made = tmp.Path() + "/made";
    FLINTMERE_REQUIRE_INSTALL_FOLDER(made, true);
    const std::string moved = tmp.Path() + "/my \"kit\" $HOME";
    fs::rename(made, moved);
    const std::string data = tmp.Path() + "/data";
    const std::vector<std::string> env = {"XDG_DATA_HOME=" + data, "HOME=/nonexistent"};
    const auto installed = RunProgram({moved + "/flintmere", "--install-launcher"}, env);
    ASSERT_EQ(installed.exitStatus, 0) << installed.err;
    const std::string entryPath = data + "/applications/org.corvane.flintmere.desktop";
    const std::string entry = ReadFileBytes(entryPath);
    const std::string program = ExecProgram(entry);
    EXPECT_EQ(program, moved + "/flintmere") << entry;
    const auto started = RunProgram({program, "--version"});
    EXPECT_EQ(started.exitStatus, 0);
    EXPECT_EQ(started.out, std::string("flintmere ") + FLINTMERE_VERSION + "\n");
    for (const std::string& icon : LauncherIcons()) {
        EXPECT_EQ(ReadFileBytes(data + "/" + icon), ReadFileBytes(moved + "/share/" + icon));
    }
    if (testing::MissingTool({"desktop-file-validate"}).empty()) {
        const auto valid = RunProgram({"desktop-file-validate", entryPath});
        EXPECT_EQ(valid.exitStatus, 0);
        EXPECT_EQ(valid.out + valid.err, "");
    }
    const auto removed = RunProgram({moved + "/flintmere", "--remove-launcher"}, env);
    EXPECT_EQ(removed.exitStatus, 0) << removed.err;
    EXPECT_FALSE(fs::exists(entryPath));
    for (const std::string& icon : LauncherIcons()) EXPECT_FALSE(fs::exists(data + "/" + icon));
}

TEST(DesktopFiles, CompletionOffersSticksAsDiscoveryListsThemAndTheFilesItReads) {
    TempDir tmp;
    const std::string sys = tmp.Path() + "/sys";
    // name, where its node sits, removable, size, SCSI type
    const struct {
        std::string name, device, removable, size, type;
    } disks[] = {
        {"sdb", "pci0/usb1/1-1/host6/block/sdb", "0", "15633408", "0"},
        {"sdc", "pci0/ata1/host2/block/sdc", "1", "7818240", "0"},
        {"sda", "pci0/ata1/host1/block/sda", "0", "500118192", "0"},
        {"sdd", "pci0/usb1/1-2/host7/block/sdd", "1", "0", "0"},
        {"sde", "pci0/usb1/1-3/host8/block/sde", "1", "2097152", "5"},
        {"sr0", "pci0/usb1/1-4/host9/block/sr0", "1", "2097152", ""},
        {"loop0", "virtual/block/loop0", "1", "2097152", ""},
    };
    fs::create_directories(sys + "/block");
    for (const auto& d : disks) {
        const std::string node = sys + "/devices/" + d.device;
        fs::create_directories(node + "/device");
        WriteFileBytes(node + "/removable", d.removable + "\n");
        WriteFileBytes(node + "/size", d.size + "\n");
        if (!d.type.empty()) WriteFileBytes(node + "/device/type", d.type + "\n");
        fs::create_directory_symlink(node, sys + "/block/" + d.name);
    }
    const std::vector<std::string> env = {"FLINTMERE_SYSFS=" + sys};
    const std::vector<std::string> sticks = {"/dev/sdb", "/dev/sdc"};
    EXPECT_EQ(Complete({"flintmere", "u.csv", "--stick", ""}, env), sticks);
    EXPECT_EQ(Complete({"flintmere", "u.csv", "--stick", "=", ""}, env), sticks);
    EXPECT_EQ(Complete({"flintmere", "u.csv", "--stick", "/dev/sdc"}, env),
              std::vector<std::string>{"/dev/sdc"});

    const std::string work = tmp.Path() + "/work";
    fs::create_directories(work + "/sub");
    for (const char* f : {"a.xml", "B.CSV", "node.cfg", "notes.txt", "-odd.xml"}) {
        WriteFileBytes(work + "/" + f, "");
    }
    const std::vector<std::string> files = {"-odd.xml", "B.CSV", "a.xml", "node.cfg", "sub"};
    EXPECT_EQ(Complete({"flintmere", ""}, {}, work), files);
    EXPECT_EQ(Complete({"flintmere", "--", "-"}, {}, work), std::vector<std::string>{"-odd.xml"});
    EXPECT_EQ(Complete({"flintmere", "u.csv", "--iso", ""}, {}, work),
              std::vector<std::string>{"sub"});
}

}  // namespace
}  // namespace flintmere
