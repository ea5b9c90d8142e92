// The whole window on the offscreen platform: an operator makes an ISO image
// with mouse and keyboard, answers the save-as dialog and gets the result box;
// and the program itself opens its window and ends cleanly.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <thread>

#include "support/fake_disks.h"
#include "support/fakes.h"
#include "support/install_folder.h"
#include "support/qt/box_watcher.h"
#include "support/qt/qt_app.h"
#include "support/qt/qt_operator.h"
#include "support/recording_presenter.h"
#include "support/run_program.h"
#include "support/ui_harness.h"
#include "ui/control_ids.h"
#include "ui/qt/main_window.h"

extern char** environ;

namespace flintmere::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace flintmere::ui;

// Answers the next save-as dialog with `path` typed without its extension.
void AnswerSaveAs(const QString& path, QStringList& filters) {
    auto poll = std::make_shared<QTimer>();
    QObject::connect(poll.get(), &QTimer::timeout, [poll, path, &filters] {
        QFileDialog* dialog = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* d = qobject_cast<QFileDialog*>(w);
            if (d && d->isVisible() && d->acceptMode() == QFileDialog::AcceptSave) dialog = d;
        }
        if (!dialog) return;
        poll->stop();
        filters = dialog->nameFilters();
        const QFileInfo file(path);
        dialog->setDirectory(file.absolutePath());
        // The operator types the name without its extension.
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        name->setText(file.fileName());
        // The dialog's own Save, from its own loop.
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
    });
    poll->start(20);
}

// OK pressed by mouse, or by Enter while the focus is still in the LAN
// address just typed: that address must be the one the image gets.
void OperatorMakesAVirtualMachineImage(bool enter) {
    FLINTMERE_REQUIRE_TOOLS("xorriso", "genisoimage");
    EnsureQtApp();
    TempDir dir;
    const std::string inst = dir / "inst";
    FLINTMERE_REQUIRE_INSTALL_FOLDER(inst, false);
    fs::create_directories(dir / "tmp");
    const std::string lan = enter ? "192.0.2.71" : "192.0.2.70";
    FakeClock clock;
    RecordingPresenter console;
    ForwardingPresenter boxes(console);
    FakeSystemEnv env;
    env.tempFolder = FromPath(dir / "tmp/");
    env.executablePath = FromPath(inst + "/flintmere");
    CflintmereApp app({clock, boxes, env, {}});
    app.DeriveFolders();
    app.parts.services.OpenLog();
    FakeDisks disks;
    disks.disks.push_back(MakeStick(0));
    app.parts.engine.SetDiskService(&disks);

    BoxWatcher watcher;
    QStringList filters;
    {
        ui::qt::MainWindow window(app.parts);
        window.Widget().move(0, 0);
        ASSERT_TRUE(window.Start());
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window.Widget()));
        ui::qt::QtSurface& surface = window.Surface();
        EXPECT_FALSE(surface.IsShown(IdHelp));
        ASSERT_EQ(surface.ComboCount(IdMediaSelect), 2);

        QtOperator op(surface);
        op.Choose(IdMediaSelect, 1);
        EXPECT_EQ(surface.GetText(IdMediaSelect), u"Virtual Machine ISO image");
        EXPECT_FALSE(surface.IsShown(IdGroupUsbOptions));
        op.Type(IdHostName, u"vm-node7");
        op.TypeAddress(IdIpAddress, {192, 0, 2, 70});
        op.TypeAddress(IdIpNetmask, {255, 255, 255, 0});
        op.TypeAddress(IdIpGateway, {192, 0, 2, 1});
        op.Click(IdChkSingleArmed);  // one interface: no WAN address needed
        op.Choose(IdHardwareType, 1);
        EXPECT_EQ(surface.GetText(IdHardwareType), u"Virtual 250");
        EXPECT_EQ(op.Refused(), 0);

        AnswerSaveAs(QString::fromStdString(dir / "vm-node7"), filters);
        if (enter) {
            op.TypeAddress(IdIpAddress, {192, 0, 2, 71});
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        } else {
            op.Click(IdOk);
        }
        EXPECT_TRUE(window.Logic().Ended());
        EXPECT_FALSE(window.Widget().isVisible()) << "a completed run closes the window";
        EXPECT_TRUE(surface.UnknownIds().empty());
    }
    EXPECT_EQ(filters, QStringList{QStringLiteral("ISO Files (*.iso)")});
    ASSERT_FALSE(watcher.seen.empty());
    const SeenBox& result = watcher.seen.back();
    EXPECT_EQ(result.caption, "Setup");
    EXPECT_EQ(result.text, "Virtual Machine ISO image Setup complete");
    EXPECT_EQ(result.icon, QMessageBox::Warning);
    EXPECT_EQ(result.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_TRUE(result.applicationModal);
    EXPECT_EQ(watcher.seen.size(), 1u) << watcher.seen.front().text;
    EXPECT_TRUE(console.Shown().empty()) << "a box went to the console";

    // The image: the default extension was added; it boots and carries our node.cfg.
    const std::string image = dir / "vm-node7.iso";
    ASSERT_TRUE(fs::exists(image));
    ProgramResult torito = RunProgram({"xorriso", "-indev", image, "-report_el_torito", "plain"});
    EXPECT_NE(torito.out.find("El Torito boot img :   1  BIOS"), std::string::npos) << torito.out;
    const std::string out = dir / "extract";
    ASSERT_EQ(
        RunProgram({"xorriso", "-osirrox", "on", "-indev", image, "-extract", "/node.cfg", out})
            .exitStatus,
        0);
    const std::string nodeCfg = ReadFileBytes(out);
    for (const std::string& line :
         {std::string("kestrel_label: vm-node7"), "kestrel_lan: " + lan + " 255.255.255.0",
          std::string("kestrel_gw: 192.0.2.1")}) {
        EXPECT_NE(nodeCfg.find(line), std::string::npos) << line << "\n" << nodeCfg;
    }
}

TEST(QtWindowE2e, OperatorMakesAVirtualMachineImage) {
    for (const bool enter : {false, true}) {
        SCOPED_TRACE(enter ? "Enter in the LAN address" : "OK clicked");
        OperatorMakesAVirtualMachineImage(enter);
    }
}

// Starts `argv` with `env` added; the caller waits for it.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    std::vector<std::string> all(env);
    for (char** e = environ; *e; ++e) all.emplace_back(*e);
    std::vector<char*> args, envp;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    for (const std::string& e : all) envp.push_back(const_cast<char*>(e.c_str()));
    args.push_back(nullptr);
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), envp.data()) != 0) return -1;
    return pid;
}

TEST(QtWindowProgram, ShowsTheWindowAndEndsCleanlyWhenClosed) {
    TempDir dir;
    const std::string inst = dir / "inst";
    FLINTMERE_REQUIRE_INSTALL_FOLDER(inst, true);
    fs::create_directories(dir / "tmp");
    const pid_t pid =
        Spawn({inst + "/flintmere"}, {"QT_QPA_PLATFORM=offscreen", "TMPDIR=" + (dir / "tmp")});
    ASSERT_GT(pid, 0);
    // The log says when the window is up.
    std::string log;
    for (int i = 0; i < 300 && log.find("window shown") == std::string::npos; ++i) {
        std::this_thread::sleep_for(50ms);
        for (const auto& entry : fs::directory_iterator(dir / "tmp")) {
            if (entry.path().extension() == ".log") log = ReadFileBytes(entry.path());
        }
    }
    EXPECT_NE(log.find("RunMainWindow(): window shown"), std::string::npos) << log;
    // A session's end closes the window as its close box does.
    ::kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    for (const auto& entry : fs::directory_iterator(dir / "tmp")) {
        if (entry.path().extension() == ".log") log = ReadFileBytes(entry.path());
    }
    EXPECT_NE(log.find("USB Stick Setup exit"), std::string::npos) << log;
}

TEST(QtWindowProgram, WithoutADisplayEndsWithAClearMessage) {
    TempDir dir;
    ProgramResult r =
        RunProgram({FLINTMERE_BINARY},
                   {"QT_QPA_PLATFORM=", "DISPLAY=", "WAYLAND_DISPLAY=", "TMPDIR=" + dir.Path()});
    EXPECT_NE(r.exitStatus, 0);
    EXPECT_NE(r.err.find("no display"), std::string::npos) << r.err;
    r = RunProgram({FLINTMERE_BINARY}, {"QT_QPA_PLATFORM=", "DISPLAY=:97531",
                                        "WAYLAND_DISPLAY=", "TMPDIR=" + dir.Path()});
    EXPECT_NE(r.exitStatus, 0);
    EXPECT_NE(r.err.find(":97531 is not running"), std::string::npos) << r.err;
    // The batch mode needs no display at all.
    r = RunProgram({FLINTMERE_BINARY, dir / "missing.xml"},
                   {"QT_QPA_PLATFORM=", "DISPLAY=", "WAYLAND_DISPLAY=", "TMPDIR=" + dir.Path()});
    EXPECT_EQ(r.err.find("display"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("missing.xml"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace flintmere::testing
