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
    app->services.OpenLog();
    app->record.m_exeFolder = FromPath(inst);
    app->record.m_distFolder = FromPath(inst + "/kx/");
    app->engine.SetDiskService(&service);
    app->engine.m_pProgressDlg = &progress;
    app->record.m_configSource = ConfigGenerateNodeFile;
    app->record.ResetConfiguration(true);
    app->record.m_serverName = u"sbc-portable";
    app->record.m_lanAddress = u"192.0.2.10";
    app->record.m_lanNetmask = u"255.255.255.0";
    app->record.m_hwType = HwLegacyBios;
    app->record.m_partitioned = app->record.m_legacyBios = 1;

    MediaList list;
    app->engine.RefreshDevices(list);
    app->engine.m_selectedDrive = -1;  // never a stick of the host that happens to be listed
    for (std::size_t i = 0; i + 1 < list.entries.size(); ++i) {
        if (ToPath(list.entries[i]).rfind("/dev/" + name + " ", 0) == 0) {
            app->engine.m_selectedDrive = static_cast<int>(i);
        }
    }
    LocalFolderRoot expected(out);
    if (app->engine.m_selectedDrive < 0 || app->engine.SetupUSB() != 1 ||
        app->engine.m_setupStatus != SetupComplete ||
        !app->config.CreateNodeCfgFile(app->record, expected, false)) {
        std::cerr << ReadFileBytes(app->services.m_logFile.Path()) << argv[0]
                  << ": the stick run failed\n";
        return 1;
    }
    return 0;
}
