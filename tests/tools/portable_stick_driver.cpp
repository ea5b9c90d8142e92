// scripts/portable-check: the stick sequence of the program in INSTALL_DIR
// on loop device LOOP_NAME, admitted as the end-to-end tests admit one (the
// shipped program never does). Writes the node.cfg the stick must hold to
// OUT_DIR; prints the log when the run fails.
#include <iostream>
#include <string>
#include <vector>

#include "platform/disk_service.h"
#include "support/fakes.h"
#include "support/recording_progress.h"

using namespace flintmere;
using namespace flintmere::testing;

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: " << argv[0] << " INSTALL_DIR LOOP_NAME OUT_DIR\n";
        return 2;
    }
    const std::string inst = argv[1], name = argv[2], out = argv[3];
    LinuxDiskService service(DiskRoots{}, std::vector<std::string>{name});
    RecordingProgress progress;
    TestApp app;
    app.env.tempFolder = FromPath(out + "/");
    app->OpenLog();
    app->m_exeFolder = FromPath(inst);
    app->m_distFolder = FromPath(inst + "/kx/");
    app->SetDiskService(&service);
    app->m_pProgressDlg = &progress;
    app->m_configSource = ConfigGenerateNodeFile;
    app->ResetConfiguration(true);
    app->m_serverName = u"sbc-portable";
    app->m_lanAddress = u"192.0.2.10";
    app->m_lanNetmask = u"255.255.255.0";
    app->m_hwType = HwLegacyBios;
    app->m_partitioned = app->m_legacyBios = 1;

    MediaList list;
    app->RefreshDevices(list);
    app->m_selectedDrive = -1;  // never a stick of the host that happens to be listed
    for (std::size_t i = 0; i + 1 < list.entries.size(); ++i) {
        if (ToPath(list.entries[i]).rfind("/dev/" + name + " ", 0) == 0) {
            app->m_selectedDrive = static_cast<int>(i);
        }
    }
    LocalFolderRoot expected(out);
    if (app->m_selectedDrive < 0 || app->SetupUSB() != 1 || app->m_setupStatus != SetupComplete ||
        !app->CreateNodeCfgFile(expected, false)) {
        std::cerr << ReadFileBytes(app->m_logFile.Path()) << argv[0] << ": the stick run failed\n";
        return 1;
    }
    return 0;
}
