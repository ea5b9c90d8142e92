// Renders the windows of the program offscreen into PNG files for the README:
// the main window with a stick, for an ISO image, in database mode after an
// import, the branding dialog, the progress dialog and a result box. Built
// with the tests only; the windows run over fakes, never over real disks.
//
//   flintmere_screenshots OUTDIR SAMPLE_CONFIG_XML
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <filesystem>

#include "support/fake_disks.h"
#include "support/fakes.h"
#include "support/recording_presenter.h"
#include "ui/branding_dlg.h"
#include "ui/control_ids.h"
#include "ui/qt/accessibility.h"
#include "ui/qt/branding_widget.h"
#include "ui/qt/main_window.h"
#include "ui/qt/progress_widget.h"

namespace fs = std::filesystem;
using namespace flintmere;
using namespace flintmere::ui;

namespace {

// Every file the installation checks look for; the window needs no more.
void MakeInstallFolder(const fs::path& root) {
    for (const char* file :
         {"syslinux/syslinux.cfg", "syslinux/isolinux.bin", "syslinux/ldlinux.c32",
          "syslinux/mkisofs", "syslinux/syslinux", "systemd-boot/systemd-bootx64.efi",
          "systemd-boot/loader.conf", "systemd-boot/iso.conf", "systemd-boot/usb.conf",
          "kx/initrd.gz", "kx/vmlinuz", "kx/image_zev-1.2.3.4-5.tar"}) {
        fs::create_directories((root / file).parent_path());
        testing::WriteFileBytes((root / file).string(), "x");
    }
}

RemovableDisk Stick() {
    RemovableDisk disk;
    disk.name = "sdb";
    disk.devicePath = "/dev/sdb";
    disk.identity = "sdb:12";
    disk.description = "SanDisk Cruzer Blade";
    disk.deviceNumber = 0x810;
    disk.lengthBytes = 8004304896ull;
    disk.geometry = DiskGeometry::FromLength(disk.lengthBytes, 512);
    return disk;
}

bool Save(QWidget& widget, const fs::path& file) {
    widget.show();
    QApplication::processEvents();
    const bool ok = widget.grab().save(QString::fromStdString(file.string()));
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", file.c_str());
    return ok;
}

// One main window over fakes, as an operator would see it.
struct Window {
    testing::TempDir dir;
    testing::TestApp app;
    testing::FakeDisks disks;
    std::unique_ptr<qt::MainWindow> window;

    Window() {
        MakeInstallFolder(dir / "inst");
        app.env.tempFolder = FromPath(dir.Path() + "/");
        app.env.executablePath = FromPath(dir / "inst/flintmere");
        app.app->DeriveFolders();
        disks.disks.push_back(Stick());
        app->engine.SetDiskService(&disks);
        window = std::make_unique<qt::MainWindow>(app.app->parts);
        window->Start();
    }
    void Operator(int id, ControlEvent event) { window->Logic().OnControlEvent(id, event); }
    void Type(int id, const u16& text) {
        window->Surface().SetText(id, text);
        Operator(id, ControlEvent::LostFocus);
    }
    void Address(int id, const IpFields& fields) {
        window->Surface().SetAddress(id, fields);
        Operator(id, ControlEvent::LostFocus);
    }
    void Choose(int id, int index) {
        window->Surface().ComboSelect(id, index);
        Operator(id, ControlEvent::SelectionChanged);
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s OUTDIR SAMPLE_CONFIG_XML\n", argv[0]);
        return 2;
    }
    const fs::path out = argv[1];
    const std::string sample = argv[2];
    fs::create_directories(out);
    QApplication qtApp(argc, argv);
    qt::InstallAccessibility();
    bool ok = true;

    {  // A stick, typed values.
        Window w;
        w.Type(IdHostName, u"sbc-branch-01");
        w.Address(IdIpAddress, {192, 168, 10, 20});
        w.Address(IdIpNetmask, {255, 255, 255, 0});
        w.Address(IdIpGateway, {192, 168, 10, 1});
        w.Choose(IdHardwareType, 4);
        ok &= Save(w.window->Widget(), out / "main-usb.png");
    }
    {  // The ISO image for a virtual machine.
        Window w;
        w.Choose(IdMediaSelect, 1);
        w.Type(IdHostName, u"sbc-vm-01");
        w.Address(IdIpAddress, {192, 0, 2, 10});
        w.Address(IdIpNetmask, {255, 255, 255, 0});
        w.Choose(IdHardwareType, 1);
        ok &= Save(w.window->Widget(), out / "main-iso.png");
    }
    {  // Database mode after an import.
        Window w;
        w.window->Surface().SetText(IdDbPath, FromPath(sample));
        w.window->Surface().SetCheck(IdRadioGenNode, false);
        w.window->Surface().SetCheck(IdRadioUseDb, true);
        w.Operator(IdRadioUseDb, ControlEvent::Clicked);
        ok &= Save(w.window->Widget(), out / "main-database.png");
    }
    {  // The branding dialog.
        RecordingPresenter boxes;
        Window w;
        CBrandingDlg logic(u"Example Telecom Ltd.", u"Branch SBC",
                           u"Licensed to Example Telecom Ltd.", u"logo.png", boxes,
                           w.window->Host());
        qt::BrandingWidget widget(&w.window->Widget());
        qt::QtSurface surface;
        surface.Register(widget.Controls());
        logic.OnInitDialog(surface);
        ok &= Save(widget, out / "branding.png");
    }
    {  // The progress dialog during the copy.
        qt::ProgressWidget progress(nullptr);
        progress.SetPos(64);
        progress.SetAction(u"Copying files...\r\nimage_zev-1.2.3.4-5.tar");
        ok &= Save(progress, out / "progress.png");
    }
    {  // The result box.
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Setup"),
                        QStringLiteral("USB Stick Setup complete"), QMessageBox::Ok);
        ok &= Save(box, out / "result.png");
    }
    return ok ? 0 : 1;
}
