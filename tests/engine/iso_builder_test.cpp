#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <sstream>

#include "platform/fd_io.h"
#include "support/fakes.h"
#include "support/install_folder.h"
#include "support/recording_progress.h"
#include "support/run_program.h"

namespace flintmere::testing {
namespace {

namespace fs = std::filesystem;

// A mastering tool that keeps a copy of the tree it was given beside itself
// (the builder deletes its own), records its arguments, reports progress and
// masters the image quietly.
constexpr char kCopyingTool[] = R"(#!/bin/sh
printf '%s\n' "$@" > "$0.args"
for tree; do :; done
rm -rf "$0.tree"
cp -a "$tree" "$0.tree"
echo " 45.31% done, estimate finish Thu Jan  1 00:00:00 1970"
exec genisoimage -quiet "$@"
)";

// "<image>.XXXXXX": the file the tool is given to write.
bool IsStagedName(const std::string& path, const std::string& image) {
    return path.size() == image.size() + 7 && path.rfind(image + ".", 0) == 0;
}

std::vector<std::string> LogMessages(const std::string& log) {
    // "[Tue Dec  9 12:44:13] message\r\n" -> "message"
    std::vector<std::string> out;
    std::istringstream in(log);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line.size() > 22 ? line.substr(22) : line);
    }
    return out;
}

// True when `wanted` appears in `lines` in this order (other lines between).
::testing::AssertionResult InOrder(const std::vector<std::string>& lines,
                                   const std::vector<std::string>& wanted) {
    auto it = lines.begin();
    for (const std::string& w : wanted) {
        it = std::find(it, lines.end(), w);
        if (it == lines.end())
            return ::testing::AssertionFailure() << "missing or out of order: " << w;
        ++it;
    }
    return ::testing::AssertionSuccess();
}

// A sample installation folder, a temporary folder and an app set up for an
// ISO build of a generated configuration.
struct Rig {
    Rig() {
        inst = dir / "inst";
        const InstallFolder made = MakeInstallFolder(inst);
        ready = made.Made();
        missingPackages = made.MissingPackages();
        if (!ready && !missingPackages) ADD_FAILURE() << "make-install-folder: " << made.error;
        why = made.error;
        temp = dir / "tmp";
        fs::create_directories(temp);
        iso = dir / "out.iso";
        toolTree = inst + "/syslinux/mkisofs.tree";

        app.env.tempFolder = FromPath(temp + "/");
        app->services.OpenLog();
        app->record.m_exeFolder = FromPath(inst);
        app->record.m_distFolder = FromPath(inst + "/kx/");
        app->record.m_isoPath = FromPath(iso);
        // Failed trees stay, as in batch mode, so that their contents can be checked.
        app->engine.m_keepFailedTree = true;
        app->record.ResetConfiguration(true);
        app->record.m_serverName = u"vm1";
        app->record.m_lanDisabled = 0;
        app->record.m_lanAddress = u"192.0.2.10";
        app->record.m_lanNetmask = u"255.255.255.0";
        app->record.m_hwType = HwVirtual250;
        app->record.m_isoMedia = 1;
        app->record.m_configSource = ConfigGenerateNodeFile;
        app->record.m_companyName = u"Soci\u00e9t\u00e9 G\u00e9n\u00e9rale";
        app->record.m_productName = u"Branch SBC";
        app->record.m_tla = u"";
    }

    void UseTool(const std::string& script) {
        const std::string tool = inst + "/syslinux/mkisofs";
        WriteFileBytes(tool, script);
        fs::permissions(tool, fs::perms::owner_all);
    }

    // Folders the builder left in the temporary folder.
    std::vector<std::string> Trees() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(temp)) {
            if (e.is_directory()) out.push_back(e.path().string());
        }
        return out;
    }

    std::vector<std::string> Log() {
        return LogMessages(ReadFileBytes(app->services.m_logFile.Path()));
    }

    // Pauses of the sequence itself (the command runner's polls are its own).
    std::vector<int> SequencePauses() {
        std::vector<int> out;
        for (int p : app.clock.Pauses()) {
            if (p >= 100) out.push_back(p);
        }
        return out;
    }

    TempDir dir;
    TestApp app;
    bool ready = false;
    bool missingPackages = false;
    std::string why;
    std::string inst, temp, iso, toolTree;
};

class IsoBuilderTest : public ::testing::Test, public Rig {
  protected:
    void SetUp() override {
        if (missingPackages) GTEST_SKIP() << why;
        ASSERT_TRUE(ready);
    }
    RecordingProgress progress;
};

TEST_F(IsoBuilderTest, BuildsTheTreeAndReportsEveryStep) {
    UseTool(kCopyingTool);
    app->record.m_logoFile = u"logo.png";
    app->record.m_logoData = {0x89, 'P', 'N', 'G', 0, 1, 2};
    app->engine.m_pProgressDlg = &progress;

    EXPECT_EQ(app->engine.SetupISO(), 1);
    EXPECT_EQ(app->engine.m_setupStatus, SetupComplete);
    EXPECT_TRUE(app.presenter.Shown().empty());
    EXPECT_TRUE(Trees().empty()) << "the tree is removed after a success";

    // The tree as the tool saw it.
    const std::string t = toolTree;
    for (const char* f :
         {"node.cfg", "vmlinuz", "initrd.gz", "image_zev-1.2.3.4-5.tar", "syslinux.cfg",
          "isolinux.bin", "ldlinux.c32", "isolinux.cfg", "EFI/BOOT/BOOTX64.EFI",
          "loader/loader.conf", "loader/entries/auto.conf", "branding/companyName",
          "branding/productName", "branding/logoPicture/logo.png"}) {
        EXPECT_TRUE(fs::is_regular_file(t + "/" + f)) << f;
    }
    EXPECT_FALSE(fs::exists(t + "/config.xml"));
    EXPECT_FALSE(fs::exists(t + "/kx"));
    EXPECT_FALSE(fs::exists(t + "/branding/tla"));
    EXPECT_EQ(ReadFileBytes(t + "/isolinux.bin"), ReadFileBytes(inst + "/syslinux/isolinux.bin"));
    EXPECT_EQ(ReadFileBytes(t + "/EFI/BOOT/BOOTX64.EFI"),
              ReadFileBytes(inst + "/systemd-boot/systemd-bootx64.efi"));
    EXPECT_EQ(ReadFileBytes(t + "/loader/entries/auto.conf"),
              ReadFileBytes(inst + "/systemd-boot/iso.conf"));
    EXPECT_EQ(ReadFileBytes(t + "/syslinux.cfg"), ReadFileBytes(inst + "/syslinux/syslinux.cfg"));
    std::string menu = ReadFileBytes(t + "/syslinux.cfg");
    menu.insert(menu.find("APPEND ") + 7, "vmcdromboot=true ");
    EXPECT_EQ(ReadFileBytes(t + "/isolinux.cfg"), menu);
    EXPECT_EQ(ReadFileBytes(t + "/branding/companyName"),
              "Soci\xC3\xA9t\xC3\xA9 G\xC3\xA9n\xC3\xA9rale");

    const std::vector<std::string> log = Log();
    std::string treeFolder;
    for (const std::string& line : log) {
        if (line.rfind("SetupISO(): using temporary folder ", 0) == 0) treeFolder = line.substr(35);
    }
    // The time-stamped name and a part no one can guess.
    ASSERT_EQ(treeFolder.rfind(temp + "/flintmere_", 0), 0u) << treeFolder;
    EXPECT_EQ(treeFolder.size(), temp.size() + 11 + 14 + 7);
    EXPECT_EQ(treeFolder[temp.size() + 11 + 14], '_');

    // The tool ran from the installation folder with the mastering arguments,
    // writing a file of its own beside the image.
    std::vector<std::string> args;
    std::istringstream argsText(ReadFileBytes(inst + "/syslinux/mkisofs.args"));
    for (std::string arg; std::getline(argsText, arg);) args.push_back(arg);
    ASSERT_EQ(args.size(), 13u);
    const std::string staged = args[1];
    EXPECT_TRUE(IsStagedName(staged, iso)) << staged;
    EXPECT_EQ(args, (std::vector<std::string>{"-o", staged, "-b", "isolinux.bin", "-c", "boot.cat",
                                              "-no-emul-boot", "-boot-load-size", "4",
                                              "-boot-info-table", "-iso-level", "4", treeFolder}));
    EXPECT_FALSE(fs::exists(staged)) << "it took the image's name";
    EXPECT_EQ(ReadFileBytes(iso).substr(0x8001, 5), "CD001");
    EXPECT_TRUE(
        InOrder(log, {"SetupISO(): start ISO", "SetupISO(): using temporary folder " + treeFolder,
                      "SetupISO(): creating node.cfg", "SetupISO(): copying files",
                      "SetupISO(): syslinux.cfg file", "SetupISO(): isolinux.bin file",
                      "SetupISO(): ldlinux.c32 file", "SetupISO(): syslinux.cfg file",
                      "SetupISO(): systemd-bootx64.efi file", "SetupISO(): loader.conf file",
                      "SetupISO(): iso.conf file", "SetupISO(): copying branding company name",
                      "SetupISO(): copying branding product name",
                      "SetupISO(): copying branding logo file", "SetupISO(): creating ISO file",
                      "Process(): starting syslinux/mkisofs -o \"" + staged +
                          "\" -b isolinux.bin -c boot.cat -no-emul-boot -boot-load-size 4 "
                          "-boot-info-table -iso-level 4 \"" +
                          treeFolder + "\"",
                      "SetupISO(): image written to " + iso, "SetupISO(): done"}));
    EXPECT_EQ(std::count(log.begin(), log.end(), "SetupISO(): copying TLA"), 0);

    // Actions, in order, around the copy engine's own.
    std::vector<u16> actions = progress.Actions();
    std::erase_if(actions, [](const u16& a) { return a.rfind(u"Copying Files...\r\n", 0) == 0; });
    EXPECT_EQ(actions, (std::vector<u16>{
                           u"Creating node.cfg file...",
                           u"Copying files to tmp folder...",
                           u"Copying files...\r\nsyslinux.cfg",
                           u"Copying files...\r\nisolinux.bin",
                           u"Copying files...\r\nldlinux.c32",
                           u"Copying files...\r\nsystemd-bootx64.efi",
                           u"Copying files...\r\nloader.conf",
                           u"Copying files...\r\niso.conf",
                           u"Copying Branding Company Name...",
                           u"Copying Branding Product Name...",
                           u"Copying Branding Logo File...",
                           u"Creating the ISO file...",
                           u"Complete",
                       }));

    // 1, the copy below 50, the branding items, then the tool's 45 % of the rest.
    const std::vector<int> positions = progress.Positions();
    ASSERT_GE(positions.size(), 5u);
    EXPECT_EQ(positions.front(), 1);
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    const auto at55 = std::find(positions.begin(), positions.end(), 55);
    ASSERT_NE(at55, positions.end());
    EXPECT_LT(*(at55 - 1), 50);
    EXPECT_EQ(std::vector<int>(at55, positions.end()),
              (std::vector<int>{55, 60, 70, 70 + 45 * 30 / 100}));
    EXPECT_EQ(progress.CloseRequests(), 1);
    EXPECT_EQ(progress.Events().back().kind, RecordingProgress::Event::Close);

    // node.cfg, two later distribution files, UEFI files, three branding items, the end.
    EXPECT_EQ(SequencePauses(), std::vector<int>(8, 500))
        << ReadFileBytes(app->services.m_logFile.Path());
}

TEST_F(IsoBuilderTest, ConfigurationFilesFollowTheSource) {
    struct Case {
        int source;
        bool nodeCfg;
        bool configXml;
        int pauses;
    };
    const Case cases[] = {
        {ConfigFromNodeFile, true, false, 7},
        {ConfigGenerateNodeFile, true, false, 7},
        {ConfigFromDatabase, true, true, 8},
        {ConfigAutomated, true, false, 7},
        {9, false, false, 7},
    };
    UseTool(kCopyingTool);
    app->record.m_dbFileData = {'<', 'k', '/', '>', '\n'};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        app.clock.ClearPauses();
        fs::remove_all(toolTree);
        app->record.m_configSource = c.source;
        RecordingProgress progress;
        app->engine.m_pProgressDlg = &progress;

        ASSERT_EQ(app->engine.SetupISO(), 1);
        EXPECT_EQ(fs::exists(toolTree + "/node.cfg"), c.nodeCfg);
        EXPECT_EQ(fs::exists(toolTree + "/config.xml"), c.configXml);
        if (c.configXml) {
            EXPECT_EQ(ReadFileBytes(toolTree + "/config.xml"), "<k/>\n");
        }
        const std::vector<u16> actions = progress.Actions();
        EXPECT_EQ(std::count(actions.begin(), actions.end(), u"Creating database file..."),
                  c.configXml ? 1 : 0);
        EXPECT_EQ(SequencePauses().size(), static_cast<std::size_t>(c.pauses));
    }
}

TEST_F(IsoBuilderTest, WithoutBrandingTheToolStartsFromTheCopyPosition) {
    UseTool(kCopyingTool);
    app->record.m_companyName = u"";
    app->record.m_productName = u"";
    app->record.m_tla = u"";
    app->engine.m_pProgressDlg = &progress;

    ASSERT_EQ(app->engine.SetupISO(), 1);
    EXPECT_FALSE(fs::exists(toolTree + "/branding"));
    const std::vector<int> positions = progress.Positions();
    ASSERT_GE(positions.size(), 3u);
    const int copyEnd = positions[positions.size() - 2];
    EXPECT_GT(copyEnd, 1);
    EXPECT_LT(copyEnd, 50);
    EXPECT_EQ(positions.back(), copyEnd + 45 * (100 - copyEnd) / 100);
}

TEST_F(IsoBuilderTest, BatchRunHasNoDialogAndRealImage) {
    // No dialog: nothing waits for one, and the real tool masters the image.
    ASSERT_EQ(app->engine.SetupISO(), 1);
    EXPECT_EQ(app->engine.m_setupStatus, SetupComplete);
    EXPECT_TRUE(Trees().empty());
    const std::string image = ReadFileBytes(iso);
    ASSERT_GT(image.size(), 0x8006u);
    EXPECT_EQ(image.substr(0x8001, 5), "CD001");
    EXPECT_EQ(SequencePauses(), std::vector<int>(7, 500));
}

// Every failure: its box, SetupError, a close request, and the tree left behind.
TEST_F(IsoBuilderTest, FailuresLeaveTheTreeAndReportError) {
    struct Case {
        const char* name;
        std::function<void(Rig&)> arrange;
        const char* box;  // nullptr: the step shows no box of its own; matches its start
        const char* lastTreeFile;
        int syncError = 0;  // every fsync fails with it
    };
    const std::string noImage = "The mastering tool left no readable ISO 9660 image in ";
    const std::string notFound = AppServices::SystemErrorText(ENOENT);
    const std::string ioError = AppServices::SystemErrorText(EIO);
    const Case cases[] = {
        {"legacy boot file missing", [](Rig& t) { fs::remove(t.inst + "/syslinux/ldlinux.c32"); },
         notFound.c_str(), "isolinux.bin"},
        {"boot menu missing", [](Rig& t) { fs::remove(t.inst + "/syslinux/syslinux.cfg"); },
         notFound.c_str(), "vmlinuz"},
        {"UEFI boot manager missing",
         [](Rig& t) { fs::remove(t.inst + "/systemd-boot/systemd-bootx64.efi"); }, notFound.c_str(),
         "isolinux.cfg"},
        {"UEFI entry missing", [](Rig& t) { fs::remove(t.inst + "/systemd-boot/iso.conf"); },
         notFound.c_str(), "loader/loader.conf"},
        {"tool exits 1",
         [](Rig& t) { t.UseTool("#!/bin/sh\necho 'genisoimage: broken' >&2\nexit 1\n"); }, nullptr,
         "loader/entries/auto.conf"},
        {"tool exits 0 and writes nothing", [](Rig& t) { t.UseTool("#!/bin/sh\nexit 0\n"); },
         noImage.c_str(), "loader/entries/auto.conf"},
        {"tool exits 0 with a cut-off image",
         [](Rig& t) {
             t.UseTool("#!/bin/sh\ngenisoimage -quiet \"$@\" && truncate -s -2048 \"$2\"\n");
         },
         noImage.c_str(), "loader/entries/auto.conf"},
        {"tool writes something else",
         [](Rig& t) { t.UseTool("#!/bin/sh\nhead -c 65536 /dev/zero > \"$2\"\n"); },
         noImage.c_str(), "loader/entries/auto.conf"},
        // The image would take its name while the disk may not hold it.
        {"image cannot be written out", [](Rig&) {}, ioError.c_str(), "loader/entries/auto.conf",
         EIO},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig fresh;
        ASSERT_TRUE(fresh.ready) << fresh.why;
        c.arrange(fresh);
        std::optional<SyncOverride> refuse;
        if (c.syncError)
            refuse.emplace([&c](int) {
                errno = c.syncError;
                return -1;
            });
        RecordingProgress freshProgress;
        fresh.app->engine.m_pProgressDlg = &freshProgress;

        EXPECT_EQ(fresh.app->engine.SetupISO(), 0);
        EXPECT_EQ(fresh.app->engine.m_setupStatus, SetupError);
        const auto shown = fresh.app.presenter.Shown();
        if (c.box) {
            ASSERT_EQ(shown.size(), 1u);
            EXPECT_EQ(shown[0].text.substr(0, Utf8ToUtf16(c.box).size()), Utf8ToUtf16(c.box));
            EXPECT_EQ(shown[0].caption, u"Error");
            EXPECT_EQ(shown[0].style, kMbWarningStyle);
        } else {
            EXPECT_TRUE(shown.empty());
        }
        EXPECT_EQ(freshProgress.CloseRequests(), 1);
        EXPECT_NE(freshProgress.Actions().back(), u"Complete");
        const auto trees = fresh.Trees();
        ASSERT_EQ(trees.size(), 1u);
        EXPECT_TRUE(fs::is_regular_file(trees[0] + "/" + c.lastTreeFile));
        EXPECT_EQ(fresh.SequencePauses().back(), 500);
        const auto log = fresh.Log();
        EXPECT_EQ(std::count(log.begin(), log.end(), "SetupISO(): done"), 0);
        EXPECT_EQ(std::distance(fs::directory_iterator(fresh.dir.Path()), fs::directory_iterator()),
                  2)
            << "inst and tmp only: no image, and no unfinished one";
    }
}

TEST_F(IsoBuilderTest, ToolThatCannotStart) {
    fs::remove(inst + "/syslinux/mkisofs");
    EXPECT_EQ(app->engine.SetupISO(), 0);
    EXPECT_EQ(app->engine.m_setupStatus, SetupError);
    EXPECT_FALSE(app.presenter.Shown().empty()) << "the runner says it could not start the tool";
    EXPECT_EQ(Trees().size(), 1u);
    EXPECT_FALSE(fs::exists(iso));
}

TEST_F(IsoBuilderTest, TemporaryFolderProblems) {
    struct Case {
        const char* name;
        std::function<u16(Rig&)> tempFolder;
        int error;
    };
    const Case cases[] = {
        {"missing", [](Rig& t) { return FromPath(t.dir / "nowhere/"); }, ENOENT},
        {"a file",
         [](Rig& t) {
             WriteFileBytes(t.dir / "plain", "x");
             return FromPath(t.dir / "plain/");
         },
         ENOTDIR},
        {"none", [](Rig&) { return u16(); }, ENOENT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        app.presenter.Clear();
        app.env.tempFolder = c.tempFolder(*this);
        EXPECT_EQ(app->engine.SetupISO(), 0);
        EXPECT_EQ(app->engine.m_setupStatus, SetupError);
        const auto shown = app.presenter.Shown();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].text, Utf8ToUtf16(AppServices::SystemErrorText(c.error)));
        EXPECT_FALSE(fs::exists(iso));
    }
}

TEST_F(IsoBuilderTest, TwoBuildsInOneSecondDoNotShareATree) {
    UseTool(kCopyingTool);
    // The tree names a build started now could be guessed to use already exist.
    std::tm local{};
    const std::time_t now = app.clock.Now();
    ::localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &local);
    const std::string taken = temp + "/flintmere_" + stamp;
    fs::create_directory(taken);
    WriteFileBytes(taken + "/other-build", "x");
    ::symlink((dir / "elsewhere").c_str(), (taken + "_AAAAAA").c_str());

    EXPECT_EQ(app->engine.SetupISO(), 1);
    EXPECT_TRUE(app.presenter.Shown().empty());
    EXPECT_EQ(ReadFileBytes(taken + "/other-build"), "x");
    EXPECT_FALSE(fs::exists(taken + "/node.cfg"));
    EXPECT_FALSE(fs::exists(dir / "elsewhere"));
    EXPECT_EQ(Trees().size(), 1u) << "only the other build's folder stays";
}

TEST_F(IsoBuilderTest, EmptyDistributionStopsBeforeTheBootFiles) {
    for (const auto& e : fs::directory_iterator(inst + "/kx")) fs::remove(e.path());
    EXPECT_EQ(app->engine.SetupISO(), 0);
    const auto shown = app.presenter.Shown();
    ASSERT_GE(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, u"No distribution files found!");
    // The builder's own box follows the copy engine's.
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].text, Utf8ToUtf16(AppServices::SystemErrorText(ENOENT)));
    ASSERT_EQ(Trees().size(), 1u);
    EXPECT_FALSE(fs::exists(Trees()[0] + "/isolinux.bin"));
}

// Stops the run as soon as it shows a given action, like Cancel would.
class CancelOnAction final : public ProgressDialog {
  public:
    CancelOnAction(AppParts& app, u16 action) : app_(app), action_(std::move(action)) {}
    bool IsReady() override { return true; }
    void SetPos(int position) override { pos_ = position; }
    int GetPos() override { return pos_; }
    void SetAction(const u16& text) override {
        actions.push_back(text);
        if (text == action_) app_.engine.m_workerStop.request_stop();
    }
    void RequestClose() override { ++closes; }
    std::vector<u16> actions;
    int closes = 0;

  private:
    AppParts& app_;
    u16 action_;
    int pos_ = 0;
};

TEST_F(IsoBuilderTest, CancelStopsAtTheNextStopPointQuietly) {
    UseTool(kCopyingTool);
    for (const char16_t* at : {u"Creating node.cfg file...", u"Copying files...\r\nisolinux.bin",
                               u"Copying Branding Company Name...", u"Creating the ISO file..."}) {
        SCOPED_TRACE(Utf16ToUtf8(at));
        app->engine.m_workerStop = std::stop_source();
        app.clock.ClearPauses();
        app.presenter.Clear();
        fs::remove_all(toolTree);
        WriteFileBytes(iso, "an earlier image");
        CancelOnAction dialog(*app, at);
        app->engine.m_pProgressDlg = &dialog;

        EXPECT_EQ(app->engine.SetupISO(), 0);
        EXPECT_EQ(app->engine.m_setupStatus, SetupError) << "the dialog's Cancel sets the status";
        EXPECT_TRUE(app.presenter.Shown().empty());
        EXPECT_EQ(dialog.actions.back(), at) << "nothing is reported after the cancel";
        EXPECT_EQ(dialog.closes, 0);
        if (dialog.actions.back() != u"Creating the ISO file...") {
            EXPECT_FALSE(fs::exists(toolTree)) << "the tool does not run after a cancel";
        }
        EXPECT_TRUE(Trees().empty()) << "a cancelled run removes its tree";
        EXPECT_EQ(ReadFileBytes(iso), "an earlier image");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 3)
            << "inst, tmp and the image: no unfinished image is left";
        const auto log = Log();
        EXPECT_EQ(log.back(), "SetupISO(): canceled");
    }
}

// Each way the ISO job ends and what its outcome says.
TEST_F(IsoBuilderTest, TheOutcomeNamesWhatEndedTheBuild) {
    struct Case {
        const char* name;
        std::function<void(Rig&)> arrange;
        int status;
        OutcomeKind kind;
        int error;
        const char* toolLine = "";
    };
    const Case cases[] = {
        {"complete", [](Rig&) {}, SetupComplete, OutcomeKind::None, 0},
        {"canceled", [](Rig& t) { t.app->engine.m_workerStop.request_stop(); }, SetupCanceled,
         OutcomeKind::Canceled, 0},
        {"name too long",
         [](Rig& t) { t.app->record.m_isoPath = FromPath(t.dir / std::string(300, 'n')); },
         SetupError, OutcomeKind::Refused, ENAMETOOLONG},
        {"no temporary folder", [](Rig& t) { t.app.env.tempFolder.clear(); }, SetupError,
         OutcomeKind::WriteError, ENOENT},
        {"boot file missing", [](Rig& t) { fs::remove(t.inst + "/syslinux/ldlinux.c32"); },
         SetupError, OutcomeKind::WriteError, ENOENT},
        {"tool exits 1",
         [](Rig& t) { t.UseTool("#!/bin/sh\necho 'genisoimage: broken' >&2\nexit 1\n"); },
         SetupError, OutcomeKind::ToolFailed, EIO, "genisoimage: broken"},
        {"tool writes no image", [](Rig& t) { t.UseTool("#!/bin/sh\nexit 0\n"); }, SetupError,
         OutcomeKind::Verification, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig fresh;
        ASSERT_TRUE(fresh.ready) << fresh.why;
        c.arrange(fresh);
        EXPECT_EQ(fresh.app->engine.SetupISO(), c.status == SetupComplete ? 1 : 0);
        const Outcome& outcome = fresh.app->engine.m_lastOutcome;
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(OutcomeKindName(outcome.kind), OutcomeKindName(c.kind));
        EXPECT_EQ(outcome.error, c.error);
        EXPECT_EQ(outcome.toolLine, c.toolLine);
        EXPECT_EQ(fs::exists(fresh.iso), c.status == SetupComplete);
    }
}

}  // namespace
}  // namespace flintmere::testing
