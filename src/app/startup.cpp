#include <cstdio>

#include "app/flintmere_app.h"
#include "app/main_window.h"

namespace flintmere {
namespace {

const char kUsage[] =
    "Usage: flintmere                      open the setup window\n"
    "       flintmere CONFIG.xml [NAME]    build CONFIG.iso (or NAME.iso) next to CONFIG.xml\n"
    "                                      from the appliance database, without a window\n"
    "       flintmere --version            print the version\n"
    "       flintmere --help               print this text\n"
    "\n"
    "Run it from the installation folder (the folder holding kx/, syslinux/ and\n"
    "systemd-boot/). Each run writes $TMPDIR/flintmere_YYYYmmddHHMMSS.log.\n"
    "\n"
    "Exit status of a build: 0 built; 1 not built; 2 no database named; 3 built from\n"
    "the reset configuration (the database could not be imported); 4 database\n"
    "refused (a value would change node.cfg); 128+N cancelled by signal N.\n";

std::string JoinArguments(const std::vector<std::string>& args) {
    std::string line;
    for (const std::string& arg : args) {
        if (!line.empty()) line += ' ';
        line += arg;
    }
    return line;
}

}  // namespace

void CflintmereApp::DeriveFolders() {
    const u16 exePath = env().ExecutablePath();
    const size_t slash = exePath.rfind(u'/');
    m_exeFolder = slash == u16::npos ? u16() : exePath.substr(0, slash);
    m_distFolder = m_exeFolder + u"/kx/";
}

int CflintmereApp::InitInstance(const std::vector<std::string>& args) {
    // The command line is the arguments joined by single spaces, so
    // `flintmere a.xml vm1` and `flintmere "a.xml vm1"` mean the same.
    const std::string commandLine = JoinArguments(args);
    if (commandLine == "--version") {
        std::printf("flintmere %s\n", FLINTMERE_VERSION);
        return 0;
    }
    if (!commandLine.empty() && commandLine.find(".xml") == std::string::npos) {
        std::fputs(kUsage, commandLine == "--help" || commandLine == "-h" ? stdout : stderr);
        return 2;
    }

    DeriveFolders();
    OpenLog();
    WriteLog("USB Stick Setup tool is starting");
    WriteLogW(u"Internal file version: %s", FLINTMERE_VERSION);

    if (!commandLine.empty()) return RunBatchIso(FromPath(commandLine));

    int status = RunMainWindow(*this);
    WriteLog("USB Stick Setup exit");
    m_logFile.Close();
    return status;
}

}  // namespace flintmere
