#include <gtest/gtest.h>

#include <filesystem>

#include "support/fakes.h"

namespace flintmere::testing {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kGptList = {
    "/systemd-boot/systemd-bootx64.efi",
    "/systemd-boot/loader.conf",
    "/systemd-boot/iso.conf",
    "/systemd-boot/usb.conf",
    "/kx/initrd.gz",
    "/kx/vmlinuz",
};
const std::vector<std::string> kLegacyList = {
    "/syslinux/syslinux.cfg",
    "/syslinux/isolinux.bin",
    "/syslinux/ldlinux.c32",
    "/syslinux/mkisofs",
    "/syslinux/syslinux",
    "/systemd-boot/systemd-bootx64.efi",
    "/systemd-boot/loader.conf",
    "/systemd-boot/iso.conf",
    "/systemd-boot/usb.conf",
    "/kx/initrd.gz",
    "/kx/vmlinuz",
};

// An installation folder with every file both lists name.
class SourceChecksTest : public ::testing::Test {
  public:
    void SetUp() override {
        exe = tmp / "install";
        for (const std::string& rel : kLegacyList) {
            fs::create_directories(fs::path(exe + rel).parent_path());
            WriteFileBytes(exe + rel, "x");
        }
        app.env.tempFolder = FromPath(tmp.Path() + "/");
        app->services.OpenLog();
        app->record.m_exeFolder = FromPath(exe);
        app->record.m_distFolder = FromPath(exe + "/kx/");
    }

    // What the log gained during `call`.
    std::string LogOf(const std::function<void()>& call) {
        std::size_t before = ReadFileBytes(app->services.m_logFile.Path()).size();
        call();
        return ReadFileBytes(app->services.m_logFile.Path()).substr(before);
    }

    static std::string Lines(const std::vector<std::string>& lines) {
        std::string out;
        for (const std::string& line : lines) out += line + "\r\n";
        return out;
    }

    // The log lines without their time stamps.
    static std::string Untimed(const std::string& log) {
        std::string out;
        std::size_t pos = 0;
        while (pos < log.size()) {
            std::size_t end = log.find("\r\n", pos);
            std::size_t text = log.find("] ", pos) + 2;
            out += log.substr(text, end + 2 - text);
            pos = end + 2;
        }
        return out;
    }

    TempDir tmp;
    TestApp app;
    std::string exe;
};

TEST_F(SourceChecksTest, CompleteFolderPassesForBothLayouts) {
    for (bool gpt : {true, false}) {
        SCOPED_TRACE(gpt ? "GPT" : "MBR");
        app->record.m_gptPartition = gpt;
        const std::vector<std::string>& list = gpt ? kGptList : kLegacyList;
        bool result = false;
        std::string log = LogOf([&] { result = app->engine.CheckPendriveSoftware(); });
        EXPECT_TRUE(result);
        std::vector<std::string> expected = {"Checking TVQ pendrive software..."};
        for (const std::string& rel : list) expected.push_back(" - found " + rel);
        expected.push_back("Check TVQ pendrive returned: 1");
        EXPECT_EQ(Untimed(log), Lines(expected));
    }
}

TEST_F(SourceChecksTest, EachMissingFileFailsAndStopsTheCheck) {
    for (bool gpt : {true, false}) {
        const std::vector<std::string>& list = gpt ? kGptList : kLegacyList;
        for (std::size_t missing = 0; missing < list.size(); ++missing) {
            SCOPED_TRACE((gpt ? "GPT, missing " : "MBR, missing ") + list[missing]);
            app->record.m_gptPartition = gpt;
            fs::rename(exe + list[missing], exe + list[missing] + ".away");
            bool result = true;
            std::string log = LogOf([&] { result = app->engine.CheckPendriveSoftware(); });
            fs::rename(exe + list[missing] + ".away", exe + list[missing]);

            EXPECT_FALSE(result);
            std::vector<std::string> expected = {"Checking TVQ pendrive software..."};
            for (std::size_t i = 0; i < missing; ++i) expected.push_back(" - found " + list[i]);
            expected.push_back("ERROR: file not found " + list[missing]);
            expected.push_back("Check TVQ pendrive returned: 0");
            EXPECT_EQ(Untimed(log), Lines(expected));
        }
    }
    EXPECT_TRUE(app.presenter.Shown().empty());
}

TEST_F(SourceChecksTest, MissingSyslinuxFolder) {
    fs::remove_all(exe + "/syslinux");
    // The GPT layout does not need it.
    app->record.m_gptPartition = 1;
    EXPECT_TRUE(app->engine.CheckPendriveSoftware());
    // The legacy layout does: a missing folder means its files are missing.
    app->record.m_gptPartition = 0;
    std::string log = LogOf([&] { EXPECT_FALSE(app->engine.CheckPendriveSoftware()); });
    EXPECT_NE(log.find("ERROR: file not found /syslinux/syslinux.cfg"), std::string::npos);
}

TEST_F(SourceChecksTest, AFolderWithItsOwnToolsNamesTheOneItLacks) {
    fs::create_directories(exe + "/tools");
    for (bool gpt : {true, false}) {
        app->record.m_gptPartition = gpt;
        std::string log = LogOf([&] { EXPECT_FALSE(app->engine.CheckPendriveSoftware()); });
        EXPECT_NE(Untimed(log).find(
                      "ERROR: file not found /tools/mkfs.fat\r\nCheck TVQ pendrive returned: 0"),
                  std::string::npos)
            << log;
    }
}

TEST_F(SourceChecksTest, InstallImageNames) {
    struct Case {
        std::vector<std::string> names;  // created in kx/ ("dir/" for a folder)
        bool result;
        std::vector<std::string> found;  // logged, in name order
    };
    const Case cases[] = {
        {{"image_zev-10.2.1.0-7.tar"}, true, {"image_zev-10.2.1.0-7.tar"}},
        {{"image_zev-10.2.1.0-7.tar.gz"}, false, {}},
        {{"image_zev-10.2.1-7.tar"}, false, {}},
        {{"IMAGE_zev-10.2.1.0-7.tar"}, false, {}},
        {{"image_zev-10.2.1.0-7.TAR"}, false, {}},
        {{"image_zev-10.2.1.0-7.tarx"}, false, {"image_zev-10.2.1.0-7.tarx"}},
        {{"image_zev-10.2.1.0-7.zip"}, false, {"image_zev-10.2.1.0-7.zip"}},
        {{"xx-image_zev-1.2.3.4-5.tar"}, false, {}},
        // All entries are looked at, also after a hit.
        {{"image_zev-1.2.3.4-5.tar", "image_zev-9.9.9.9-9.zip"},
         true,
         {"image_zev-1.2.3.4-5.tar", "image_zev-9.9.9.9-9.zip"}},
        // Only the folder itself is searched.
        {{"deeper/", "deeper/image_zev-1.2.3.4-5.tar"}, false, {}},
        {{}, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.names.empty() ? std::string("no image") : c.names[0]);
        fs::remove_all(exe + "/kx");
        fs::create_directories(exe + "/kx");
        WriteFileBytes(exe + "/kx/vmlinuz", "k");
        for (const std::string& name : c.names) {
            if (name.back() == '/') {
                fs::create_directories(exe + "/kx/" + name);
            } else {
                WriteFileBytes(exe + "/kx/" + name, "i");
            }
        }
        bool result = !c.result;
        std::string log = LogOf([&] { result = app->engine.CheckInstallImage(); });
        EXPECT_EQ(result, c.result);
        std::vector<std::string> expected = {"Checking TVQ Install software..."};
        for (const std::string& name : c.found) expected.push_back(" - found " + name);
        expected.push_back(std::string("Check TVQ install returned: ") + (c.result ? "1" : "0"));
        EXPECT_EQ(Untimed(log), Lines(expected));
    }
    EXPECT_TRUE(app.presenter.Shown().empty());
}

TEST_F(SourceChecksTest, UnreadableDistributionFolderIsShown) {
    fs::remove_all(exe + "/kx");
    EXPECT_FALSE(app->engine.CheckInstallImage());
    ASSERT_EQ(app.presenter.Shown().size(), 1u);
    EXPECT_EQ(app.presenter.Shown()[0].text, Utf8ToUtf16(AppServices::SystemErrorText(ENOENT)));
    EXPECT_EQ(app.presenter.Shown()[0].caption, u"Error");
}

}  // namespace
}  // namespace flintmere::testing
