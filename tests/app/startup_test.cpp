#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "support/fakes.h"
#include "support/install_folder.h"
#include "support/run_program.h"

namespace flintmere {
namespace {

using testing::MakeInstallFolder;
using testing::ReadFileBytes;
using testing::RunProgram;
using testing::TempDir;

std::vector<std::string> LogFiles(const std::string& dir) {
    std::vector<std::string> logs;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() == ".log") logs.push_back(entry.path().string());
    }
    return logs;
}

TEST(Startup, FoldersComeFromTheProgramFile) {
    const struct {
        u16 exe;
        u16 exeFolder;
        u16 distFolder;
    } cases[] = {
        {u"/opt/tools/setup/flintmere", u"/opt/tools/setup", u"/opt/tools/setup/kx/"},
        {u"/flintmere", u"", u"/kx/"},
        {u"flintmere", u"", u"/kx/"},
    };
    for (const auto& c : cases) {
        testing::TestApp app;
        app.env.executablePath = c.exe;
        app.app->DeriveFolders();
        EXPECT_EQ(app->record.m_exeFolder, c.exeFolder);
        EXPECT_EQ(app->record.m_distFolder, c.distFolder);
    }
}

TEST(Startup, WithoutArgumentsTheLogBeginsWithTheStartAndVersionLines) {
    TempDir tmp;
    // No display: the window run ends at once, so the whole log is there.
    const auto result = RunProgram(
        {FLINTMERE_BINARY},
        {"TMPDIR=" + tmp.Path(), "QT_QPA_PLATFORM=", "DISPLAY=", "WAYLAND_DISPLAY="}, tmp.Path());
    const auto logs = LogFiles(tmp.Path());
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_TRUE(std::regex_match(std::filesystem::path(logs[0]).filename().string(),
                                 std::regex(R"(flintmere_\d{14}\.log)")));
    const std::string log = ReadFileBytes(logs[0]);
    const std::regex start(
        R"(^\[[A-Z][a-z]{2} [A-Z][a-z]{2} [ 123]\d \d\d:\d\d:\d\d\] USB Stick Setup tool is starting\r\n)"
        R"(\[[A-Z][a-z]{2} [A-Z][a-z]{2} [ 123]\d \d\d:\d\d:\d\d\] Internal file version: )" FLINTMERE_VERSION
        R"(\r\n)");
    EXPECT_TRUE(std::regex_search(log, start)) << log;
    // The last line closes the window's run.
    EXPECT_NE(log.rfind("] USB Stick Setup exit\r\n"), std::string::npos) << log;
    EXPECT_NE(result.exitStatus, 0);
    // Without the window front end built in, its stand-in says so instead.
    EXPECT_TRUE(result.err.find("no display") != std::string::npos ||
                result.err.find("not built") != std::string::npos)
        << result.err;
}

TEST(Startup, TheProgramLoadsNoToolkitOrDisplayLibrary) {
    FLINTMERE_REQUIRE_TOOLS("ldd");
    const auto result = RunProgram({"ldd", FLINTMERE_BINARY});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    for (const char* lib : {"libQt6", "libEGL", "libGL", "libX11", "libxcb", "libwayland"}) {
        EXPECT_EQ(result.out.find(lib), std::string::npos) << lib << " in\n" << result.out;
    }
}

TEST(Startup, AWindowModuleThatCannotBeLoadedEndsWithAClearMessage) {
    const struct {
        const char* what;
        const char* bytes;   // the module file's bytes, or
        const char* copyOf;  // the file it is a copy of; neither: no module
        const char* says;
    } cases[] = {
        {"missing", nullptr, nullptr, "libflintmere-window.so: cannot open shared object file"},
        {"not a library",
         "#!/bin/sh\n# a script that carries the module's name, and is longer than an ELF header\n",
         nullptr, "libflintmere-window.so: invalid ELF header"},
        {"another library", nullptr, "/usr/lib/x86_64-linux-gnu/libcsv.so.3",
         "has no entry flintmere_window_run"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir tmp;
        const std::string inst = tmp.Path() + "/inst";
        FLINTMERE_REQUIRE_INSTALL_FOLDER(inst, true);
        const std::string module = inst + "/libflintmere-window.so";
        std::filesystem::remove(module);
        if (c.bytes) testing::WriteFileBytes(module, c.bytes);
        if (c.copyOf) std::filesystem::copy_file(c.copyOf, module);
        const auto result = RunProgram({inst + "/flintmere"},
                                       {"TMPDIR=" + tmp.Path(), "QT_QPA_PLATFORM=offscreen"});
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_NE(result.err.find("the setup window cannot be opened"), std::string::npos)
            << result.err;
        EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
        const auto logs = LogFiles(tmp.Path());
        ASSERT_EQ(logs.size(), 1u);
        const std::string log = ReadFileBytes(logs[0]);
        EXPECT_NE(log.find("RunMainWindow(): the window cannot be opened: "), std::string::npos)
            << log;
        EXPECT_NE(log.rfind("] USB Stick Setup exit\r\n"), std::string::npos) << log;
    }
}

TEST(Startup, HelpVersionAndUnknownArguments) {
    TempDir tmp;
    const std::vector<std::string> env = {"TMPDIR=" + tmp.Path()};
    const struct {
        std::vector<std::string> args;
        int status;
        std::string stdoutHas;
        std::string stderrHas;
    } cases[] = {
        {{"--version"}, 0, std::string("flintmere ") + FLINTMERE_VERSION, ""},
        // Help asked for is no usage error; a wrong line is, with usage on stderr.
        {{"--help"}, 0, "Usage: flintmere", ""},
        {{"-h"}, 0, "Usage: flintmere", ""},
        {{"--bogus"}, 2, "", "unknown option --bogus"},
        {{"--install-launcher", "site1.xml"}, 2, "", "Usage: flintmere"},
        {{"site1", "vm1"}, 2, "", "Usage: flintmere"},
        // Each argument is taken as given: ".xml" must end the first one.
        {{"site1.xml.bak"}, 2, "", "Usage: flintmere"},
        {{"conf.xml.d/site"}, 2, "", "Usage: flintmere"},
        {{"site1.xml", "vm1", "vm2"}, 2, "", "Usage: flintmere"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv = {FLINTMERE_BINARY};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const auto result = RunProgram(argv, env, tmp.Path());
        EXPECT_EQ(result.exitStatus, c.status) << c.args[0];
        EXPECT_NE(result.out.find(c.stdoutHas), std::string::npos) << result.out;
        EXPECT_NE(result.err.find(c.stderrHas), std::string::npos) << result.err;
    }
    // None of these starts a run, so none writes a log.
    EXPECT_TRUE(LogFiles(tmp.Path()).empty());
}

}  // namespace
}  // namespace flintmere
