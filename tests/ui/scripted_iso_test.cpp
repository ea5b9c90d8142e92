// The operator at the main dialog builds a real ISO image with the engine and
// the sample installation folder; the image is read back with xorriso.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>

#include "support/run_program.h"
#include "support/ui_harness.h"
#include "ui/control_ids.h"
#include "ui/hardware_lists.h"

namespace flintmere::ui {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileBytes;
using testing::RunProgram;
using testing::UiHarness;

constexpr int kIsoEntry = 1;  // with one stick listed

// One file of an image, or "" with a failure.
std::string FileInImage(const std::string& image, const std::string& name,
                        const std::string& scratch) {
    fs::remove(scratch);
    const auto r =
        RunProgram({"xorriso", "-osirrox", "on", "-indev", image, "-extract", "/" + name, scratch});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    return ReadFileBytes(scratch);
}

class ScriptedIso : public ::testing::Test {
  protected:
    void SetUp() override {
        if (RunProgram({"sh", "-c", "command -v xorriso && command -v genisoimage"}).exitStatus !=
            0) {
            GTEST_SKIP()
                << "xorriso or genisoimage is not installed (scripts/install-deps installs them)";
        }
        if (!h.SkipReason().empty()) GTEST_SKIP() << h.SkipReason();
        ASSERT_TRUE(h.Start());
    }

    // OK with the save-as answered; the run must complete and close the dialog.
    void PressOkAndRun(const std::string& image) {
        h.host.saveAnswers = {FromPath(image)};
        h.op().Click(IdOk);
        const auto shown = h.app_.presenter.Shown();
        ASSERT_FALSE(shown.empty()) << h.Dump();
        EXPECT_EQ(shown.back().text, u"Virtual Machine ISO image Setup complete") << h.Dump();
        EXPECT_EQ(h.host.saveRequests.size(), 1u);
        EXPECT_TRUE(h.dialog().Ended());
        EXPECT_EQ(h.host.mainDialogResult, kIdOk);
        EXPECT_FALSE(h.host.progressTimedOut);
        ASSERT_TRUE(fs::is_regular_file(image)) << h.Dump();
    }

    UiHarness h;
};

TEST_F(ScriptedIso, TypedConfigurationReachesTheImage) {
    h.op().Choose(IdMediaSelect, kIsoEntry);
    h.op().Type(IdHostName, u"sbc-lab-7");
    h.op().TypeAddress(IdIpAddress, {192, 168, 50, 10});
    h.op().TypeAddress(IdIpNetmask, {255, 255, 255, 0});
    h.op().TypeAddress(IdIpGateway, {192, 168, 50, 1});
    h.op().Choose(IdInterface, InterfaceWan);
    h.op().TypeAddress(IdIpAddress, {10, 20, 0, 10});
    h.op().TypeAddress(IdIpNetmask, {255, 255, 0, 0});
    h.op().Choose(IdHardwareType, VmHwSmall);
    const std::string image = h.dir / "lab.iso";
    PressOkAndRun(image);

    const std::string nodeCfg = FileInImage(image, "node.cfg", h.dir / "node.cfg");
    for (const char* line :
         {"kestrel_label: sbc-lab-7\n", "kestrel_lan: 192.168.50.10 255.255.255.0\n",
          "kestrel_wan: 10.20.0.10 255.255.0.0\n", "kestrel_gw: 192.168.50.1\n"})
        EXPECT_NE(nodeCfg.find(line), std::string::npos) << line << "in:\n" << nodeCfg;
    EXPECT_EQ(h.app().m_hwType, HwVirtual250);
    EXPECT_EQ(h.LogCount("Save ISO file as " + image), 1);
}

TEST_F(ScriptedIso, DatabaseSourceWritesWhatTheBatchModeWrites) {
    const std::string database = h.dir / "site.xml";
    fs::copy_file(std::string(FLINTMERE_SOURCE_DIR) + "/samples/config.xml", database);
    h.op().Choose(IdMediaSelect, kIsoEntry);
    h.op().Click(IdRadioUseDb);
    h.host.openAnswers = {FromPath(database)};
    h.op().Click(IdDbBrowse);
    ASSERT_EQ(h.app().m_dbFileLoaded, 1) << h.Dump();
    const std::string image = h.dir / "ui.iso";
    PressOkAndRun(image);

    // The batch mode on the same database, in a process of its own making.
    testing::TestApp batch;
    batch.env.tempFolder = FromPath(h.dir.Path() + "/");
    batch.env.executablePath = FromPath(h.installPath + "/flintmere");
    batch->DeriveFolders();
    ASSERT_EQ(batch->RunBatchIso(FromPath(database + " batch")), 0) << batch.stdoutText;
    const std::string batchImage = h.dir / "batch.iso";
    ASSERT_TRUE(fs::is_regular_file(batchImage));

    const std::string xmlFromUi = FileInImage(image, "config.xml", h.dir / "a");
    EXPECT_EQ(xmlFromUi, ReadFileBytes(database));
    EXPECT_EQ(xmlFromUi, FileInImage(batchImage, "config.xml", h.dir / "b"));

    // The window's request puts all three interfaces in use and marks the
    // record as an ISO one, whose node.cfg leaves out the stick and General
    // values; the batch mode does neither. Every other line is the same.
    const std::set<std::string> differByDesign = {"kestrel_wan", "kestrel_wan6",  "kestrel_admin",
                                                  "legacy_bios", "supplyserver1", "supplyserver2",
                                                  "logicid",     "dns1",          "dns2"};
    auto comparable = [&](const std::string& text) {
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            if (!differByDesign.contains(line.substr(0, line.find(':')))) lines.push_back(line);
        }
        return lines;
    };
    const std::string cfgFromUi = FileInImage(image, "node.cfg", h.dir / "a");
    const std::vector<std::string> uiLines = comparable(cfgFromUi);
    EXPECT_EQ(uiLines, comparable(FileInImage(batchImage, "node.cfg", h.dir / "b")));
    EXPECT_GE(uiLines.size(), 14u) << cfgFromUi;
    EXPECT_NE(cfgFromUi.find("kestrel_label: sbc-branch-01\n"), std::string::npos);
}

}  // namespace
}  // namespace flintmere::ui
