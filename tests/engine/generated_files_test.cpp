#include <gtest/gtest.h>

#include <filesystem>

#include "support/fakes.h"
#include "support/recording_presenter.h"

namespace flintmere::testing {
namespace {

namespace fs = std::filesystem;

const std::string kFlag = "vmcdromboot=true ";

std::vector<u16> ShownTexts(const TestApp& app) {
    std::vector<u16> texts;
    for (const ShownMessage& m : app.presenter.Shown()) texts.push_back(m.text);
    return texts;
}

// Every regular file below `folder`, relative to it.
std::vector<std::string> FilesBelow(const std::string& folder) {
    std::vector<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        if (e.is_regular_file()) out.push_back(fs::relative(e.path(), folder).string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

class GeneratedFilesTest : public ::testing::Test {
  public:
    void SetUp() override {
        medium = tmp / "medium";
        fs::create_directories(medium);
        app.env.tempFolder = FromPath(tmp.Path() + "/");
        app->services.OpenLog();
    }
    std::string Log() { return ReadFileBytes(app->services.m_logFile.Path()); }

    TempDir tmp;
    TestApp app;
    std::string medium;
};

TEST_F(GeneratedFilesTest, PatchBootConfigInsertsFlagAfterFirstAppend) {
    const std::string longPrefix = "# " + std::string(4800, '-') + "\n";
    struct Case {
        const char* name;
        std::string menu;
        std::string expected;
    };
    const Case cases[] = {
        {"usual menu", "DEFAULT linux\nLABEL linux\n  KERNEL vmlinuz\n  APPEND initrd=initrd.gz\n",
         "DEFAULT linux\nLABEL linux\n  KERNEL vmlinuz\n  APPEND " + kFlag + "initrd=initrd.gz\n"},
        {"only the first of two", "APPEND a\nAPPEND b\n", "APPEND " + kFlag + "a\nAPPEND b\n"},
        {"no APPEND", "DEFAULT linux\nSERIAL 0\n", "DEFAULT linux\nSERIAL 0\n"},
        {"keyword without its space", "  APPEND\n", "  APPEND\n"},
        {"lower case is not the keyword", "  append x\n", "  append x\n"},
        // Windows-1252 letters and its unassigned bytes survive the round trip.
        {"8-bit bytes", "MENU TITLE Caf\xE9 \x81\x8D\n  APPEND q\n",
         "MENU TITLE Caf\xE9 \x81\x8D\n  APPEND " + kFlag + "q\n"},
        {"longer than 4095 bytes", longPrefix + "  APPEND late\n# tail\n",
         longPrefix + "  APPEND " + kFlag + "late\n# tail\n"},
        {"empty file", "", ""},
    };
    LocalFolderRoot root(medium);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFileBytes(tmp / "syslinux.cfg", c.menu);
        ASSERT_TRUE(app->engine.PatchBootConfig(tmp / "syslinux.cfg", root, "isolinux.cfg"));
        EXPECT_EQ(ReadFileBytes(medium + "/isolinux.cfg"), c.expected);
    }
    EXPECT_TRUE(app.stdoutText.empty());
    EXPECT_TRUE(app.presenter.Shown().empty());
}

TEST_F(GeneratedFilesTest, PatchBootConfigAtVeryStartStillGetsFlag) {
    // A menu that begins with its APPEND line is a virtual-CD boot all the same.
    LocalFolderRoot root(medium);
    WriteFileBytes(tmp / "syslinux.cfg", "APPEND first\nAPPEND second\n");
    ASSERT_TRUE(app->engine.PatchBootConfig(tmp / "syslinux.cfg", root, "isolinux.cfg"));
    EXPECT_EQ(ReadFileBytes(medium + "/isolinux.cfg"),
              "APPEND " + kFlag + "first\nAPPEND second\n");
}

TEST_F(GeneratedFilesTest, WritersReportFailures) {
    WriteFileBytes(tmp / "syslinux.cfg", "APPEND x\n");
    LocalFolderRoot missing(tmp / "no-such-folder");
    LocalFolderRoot root(medium);
    const std::uint8_t bytes[] = {1, 2, 3};
    struct Case {
        const char* name;
        std::function<bool()> call;
        std::string stdoutText;
        std::vector<u16> messages;
    };
    const std::vector<Case> cases = {
        {"boot menu missing",
         [&] { return app->engine.PatchBootConfig(tmp / "absent.cfg", root, "isolinux.cfg"); },
         "Could not open file (error 2)\n",
         {}},
        {"boot menu target cannot be created",
         [&] { return app->engine.PatchBootConfig(tmp / "syslinux.cfg", missing, "isolinux.cfg"); },
         "Could not open file (error 2)\n",
         {}},
        {"text file cannot be created",
         [&] { return app->engine.CreateMiscFile(missing, "branding", "tla", "x"); },
         "Could not create file (error 2)\n",
         {}},
        {"binary file cannot be created",
         [&] { return app->engine.CreateBinaryFile(missing, "logo.png", bytes); },
         "Could not create file (error 2)\n",
         {}},
        {"text without data",
         [&] { return app->engine.CreateMiscFile(root, "", "tla", std::string_view()); },
         "",
         {u"file data not found"}},
        {"binary without data",
         [&] { return app->engine.CreateBinaryFile(root, "logo.png", {}); },
         "",
         {u"file data not found"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        app.stdoutText.clear();
        app.presenter.Clear();
        EXPECT_FALSE(c.call());
        EXPECT_EQ(app.stdoutText, c.stdoutText);
        EXPECT_EQ(ShownTexts(app), c.messages);
    }
    EXPECT_TRUE(FilesBelow(medium).empty());
    EXPECT_EQ(Log().find("CreateMiscFile(): write:"), std::string::npos);
}

TEST_F(GeneratedFilesTest, CreateMiscFileWritesBytesAndLogs) {
    LocalFolderRoot root(medium);
    ASSERT_TRUE(root.MakeFolder("branding"));
    ASSERT_TRUE(app->engine.CreateMiscFile(root, "branding", "companyName", "ACME"));
    ASSERT_TRUE(app->engine.CreateMiscFile(root, "", "empty", ""));
    EXPECT_EQ(ReadFileBytes(medium + "/branding/companyName"), "ACME");
    EXPECT_TRUE(fs::exists(medium + "/empty"));
    EXPECT_EQ(fs::file_size(medium + "/empty"), 0u);
    std::string log = Log();
    EXPECT_NE(log.find("CreateMiscFile(): start\r\n"), std::string::npos);
    EXPECT_NE(log.find("CreateMiscFile(): write: \"ACME\"\r\n"), std::string::npos);
    EXPECT_NE(log.find("CreateMiscFile(): done\r\n"), std::string::npos);
}

struct Announced {
    int index;
    std::string logText;
    u16 action;
    bool operator==(const Announced&) const = default;
};

TEST_F(GeneratedFilesTest, BrandingFilesPerRecord) {
    const std::vector<std::uint8_t> logo = {0x89, 'P', 'N', 'G', 0, 0xFF, '\r', '\n'};
    const Announced company{0, "copying branding company name",
                            u"Copying Branding Company Name..."};
    const Announced product{1, "copying branding product name",
                            u"Copying Branding Product Name..."};
    const Announced tla{2, "copying TLA", u"Copying Branding TLA..."};
    const Announced logoStep{3, "copying branding logo file", u"Copying Branding Logo File..."};
    struct Case {
        const char* name;
        u16 companyName, productName, tlaText, logoFile;
        std::vector<std::uint8_t> logoData;
        std::vector<Announced> steps;
        std::vector<std::pair<std::string, std::string>> files;  // below the medium
        std::vector<u16> messages;
    };
    const std::vector<Case> cases = {
        {"everything, with an umlaut",
         u"M\u00fcller & S\u00f6hne",
         u"Corvane SBC",
         u"\u00a9 2025 \u20ac",
         u"logo.png",
         logo,
         {company, product, tla, logoStep},
         {{"branding/companyName", "M\xC3\xBCller & S\xC3\xB6hne"},
          {"branding/logoPicture/logo.png", std::string(logo.begin(), logo.end())},
          {"branding/productName", "Corvane SBC"},
          {"branding/tla", "\xC2\xA9 2025 \xE2\x82\xAC"}},
         {}},
        {"empty TLA",
         u"ACME",
         u"Box",
         u"",
         u"",
         {},
         {company, product},
         {{"branding/companyName", "ACME"}, {"branding/productName", "Box"}},
         {}},
        {"nothing set", u"", u"", u"", u"", {}, {}, {}, {}},
        {"logo name without picture",
         u"",
         u"",
         u"T",
         u"imported.png",
         {},
         {tla, logoStep},
         {{"branding/tla", "T"}},
         {u"file data not found"}},
        {"logo name with folders",
         u"",
         u"",
         u"",
         u"../../../etc/evil.png",
         logo,
         {logoStep},
         {{"branding/logoPicture/evil.png", std::string(logo.begin(), logo.end())}},
         {}},
        {"logo name with Windows folders",
         u"",
         u"",
         u"",
         u"C:\\pictures\\..\\logo.bmp",
         logo,
         {logoStep},
         {{"branding/logoPicture/logo.bmp", std::string(logo.begin(), logo.end())}},
         {}},
        {"logo name that is only a parent reference",
         u"",
         u"",
         u"",
         u"..",
         logo,
         {logoStep},
         {},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(tmp.Path());
        fs::create_directories(medium);
        app.presenter.Clear();
        app->record.m_companyName = c.companyName;
        app->record.m_productName = c.productName;
        app->record.m_tla = c.tlaText;
        app->record.m_logoFile = c.logoFile;
        app->record.m_logoData = c.logoData;
        LocalFolderRoot root(medium);
        std::vector<Announced> steps;
        EXPECT_TRUE(
            app->engine.WriteBrandingFiles(root, [&](const MediaEngine::BrandingStep& step) {
                steps.push_back({step.index, std::string(step.logText), step.action});
                return true;
            }));
        EXPECT_EQ(steps, c.steps);
        std::vector<std::string> expectedNames;
        for (const auto& [rel, bytes] : c.files) {
            expectedNames.push_back(rel);
            EXPECT_EQ(ReadFileBytes(medium + "/" + rel), bytes) << rel;
        }
        // Nothing lands anywhere else: not beside the medium, not outside it.
        EXPECT_EQ(FilesBelow(tmp.Path()), [&] {
            std::vector<std::string> names;
            for (const std::string& n : expectedNames) names.push_back("medium/" + n);
            return names;
        }());
        EXPECT_EQ(fs::exists(medium + "/branding"), !c.steps.empty());
        EXPECT_EQ(ShownTexts(app), c.messages);
    }
}

TEST_F(GeneratedFilesTest, BrandingStopsWhenAnnouncementIsRefused) {
    app->record.m_companyName = u"A";
    app->record.m_productName = u"B";
    app->record.m_tla = u"C";
    app->record.m_logoFile = u"l.png";
    app->record.m_logoData = {1};
    LocalFolderRoot root(medium);
    int announced = 0;
    EXPECT_FALSE(app->engine.WriteBrandingFiles(root, [&](const MediaEngine::BrandingStep& step) {
        ++announced;
        return step.index != 1;
    }));
    EXPECT_EQ(announced, 2);
    EXPECT_EQ(FilesBelow(medium), std::vector<std::string>{"branding/companyName"});
}

}  // namespace
}  // namespace flintmere::testing
