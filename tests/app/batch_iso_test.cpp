#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "support/fakes.h"
#include "support/install_folder.h"
#include "support/run_program.h"

namespace flintmere::testing {
namespace {

namespace fs = std::filesystem;

// Masters the image quietly, or fails when told to.
constexpr char kTool[] =
    "#!/bin/sh\n[ -e \"$0.fail\" ] && exit 1\nexec genisoimage -quiet \"$@\"\n";

constexpr char kDatabase[] =
    "<kestrelData><maintenanceData><hostname>vm7</hostname></maintenanceData></kestrelData>\n";

class BatchIsoTest : public ::testing::Test {
  protected:
    void SetUp() override {
        inst = dir / "inst";
        FLINTMERE_REQUIRE_INSTALL_FOLDER(inst, false);
        WriteFileBytes(inst + "/syslinux/mkisofs", kTool);
        fs::permissions(inst + "/syslinux/mkisofs", fs::perms::owner_all);
        fs::create_directories(dir / "tmp");
        fs::create_directories(dir / "cfg/sub");
        fs::create_directories(dir / "cfg/out");
        fs::create_directories(dir / "cfg/a.xml");
        WriteFileBytes(dir / "cfg/site1.xml", kDatabase);
        WriteFileBytes(dir / "cfg/site 1.xml", kDatabase);
        WriteFileBytes(dir / "cfg/sub/site1.xml", kDatabase);
        WriteFileBytes(dir / "cfg/SITE2.XML", kDatabase);
        oldCwd = fs::current_path();
        fs::current_path(dir / "cfg");
    }
    void TearDown() override {
        if (!oldCwd.empty()) fs::current_path(oldCwd);
    }

    // A fresh application object, as each run of the program has.
    std::unique_ptr<TestApp> NewApp() {
        auto app = std::make_unique<TestApp>();
        app->env.tempFolder = FromPath(dir / "tmp/");
        app->env.executablePath = FromPath(inst + "/flintmere");
        (*app).app->DeriveFolders();
        (*app)->services.OpenLog();
        return app;
    }

    static std::string OpenedDatabase(TestApp& app) {
        const std::string log = ReadFileBytes(app->services.m_logFile.Path());
        const std::string key = "OpenDbFile(): open ";
        const std::size_t at = log.rfind(key);  // runs of one second share a log
        if (at == std::string::npos) return "(not opened)";
        const std::size_t from = at + key.size();
        return log.substr(from, log.find("\r\n", from) - from);
    }

    TempDir dir;
    std::string inst;
    fs::path oldCwd;
};

TEST_F(BatchIsoTest, TakesTheArgumentsAsGiven) {
    const std::string cfg = dir / "cfg";
    fs::create_directories(dir / "cfg/conf.xml.d");
    WriteFileBytes(dir / "cfg/conf.xml.d/site.xml", kDatabase);
    struct Case {
        std::vector<std::string> args;
        std::string database;  // "" for a usage error
        std::string image;
    };
    const Case cases[] = {
        {{cfg + "/site1.xml"}, cfg + "/site1.xml", cfg + "/site1.iso"},
        {{cfg + "/site1.xml", "vm1"}, cfg + "/site1.xml", cfg + "/vm1.iso"},
        // A ".xml" inside a folder name is part of the path.
        {{cfg + "/a.xml/b.xml"}, cfg + "/a.xml/b.xml", cfg + "/a.xml/b.iso"},
        {{"conf.xml.d/site.xml"}, cfg + "/conf.xml.d/site.xml", cfg + "/conf.xml.d/site.iso"},
        {{cfg + "/site 1.xml"}, cfg + "/site 1.xml", cfg + "/site 1.iso"},
        {{cfg + "/site 1.xml", "vm 1"}, cfg + "/site 1.xml", cfg + "/vm 1.iso"},
        // An output name with a folder part is taken from the database's folder.
        {{cfg + "/site1.xml", "out/vm1"}, cfg + "/site1.xml", cfg + "/out/vm1.iso"},
        {{"site1.xml", cfg + "/out/vm3"}, cfg + "/site1.xml", cfg + "/out/vm3.iso"},
        // Relative paths are taken from the current directory.
        {{"site1.xml"}, cfg + "/site1.xml", cfg + "/site1.iso"},
        {{"sub/site1.xml", "vm2"}, cfg + "/sub/site1.xml", cfg + "/sub/vm2.iso"},
        // As a system of other letter case names it.
        {{"SITE2.XML"}, cfg + "/SITE2.XML", cfg + "/SITE2.iso"},
        // Usage errors: nothing is opened.
        {{"site1.xml.bak"}, "", ""},
        {{"site1.xml", ""}, "", ""},
        {{"site1.xml", "vm1", "vm2"}, "", ""},
        {{".xml"}, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + (c.args.size() > 1 ? " | " + c.args[1] : ""));
        auto app = NewApp();
        std::vector<u16> args;
        for (const std::string& arg : c.args) args.push_back(FromPath(arg));
        const int status = (*app).app->RunBatchIso(args);
        if (c.database.empty()) {
            EXPECT_EQ(status, CflintmereApp::kExitUsage);
            continue;
        }
        EXPECT_EQ(OpenedDatabase(*app), c.database);
        EXPECT_EQ(ToPath((*app)->record.m_isoPath), c.image);
        EXPECT_EQ((*app)->record.m_configSource, ConfigFromDatabase);
        EXPECT_EQ((*app)->record.m_isoMedia, 0);
        EXPECT_EQ((*app)->engine.m_pProgressDlg, nullptr);
    }
}

TEST_F(BatchIsoTest, ExitStatusTellsImportAndBuild) {
    struct Case {
        const char* name;
        std::string commandLine;
        bool toolFails;
        int status;
        bool image;
    };
    const std::string cfg = dir / "cfg";
    const Case cases[] = {
        {"imported and built", cfg + "/site1.xml", false, 0, true},
        {"import failed, image built", cfg + "/nothing.xml", false, 3, true},
        {"imported, build failed", cfg + "/site1.xml", true, 1, false},
        {"import and build failed", cfg + "/nothing.xml", true, 1, false},
        {"no database named", cfg + "/site1.txt", false, 2, false},
    };
    int run = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* iso : {"site1.iso", "nothing.iso"})
            fs::remove(dir / ("cfg/" + std::string(iso)));
        if (c.toolFails) {
            WriteFileBytes(inst + "/syslinux/mkisofs.fail", "");
        } else {
            fs::remove(inst + "/syslinux/mkisofs.fail");
        }
        auto app = NewApp();
        // Runs must not share a tree folder name.
        (*app).clock.Sleep(std::chrono::milliseconds(10000 * ++run), {});

        EXPECT_EQ((*app).app->RunBatchIso({FromPath(c.commandLine)}), c.status);
        const std::string image = ToPath((*app)->record.m_isoPath);
        EXPECT_EQ(!image.empty() && fs::exists(image), c.image);
        if (c.status == 3) {
            // The failed import showed its box; the image holds the reset record.
            const auto shown = (*app).presenter.Shown();
            ASSERT_FALSE(shown.empty());
            EXPECT_EQ(shown[0].text, FromPath("Can't open file " + c.commandLine + "!"));
        }
    }
}

}  // namespace
}  // namespace flintmere::testing
