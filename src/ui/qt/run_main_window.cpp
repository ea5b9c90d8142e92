// The window run of the program: the Qt application object exists only here,
// so the batch mode never needs a display.
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>

#include "app/flintmere_app.h"
#include "app/main_window.h"
#include "platform/termination_signals.h"
#include "platform/unique_fd.h"
#include "ui/qt/accessibility.h"
#include "ui/qt/bundled_fonts.h"
#include "ui/qt/main_window.h"

namespace flintmere {
namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Why there is no display to open, or empty when there is one. A display
// that is named but not there would make Qt abort, so a local X display's
// socket is looked for first.
std::string MissingDisplay() {
    if (!Env("QT_QPA_PLATFORM").empty()) return {};
    if (!Env("WAYLAND_DISPLAY").empty()) return {};
    const std::string display = Env("DISPLAY");
    if (display.empty()) return "no display: DISPLAY and WAYLAND_DISPLAY are not set";
    if (display[0] == ':') {
        const std::string number = display.substr(1, display.find('.') - 1);
        const std::string socket = "/tmp/.X11-unix/X" + number;
        struct stat st {};
        if (::stat(socket.c_str(), &st) != 0) {
            return "no display: the X display " + display + " is not running";
        }
    }
    return {};
}

// SIGTERM, SIGINT and SIGHUP close the window as its close box does, so a
// session's end or a service manager never leaves a stick half-written by
// a killed worker.
int g_signalPipe[2] = {-1, -1};

void OnQuitSignal(int) {
    const char byte = 1;
    [[maybe_unused]] ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

class QuitOnSignals {
  public:
    explicit QuitOnSignals(ui::qt::MainWindow& window) : window_(window) {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) return;
        read_.Reset(g_signalPipe[0]);
        write_.Reset(g_signalPipe[1]);
        notifier_ = std::make_unique<QSocketNotifier>(read_.Get(), QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
            char byte = 0;
            [[maybe_unused]] ssize_t got = ::read(read_.Get(), &byte, 1);
            window_.Boxes().SetQuitting(true);
            CloseTopWindow();
            retry_.start(100);
        });
        QObject::connect(&retry_, &QTimer::timeout, [this] { CloseTopWindow(); });
        struct sigaction action {};
        action.sa_handler = OnQuitSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (std::size_t i = 0; i < std::size(kSignals); ++i) {
            // One ignored at start (SIGHUP under nohup) stays ignored.
            if (TerminationSignals::Ignored(kSignals[i])) continue;
            caught_[i] = ::sigaction(kSignals[i], &action, &old_[i]) == 0;
        }
    }
    ~QuitOnSignals() {
        for (std::size_t i = 0; i < std::size(kSignals); ++i) {
            if (caught_[i]) ::sigaction(kSignals[i], &old_[i], nullptr);
        }
        g_signalPipe[0] = g_signalPipe[1] = -1;
    }

  private:
    // The topmost window first: a running setup stops before the main dialog
    // is asked to close, so the dialog logic is never entered twice.
    void CloseTopWindow() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal != &window_.Widget()) {
            modal->close();
        } else {
            window_.Widget().close();
        }
    }

    static constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
    struct sigaction old_[std::size(kSignals)]{};
    bool caught_[std::size(kSignals)] = {};
    ui::qt::MainWindow& window_;
    UniqueFd read_;
    UniqueFd write_;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer retry_;
};

}  // namespace

int RunMainWindow(CflintmereApp& app) {
    const std::string missing = MissingDisplay();
    if (!missing.empty()) {
        app.WriteLog("RunMainWindow(): %s", missing.c_str());
        std::fprintf(stderr,
                     "flintmere: %s.\n"
                     "The setup window needs a graphical session. To build an ISO image "
                     "without a window, give the configuration database on the command line "
                     "(flintmere --help).\n",
                     missing.c_str());
        return 1;
    }
    const std::string fonts = ui::qt::UseBundledFontsWhenNone(ToPath(app.m_exeFolder));
    if (!fonts.empty())
        app.WriteLog("RunMainWindow(): no font on this machine, using %s", fonts.c_str());
    static int argc = 1;
    static char name[] = "flintmere";
    static char* argv[] = {name, nullptr};
    QApplication qtApp(argc, argv);
    // Before any widget exists: Qt keeps the first accessible interface it
    // makes for a widget, so one installed later is never asked.
    ui::qt::InstallAccessibility();
    QApplication::setApplicationName(QStringLiteral("flintmere"));
    QApplication::setDesktopFileName(QStringLiteral("org.corvane.flintmere"));
    ui::qt::MainWindow window(app);
    QuitOnSignals quit(window);
    return window.Run();
}

}  // namespace flintmere
