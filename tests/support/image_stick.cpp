#include "support/image_stick.h"

namespace flintmere::testing {

ProgramResult MakeFatImage(const std::string& image, bool copyOnly) {
    std::string make = "mkfs.fat -F 32 -n tvq -C " + image + " 131072 >/dev/null";
    if (copyOnly) make += " && echo keep | mcopy -i " + image + " - ::/copyonly";
    return RunProgram({"sh", "-c", make}, {"MTOOLS_SKIP_CHECK=1"});
}

void WireImageStick(TestApp& app, FakeDisks& disks, RecordingProgress& progress,
                    const std::string& inst, const std::string& image, const std::string& tempDir) {
    RemovableDisk stick;
    stick.name = "sdz";
    stick.devicePath = "/dev/sdz";
    stick.identity = "sdz:7";
    stick.deviceNumber = (8u << 8) | 250;
    stick.lengthBytes = 128ull << 20;
    stick.geometry = DiskGeometry::FromLength(stick.lengthBytes, 512);
    disks.disks = {stick};
    disks.volumes["sdz"] = image;
    disks.tables["sdz"] = PartitionEntry{};

    app->engine.SetDiskService(&disks);
    app->engine.m_pProgressDlg = &progress;
    app.env.tempFolder = FromPath(tempDir + "/");
    app->services.OpenLog();
    app->record.m_exeFolder = FromPath(inst);
    app->record.m_distFolder = FromPath(inst + "/kx/");
    app->engine.m_driveVolumeName[0] = u"sdz:7";
    app->engine.m_selectedDrive = 0;
    app->record.ResetConfiguration(true);
    app->record.m_serverName = u"sbc1";
    app->record.m_configSource = ConfigGenerateNodeFile;
}

}  // namespace flintmere::testing
