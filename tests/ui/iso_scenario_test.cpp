// The operator's whole job at the window, with the real engine and the
// sample installation folder: the ISO image is read back with xorriso, which
// shares no code with the program.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "platform/media_root.h"
#include "support/install_folder.h"
#include "support/recording_presenter.h"
#include "support/run_program.h"
#include "support/ui_harness.h"
#include "ui/hardware_lists.h"

namespace flintmere::testing {
namespace {

using namespace ui;
namespace fs = std::filesystem;

constexpr int kIsoEntry = 1;  // one stick listed, then the ISO entry

// The line of `text` that starts with `key`, or "".
std::string Line(const std::string& text, const std::string& key) {
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        if (text.compare(at, key.size(), key) == 0) return text.substr(at, end - at);
        at = end + 1;
    }
    return {};
}

// A node of one arm in Generate mode, for the ISO entry; `more` types
// further fields before the arm is chosen.
void TypeVmNode(ScriptedOperator& op, const std::function<void()>& more = {}) {
    op.Choose(IdMediaSelect, kIsoEntry);
    op.Type(IdHostName, u"sbc-vm-01");
    op.TypeAddress(IdIpAddress, {192, 0, 2, 10});
    op.TypeAddress(IdIpNetmask, {255, 255, 255, 0});
    op.TypeAddress(IdIpGateway, {192, 0, 2, 1});
    if (more) more();
    // One arm: WAN takes the LAN values, so no WAN needs typing.
    op.Click(IdChkSingleArmed);
    op.Choose(IdHardwareType, VmHwSmall);
}

class IsoScenario : public ::testing::Test {
  protected:
    void SetUp() override {
        FLINTMERE_REQUIRE_TOOLS("xorriso", "genisoimage");
        if (!h.SkipReason().empty()) GTEST_SKIP() << h.SkipReason();
        ASSERT_TRUE(h.Start()) << h.Dump();
    }

    // One file of the image, or "" when it is not there.
    std::string ImageFile(const std::string& image, const std::string& name) {
        const std::string out = h.dir / ("x-" + fs::path(image).stem().string() + "-" + name);
        ProgramResult r =
            RunProgram({"xorriso", "-osirrox", "on", "-indev", image, "-extract", "/" + name, out});
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        return ReadFileBytes(out);
    }

    // The run's end as the operator sees it.
    void ExpectCompleted() {
        const std::vector<ShownMessage> boxes = h.app_.presenter.Shown();
        ASSERT_FALSE(boxes.empty()) << h.Dump();
        EXPECT_EQ(ToPath(boxes.back().text), "Virtual Machine ISO image Setup complete")
            << h.Dump();
        EXPECT_EQ(boxes.size(), 1u) << "no other box on the way";
        EXPECT_TRUE(h.dialog().Ended());
        EXPECT_EQ(h.host.mainDialogResult, kIdOk);
        EXPECT_FALSE(h.host.progressTimedOut);
    }

    UiHarness h;
};

TEST_F(IsoScenario, GeneratedConfigurationToAnImage) {
    ScriptedOperator& op = h.op();
    TypeVmNode(op);
    const std::string image = h.dir / "vm1.iso";
    h.host.saveAnswers = {FromPath(image)};
    h.MarkLog();
    op.Click(IdOk);

    ExpectCompleted();
    ASSERT_TRUE(fs::is_regular_file(image));
    EXPECT_EQ(ToPath(h.app().record.m_isoPath), image);

    // The image's node.cfg is what the writer makes of the record the
    // window left, as the batch mode writes it.
    LocalFolderRoot reference(h.dir.Path());
    ASSERT_TRUE(h.app().config.CreateNodeCfgFile(h.app().record, reference, false));
    const std::string node = ImageFile(image, "node.cfg");
    EXPECT_EQ(node, ReadFileBytes(h.dir / "node.cfg"));
    for (const char* line :
         {"kestrel_label: sbc-vm-01\n", "kestrel_lan: 192.0.2.10 255.255.255.0\n",
          "kestrel_wan: 192.0.2.10 255.255.255.0\n", "kestrel_gw: 192.0.2.1\n",
          "singlearmed: 1\n"}) {
        EXPECT_NE(node.find(line), std::string::npos) << line << node;
    }

    const std::vector<std::string> log = Filtered(
        h.LogMessages(), {"OnBnClickedOk", "forcing", "node servername", "setSingleArmedDefault",
                          "Save ISO", "SetupISO(): start", "SetupISO(): done"});
    EXPECT_EQ(log, (std::vector<std::string>{
                       "OnBnClickedOk(): start",
                       "forcing OnEnKillfocusEditName()",
                       "node servername changed to sbc-vm-01",
                       "setSingleArmedDefault(): start",
                       "OnBnClickedOk(): Virtual Machine ISO",
                       "Save ISO file as " + image,
                       "SetupISO(): start ISO",
                       "SetupISO(): done",
                   }))
        << h.Dump();
}

TEST_F(IsoScenario, DatabaseToAnImageAsTheBatchModeBuildsIt) {
    const std::string database = ReadFileBytes(FLINTMERE_SOURCE_DIR "/samples/config.xml");
    if (database.empty()) GTEST_SKIP() << "samples/config.xml is missing";
    const std::string site = h.dir / "site1.xml";
    WriteFileBytes(site, database);

    ScriptedOperator& op = h.op();
    op.Choose(IdMediaSelect, kIsoEntry);
    op.Click(IdRadioUseDb);
    h.host.openAnswers = {FromPath(site)};
    op.Click(IdDbBrowse);
    ASSERT_EQ(ToPath(h.surface().GetText(IdDbPath)), site);
    const std::string image = h.dir / "window.iso";
    h.host.saveAnswers = {FromPath(image)};
    op.Click(IdOk);
    ExpectCompleted();
    ASSERT_TRUE(fs::is_regular_file(image));

    // The batch mode of the installed program, over the same database.
    const std::string inst = h.dir / "with-program";
    const InstallFolder made = MakeInstallFolder(inst, true);
    ASSERT_TRUE(made.Made()) << made.error;
    fs::create_directories(h.dir / "batch-tmp");
    ProgramResult batch =
        RunProgram({inst + "/flintmere", site, "batch"}, {"TMPDIR=" + (h.dir / "batch-tmp") + "/"});
    ASSERT_EQ(batch.exitStatus, 0) << batch.err;
    const std::string batchImage = h.dir / "batch.iso";
    ASSERT_TRUE(fs::is_regular_file(batchImage));

    // The window's image holds what the writer makes of the record the
    // window left.
    LocalFolderRoot reference(h.dir.Path());
    ASSERT_TRUE(h.app().config.CreateNodeCfgFile(h.app().record, reference, false));
    const std::string node = ImageFile(image, "node.cfg");
    EXPECT_EQ(node, ReadFileBytes(h.dir / "node.cfg"));
    EXPECT_TRUE(ImageFile(image, "config.xml") == database);

    // Against the batch image: the validation of the window marks every
    // interface in use, and the batch mode does not mark its image as a
    // virtual machine's; the lines neither touches agree.
    const std::string batchNode = ImageFile(batchImage, "node.cfg");
    for (const char* key :
         {"kestrel_label:", "kestrel_lan:", "kestrel_lan6:", "kestrel_gw:", "kestrel_gw6:",
          "invert:", "singlearmed:", "hw_platform:", "vm_platform:"}) {
        EXPECT_EQ(Line(node, key), Line(batchNode, key)) << key;
        EXPECT_NE(Line(node, key), "") << key;
    }
    EXPECT_EQ(Line(node, "kestrel_label:"), "kestrel_label: sbc-branch-01");
    EXPECT_EQ(Line(node, "kestrel_wan:"), "kestrel_wan: 198.51.100.20 255.255.255.0");
    EXPECT_TRUE(ImageFile(batchImage, "config.xml") == database);
    EXPECT_EQ(h.LogCount("OnBnClickedOk(): Virtual Machine ISO"), 1);
}

// A value that would change what node.cfg says is refused at OK, whichever
// source gave it, with a box naming the field; nothing is asked or written.
TEST(WindowRefusesSplittingValues, FromEverySource) {
    const std::string sampleDb = ReadFileBytes(FLINTMERE_SOURCE_DIR "/samples/config.xml");
    const std::string sampleNode = ReadFileBytes(FLINTMERE_SOURCE_DIR "/samples/node.cfg");
    if (sampleDb.empty() || sampleNode.empty()) GTEST_SKIP() << "samples/ are missing";
    auto replaced = [](std::string text, const std::string& from, const std::string& to) {
        return text.replace(text.find(from), from.size(), to);
    };
    struct Case {
        const char* source;
        std::function<void(UiHarness&)> enter;
        const char* field;
    };
    const Case cases[] = {
        {"typed in Generate mode",
         [](UiHarness& h) {
             TypeVmNode(h.op(), [&] {
                 h.op().Type(IdIpv6Address, u"2001:db8::5 kestrel_label: pwned");
                 h.op().Type(IdIpv6Netmask, u"64");
                 h.op().Type(IdIpv6Gateway, u"2001:db8::1");
             });
         },
         "LAN IPv6 address"},
        {"a database",
         [&](UiHarness& h) {
             WriteFileBytes(h.dir / "site1.xml",
                            replaced(sampleDb, "2001:db8:20::1</gatewayIpv6AddrWan>",
                                     "2001:db8:20::1 kestrel_label: pwned</gatewayIpv6AddrWan>"));
             h.op().Choose(IdMediaSelect, kIsoEntry);
             h.op().Click(IdRadioUseDb);
             h.host.openAnswers = {FromPath(h.dir / "site1.xml")};
             h.op().Click(IdDbBrowse);
         },
         "kestrel_label: pwned"},
        {"a node.cfg file",
         [&](UiHarness& h) {
             WriteFileBytes(h.dir / "node.cfg", replaced(sampleNode, "kestrel_gw6: fd00:10::1",
                                                         "kestrel_gw6: fd00:10::1\vfd00:10::2"));
             h.op().Click(IdRadioUseNode);
             h.host.openAnswers = {FromPath(h.dir / "node.cfg")};
             h.op().Click(IdNodeBrowse);
         },
         "IPv6 gateway"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        UiHarness h;
        FLINTMERE_START_DIALOG(h);
        c.enter(h);
        const std::string image = h.dir / "vm1.iso";
        h.host.saveAnswers = {FromPath(image)};
        h.op().Click(IdOk);
        const std::vector<ShownMessage> boxes = h.app_.presenter.Shown();
        ASSERT_FALSE(boxes.empty()) << h.Dump();
        EXPECT_NE(ToPath(boxes.back().text).find(c.field), std::string::npos)
            << ToPath(boxes.back().text);
        EXPECT_NE(ToPath(boxes.back().text).find("would change node.cfg"), std::string::npos);
        EXPECT_TRUE(h.host.saveRequests.empty()) << "nothing is asked after the refusal";
        EXPECT_FALSE(h.dialog().Ended());
        EXPECT_FALSE(fs::exists(image));
    }
}

}  // namespace
}  // namespace flintmere::testing
