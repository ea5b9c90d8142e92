// The main dialog on the in-memory window, over an application object with
// fakes: a small installation folder, scripted sticks, a scripted host and
// an operator. Scenarios act through `op` and look through `surface`.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/fake_disks.h"
#include "support/fakes.h"
#include "support/memory_operator.h"
#include "support/ui_operator.h"
#include "ui/flintmere_dlg.h"
#include "ui/memory_surface.h"

namespace flintmere::testing {

// Every file the installation checks look for, empty but present.
inline void MakeBareInstallFolder(const std::string& root) {
    namespace fs = std::filesystem;
    for (const char* file :
         {"syslinux/syslinux.cfg", "syslinux/isolinux.bin", "syslinux/ldlinux.c32",
          "syslinux/mkisofs", "syslinux/syslinux", "systemd-boot/systemd-bootx64.efi",
          "systemd-boot/loader.conf", "systemd-boot/iso.conf", "systemd-boot/usb.conf",
          "kx/initrd.gz", "kx/vmlinuz", "kx/image_zev-1.2.3.4-5.tar"}) {
        const fs::path path = fs::path(root) / file;
        fs::create_directories(path.parent_path());
        WriteFileBytes(path.string(), "x");
    }
}

inline RemovableDisk FakeStick(const std::string& name, std::uint64_t cylinders) {
    RemovableDisk disk;
    disk.name = name;
    disk.devicePath = "/dev/" + name;
    disk.identity = name + ":1";
    disk.description = "Test Stick";
    disk.deviceNumber = 0x800 + name.back();
    disk.geometry.cylinders = cylinders;
    disk.lengthBytes = disk.geometry.Size();
    return disk;
}

// 8 GB at the geometry sticks report.
constexpr std::uint64_t kStickCylinders = 972;

struct DialogRig {
    TempDir dir;
    TestApp app;
    FakeDisks disks;
    ui::MemorySurface surface;
    ScriptedDialogHost host;
    std::unique_ptr<ui::CflintmereDlg> dlg;
    std::unique_ptr<MemoryOperator> op;

    // `sticks` removable drives are listed; the installation folder is
    // `installFolder`, or a bare one made here when empty.
    explicit DialogRig(int sticks = 1, const std::string& installFolder = "") {
        std::string inst = installFolder;
        if (inst.empty()) {
            inst = dir / "inst";
            MakeBareInstallFolder(inst);
        }
        app.env.tempFolder = FromPath(dir.Path() + "/");
        app->OpenLog();
        app->m_exeFolder = FromPath(inst);
        app->m_distFolder = FromPath(inst + "/kx/");
        for (int i = 0; i < sticks; ++i)
            disks.disks.push_back(FakeStick(std::string("sd") + char('b' + i), kStickCylinders));
        app->SetDiskService(&disks);
        ui::RegisterMainDialogControls(surface);
        dlg = std::make_unique<ui::CflintmereDlg>(*app, surface, host);
        op = std::make_unique<MemoryOperator>(surface, *dlg);
    }

    // The dialog's start-up; false when it closed itself.
    bool Start() { return dlg->OnInitDialog(); }

    // The log's messages without their time stamps.
    std::vector<std::string> Log() const {
        std::vector<std::string> out;
        std::istringstream in(ReadFileBytes(app.app->m_logFile.Path()));
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            out.push_back(line.size() > 22 ? line.substr(22) : line);
        }
        return out;
    }
    // Log messages written from now on (call LogMark first).
    std::size_t LogMark() const { return Log().size(); }
    std::vector<std::string> LogSince(std::size_t mark) const {
        std::vector<std::string> all = Log();
        return std::vector<std::string>(all.begin() + static_cast<long>(std::min(mark, all.size())),
                                        all.end());
    }

    std::vector<ShownMessage> Boxes() const { return app.presenter.Shown(); }
    std::string Dump() const { return surface.Dump(); }
};

}  // namespace flintmere::testing
