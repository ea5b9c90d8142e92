#include <cstdio>

#include "app/flintmere_app.h"
#include "app/main_window.h"
#include "rollout/rollout_command.h"
#include "rollout/rollout_run.h"

namespace flintmere {
namespace {

const char kUsage[] =
    "Usage: flintmere                      open the setup window\n"
    "       flintmere CONFIG.xml [NAME]    build CONFIG.iso (or NAME.iso) next to CONFIG.xml\n"
    "                                      from the appliance database, without a window\n"
    "%s"
    "       flintmere --version            print the version\n"
    "       flintmere --help               print this text\n"
    "\n"
    "Run it from the installation folder (the folder holding kx/, syslinux/ and\n"
    "systemd-boot/). Each run writes $TMPDIR/flintmere_YYYYmmddHHMMSS.log.\n"
    "\n"
    "Exit status of a build: 0 built; 1 not built; 2 the first argument is not a\n"
    ".xml database, or there are more than two; 3 built from the reset configuration\n"
    "(the database could not be imported); 4 database refused (a value would change\n"
    "node.cfg); 128+N cancelled by signal N.\n"
    "\n"
    "Exit status of a table, database or node.cfg written to media: 0 every unit\n"
    "done; 1-63 that many units failed (63: 63 or more); 64 wrong command line;\n"
    "65 refused, nothing written; 66 not started (installation folder incomplete,\n"
    "image folder unfit, stick writer or pkexec missing, or the sticks were not\n"
    "confirmed); 67 the result file cannot be written; 128+N cancelled by signal N.\n";

void PrintUsage(std::FILE* out) {
    std::fprintf(out, kUsage, kRolloutUsageText);
}

}  // namespace

void CflintmereApp::DeriveFolders() {
    const u16 exePath = env().ExecutablePath();
    const size_t slash = exePath.rfind(u'/');
    m_exeFolder = slash == u16::npos ? u16() : exePath.substr(0, slash);
    m_distFolder = m_exeFolder + u"/kx/";
}

int CflintmereApp::InitInstance(const std::vector<std::string>& args) {
    const std::string first = args.empty() ? std::string() : args.front();
    if (args.size() == 1 && first == "--version") {
        std::printf("flintmere %s\n", FLINTMERE_VERSION);
        return 0;
    }
    if (args.size() == 1 && (first == "--help" || first == "-h")) {
        PrintUsage(stdout);
        return 2;
    }
    const bool rollout = IsRolloutCommand(args);
    // The database and the name come as arguments of their own: only a
    // first one that names a .xml file, and at most one more, make a run.
    if (!rollout && !args.empty() && (args.size() > 2 || !HasExtension(first, ".xml"))) {
        PrintUsage(stderr);
        return 2;
    }

    DeriveFolders();
    OpenLog();
    WriteLog("USB Stick Setup tool is starting");
    WriteLogW(u"Internal file version: %s", FLINTMERE_VERSION);

    if (rollout) {
        const int status = RunRollout(*this, args);
        WriteLog("USB Stick Setup exit");
        m_logFile.Close();
        return status;
    }
    if (!args.empty()) {
        std::vector<u16> given;
        for (const std::string& arg : args) given.push_back(FromPath(arg));
        return RunBatchIso(given);
    }

    int status = RunMainWindow(*this);
    WriteLog("USB Stick Setup exit");
    m_logFile.Close();
    return status;
}

}  // namespace flintmere
