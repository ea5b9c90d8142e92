// The window module (libflintmere-window.so): the Qt application object and
// the window exist only here, so the program loads Qt only to open it. The
// module composes its own engine over the host's folders and log.
#include "app/window_module.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iterator>
#include <memory>
#include <string>

#include "engine/app_parts.h"
#include "platform/clock.h"
#include "platform/presenter.h"
#include "platform/system_env.h"
#include "platform/termination_signals.h"
#include "platform/unique_fd.h"
#include "ui/qt/accessibility.h"
#include "ui/qt/bundled_fonts.h"
#include "ui/qt/main_window.h"

namespace flintmere {
namespace {

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

int RunWindow(const FlintmereWindowHost& host) {
    SystemClock clock;
    ConsolePresenter console;
    // The window points this at its own boxes while it is open.
    ForwardingPresenter presenter(console);
    LinuxSystemEnv env;
    AppParts app({clock, presenter, env, {}});
    app.services.SetLogSink([&host](std::string_view line) {
        host.writeLog(host.logContext, line.data(), line.size());
    });
    app.record.m_exeFolder = FromPath(host.exeFolder);
    app.record.m_distFolder = FromPath(host.distFolder);

    const std::string fonts = ui::qt::UseBundledFontsWhenNone(host.exeFolder);
    if (!fonts.empty())
        app.services.WriteLog("RunMainWindow(): no font on this machine, using %s", fonts.c_str());
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

}  // namespace
}  // namespace flintmere

extern "C" __attribute__((visibility("default"))) int flintmere_window_run(
    const FlintmereWindowHost* host) {
    // A host of another build may lay out the rest of the struct otherwise.
    if (!host || host->abi != FLINTMERE_WINDOW_ABI) {
        std::fprintf(stderr,
                     "flintmere: the setup window cannot be opened: " FLINTMERE_WINDOW_MODULE
                     " speaks another interface than the program; install the two "
                     "from one build.\n");
        return 1;
    }
    const auto fail = [host](const std::string& why) {
        const std::string line = "RunMainWindow(): " + why;
        host->writeLog(host->logContext, line.data(), line.size());
        std::fprintf(stderr, "flintmere: %s\n", why.c_str());
        return 1;
    };
    if (std::strcmp(host->version, FLINTMERE_VERSION) != 0) {
        return fail("the setup window cannot be opened: " FLINTMERE_WINDOW_MODULE
                    " is version " FLINTMERE_VERSION ", the program " +
                    std::string(host->version) + "; install the two from one build");
    }
    // Nothing may unwind into the program, which knows nothing of C++ here.
    try {
        return flintmere::RunWindow(*host);
    } catch (const std::exception& e) {
        return fail(std::string("the setup window failed: ") + e.what());
    } catch (...) {
        return fail("the setup window failed");
    }
}
