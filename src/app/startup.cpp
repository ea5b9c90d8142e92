#include <cstdio>

#include "app/command_line.h"
#include "app/flintmere_app.h"
#include "app/launcher_install.h"
#include "app/main_window.h"
#include "rollout/rollout_run.h"

namespace flintmere {

void CflintmereApp::DeriveFolders() {
    const u16 exePath = parts.services.env().ExecutablePath();
    const size_t slash = exePath.rfind(u'/');
    parts.record.m_exeFolder = slash == u16::npos ? u16() : exePath.substr(0, slash);
    parts.record.m_distFolder = parts.record.m_exeFolder + u"/kx/";
}

int CflintmereApp::InitInstance(const std::vector<std::string>& args) {
    const ProgramCommand command = ParseProgramCommand(args);
    switch (command.action) {
        case ProgramCommand::Action::Version:
            std::printf("flintmere %s\n", FLINTMERE_VERSION);
            return 0;
        case ProgramCommand::Action::Help:
            PrintUsage(stdout);
            return 0;
        case ProgramCommand::Action::Usage:
            std::fprintf(stderr, "flintmere: %s\n", command.error.c_str());
            PrintUsage(stderr);
            return kExitUsage;
        case ProgramCommand::Action::InstallLauncher:
        case ProgramCommand::Action::RemoveLauncher:
            return RunLauncherCommand(command.action == ProgramCommand::Action::InstallLauncher,
                                      ToPath(parts.services.env().ExecutablePath()));
        default:
            break;
    }
    const bool rollout = command.action == ProgramCommand::Action::Rollout;

    DeriveFolders();
    parts.services.OpenLog();
    parts.services.WriteLog("USB Stick Setup tool is starting");
    parts.services.WriteLogW(u"Internal file version: %s", FLINTMERE_VERSION);

    if (rollout) {
        const int status = RunRollout(parts, args);
        parts.services.WriteLog("USB Stick Setup exit");
        parts.services.m_logFile.Close();
        return status;
    }
    if (command.action == ProgramCommand::Action::Batch) {
        std::vector<u16> given;
        for (const std::string& arg : command.operands) given.push_back(FromPath(arg));
        return RunBatchIso(given);
    }

    int status = RunMainWindow(*this);
    parts.services.WriteLog("USB Stick Setup exit");
    parts.services.m_logFile.Close();
    return status;
}

}  // namespace flintmere
