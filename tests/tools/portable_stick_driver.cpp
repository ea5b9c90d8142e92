// Runs the stick sequence of the program in INSTALL_DIR on an admitted loop
// device, for scripts/portable-check: the disk service admits a loop device
// only through the constructor the tests use, never in the shipped program.
// Writes the node.cfg the stick must hold into OUT_DIR and prints the log
// when the run fails.
//
//   portable-stick-driver INSTALL_DIR LOOP_NAME OUT_DIR
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "platform/disk_service.h"
#include "platform/media_root.h"
#include "support/fakes.h"
#include "support/recording_progress.h"

using namespace flintmere;
using namespace flintmere::testing;

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s INSTALL_DIR LOOP_NAME OUT_DIR\n", argv[0]);
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
    app->m_lanDisabled = 0;
    app->m_lanAddress = u"192.0.2.10";
    app->m_lanNetmask = u"255.255.255.0";
    app->m_gateway = u"192.0.2.1";
    app->m_hwType = HwLegacyBios;
    app->m_partitioned = 1;
    app->m_legacyBios = 1;

    MediaList list;
    app->RefreshDevices(list);
    app->m_selectedDrive = -1;
    for (std::size_t i = 0; i + 1 < list.entries.size(); ++i) {
        if (ToPath(list.entries[i]).rfind("/dev/" + name + " ", 0) == 0) {
            app->m_selectedDrive = static_cast<int>(i);
        }
    }
    if (app->m_selectedDrive < 0) {
        std::fprintf(stderr, "%s: /dev/%s is not in the media list\n", argv[0], name.c_str());
        return 1;
    }
    const bool done = app->SetupUSB() == 1 && app->m_setupStatus == SetupComplete;
    LocalFolderRoot reference(out);
    const bool reference_written = app->CreateNodeCfgFile(reference, false);
    if (!done || !reference_written) {
        std::cerr << ReadFileBytes(app->m_logFile.Path());
        std::fprintf(stderr, "%s: the stick run failed\n", argv[0]);
        return 1;
    }
    std::printf("stick written: /dev/%s\n", name.c_str());
    return 0;
}
