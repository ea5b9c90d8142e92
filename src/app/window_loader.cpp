// The window run: the window and Qt live in a module of their own that is
// loaded only here, so --version, batch mode and the rollout start on a
// machine without a display's libraries.
#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/flintmere_app.h"
#include "app/main_window.h"
#include "app/window_module.h"

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

void WriteHostLog(void* context, const char* line, size_t length) {
    static_cast<CflintmereApp*>(context)->parts.services.WriteLogLine(
        std::string_view(line, length));
}

int CannotOpen(CflintmereApp& app, const std::string& why) {
    app.parts.services.WriteLog("RunMainWindow(): the window cannot be opened: %s", why.c_str());
    std::fprintf(stderr,
                 "flintmere: the setup window cannot be opened: %s.\n"
                 "The window needs " FLINTMERE_WINDOW_MODULE
                 " beside the program and the desktop's display libraries. To build an ISO "
                 "image or run a table without a window, give the database or the table on "
                 "the command line (flintmere --help).\n",
                 why.c_str());
    return 1;
}

}  // namespace

int RunMainWindow(CflintmereApp& app) {
    const std::string missing = MissingDisplay();
    if (!missing.empty()) {
        app.parts.services.WriteLog("RunMainWindow(): %s", missing.c_str());
        std::fprintf(stderr,
                     "flintmere: %s.\n"
                     "The setup window needs a graphical session. To build an ISO image "
                     "without a window, give the configuration database on the command line "
                     "(flintmere --help).\n",
                     missing.c_str());
        return 1;
    }
    // A path with a slash: the loader takes this file, never one found on
    // LD_LIBRARY_PATH or the system's search path. Never unloaded: Qt keeps
    // exit handlers and threads inside it until the process ends.
    const std::string exeFolder = ToPath(app.parts.record.m_exeFolder);
    const std::string distFolder = ToPath(app.parts.record.m_distFolder);
    const std::string path = exeFolder + "/" FLINTMERE_WINDOW_MODULE;
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) return CannotOpen(app, ::dlerror());
    auto entry = reinterpret_cast<FlintmereWindowEntry>(::dlsym(module, FLINTMERE_WINDOW_ENTRY));
    if (!entry) return CannotOpen(app, path + " has no entry " FLINTMERE_WINDOW_ENTRY);
    const FlintmereWindowHost host{FLINTMERE_WINDOW_ABI, FLINTMERE_VERSION, exeFolder.c_str(),
                                   distFolder.c_str(),   WriteHostLog,      &app};
    return entry(&host);
}

}  // namespace flintmere
