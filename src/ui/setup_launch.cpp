// OK in the main dialog: the request is checked, the last question asked,
// the remaining values stored, and one worker run under the progress dialog.
#include "config/form_rules.h"
#include "ui/flintmere_dlg.h"

namespace flintmere::ui {
namespace {

// What the checks need of the application object.
class LaunchServices final : public SetupValidationServices {
  public:
    explicit LaunchServices(MediaEngine& app) : app_(app) {}
    bool CheckPendriveSoftware() override { return app_.CheckPendriveSoftware(); }
    bool CheckInstallImage() override { return app_.CheckInstallImage(); }
    std::uint64_t SelectDrive(int mediaEntry) override {
        app_.m_selectedDrive = mediaEntry;
        if (mediaEntry < 0 || mediaEntry >= kMaxDrives) return 0;
        return app_.m_driveSize[static_cast<std::size_t>(mediaEntry)];
    }
    void WriteLogLine(u16view line) override { app_.services().WriteLogWText(line); }
    Presenter& Boxes() override { return app_.services().presenter(); }

  private:
    MediaEngine& app_;
};

constexpr char16_t kEraseQuestion[] =
    u"WARNING: all partitions of the removable media will be deleted and a single FAT32 "
    u"partition will created.\nTherefore, all data of the removable media will be erased. Do "
    u"you really want to continue?";

struct ResultTexts {
    const char16_t* usb;
    const char16_t* iso;
    bool keepsDialogOpen;
};

// Indexed by SetupStatus.
constexpr ResultTexts kResults[] = {
    {u"USB Stick Setup error", u"Virtual Machine ISO image Setup error", false},
    {u"USB Stick Setup complete", u"Virtual Machine ISO image Setup complete", false},
    {u"USB Stick Setup canceled by user", u"Virtual Machine ISO image Setup canceled by user",
     true},
    {u"USB Stick Setup blocked by other application. Close applications that could be using "
     u"resources on this device. Like Windows Explorer",
     u"Virtual Machine ISO image blocked", true},
};

}  // namespace

void CflintmereDlg::OnBnClickedOk() {
    SetupRequestForm form;
    form.hostName = m_surface.GetText(IdHostName);
    form.netBoot = m_surface.IsChecked(IdChkNetBoot);
    form.preinstall = m_surface.IsChecked(IdChkPreInstall);
    form.dhcp = m_surface.IsChecked(IdChkDhcp);
    form.singleArmed = m_surface.IsChecked(IdChkSingleArmed);
    form.automated = m_surface.IsChecked(IdChkAutomated);
    form.sourceDatabase = m_surface.IsChecked(IdRadioUseDb);
    form.sourceNodeFile = m_surface.IsChecked(IdRadioUseNode);
    form.sourceGenerate = m_surface.IsChecked(IdRadioGenNode);
    form.logicalId = m_surface.GetText(IdLogicalId);
    form.qmxUrl1 = m_surface.GetText(IdQmxUrl1);
    form.qmxUrl2 = m_surface.GetText(IdQmxUrl2);
    const int hardware = m_surface.ComboSelection(IdHardwareType);
    if (hardware >= 0) form.hardwareTypeText = m_surface.ComboEntry(IdHardwareType, hardware);
    form.mediaEntryCount = m_surface.ComboCount(IdMediaSelect);
    form.selectedMediaEntry = m_surface.ComboSelection(IdMediaSelect);
    form.invert = m_surface.IsChecked(IdChkInvert);

    LaunchServices services(m_engine);
    const OkDecision decision = DecideOk(m_record, form, TypedGeneralValues(), services);
    // The single-armed defaults clear "Invert" on the way, whatever follows.
    if (form.invert != m_surface.IsChecked(IdChkInvert))
        m_surface.SetCheck(IdChkInvert, form.invert);
    if (decision.declined) return;
    if (const std::optional<FormRefusal>& refused = decision.refusal) {
        m_services.presenter().ShowMessage(refused->text, refused->caption, kMbWarningStyle,
                                           refused->ownedByDialog);
        return;
    }

    if (m_record.m_isoMedia) {
        FileDialogRequest request;
        request.filterName = u"ISO Files (*.iso)";
        request.filterPattern = u"*.iso";
        request.defaultExtension = u"iso";
        request.overwritePrompt = true;
        request.hideReadOnly = true;
        request.owner = DialogOwner::MainDialog;
        const std::optional<u16> path = m_host.SaveFile(request);
        if (!path) return;
        m_record.m_isoPath = *path;
        m_services.WriteLogW(u"Save ISO file as %s", m_record.m_isoPath);
    } else if (!m_stickWriter.m_stickRunInProcess && !m_stickWriter.CheckStickWriter()) {
        return;
    } else if (m_services.presenter().ShowMessage(kEraseQuestion, u"USB Stick Setup",
                                                  kMbQuestionStyle, true) != kIdYes) {
        return;
    }

    StoreTypedValues(m_record);

    const auto flag = [this](int id) -> Flag { return m_surface.IsChecked(id) ? 1 : 0; };
    m_record.m_preinstall = flag(IdChkPreInstall);
    m_record.m_netboot = flag(IdChkNetBoot);
    m_record.m_dhcp = flag(IdChkDhcp);
    m_record.m_autoinstall = flag(IdChkAutomated);
    m_record.m_uefi = flag(IdChkUefi);
    m_record.m_invert = flag(IdChkInvert);
    m_record.m_singleArmed = flag(IdChkSingleArmed);
    m_record.m_partitioned = flag(IdChkPartitioned);
    m_record.m_gptPartition = flag(IdChkGpt);
    m_record.m_legacyBios = flag(IdChkLegacyBios);

    m_engine.m_pProgressDlg = &m_host.CreateProgressDialog();
    m_engine.m_setupStatus = SetupError;
    const bool iso = m_record.m_isoMedia != 0;
    // A worker that cannot start has shown why; the dialog still runs and
    // its Cancel reports the run as cancelled.
    m_engine.StartWorker(
        [this, iso] { return iso ? m_engine.SetupISO() : m_stickWriter.RunStickSetup(); });
    m_host.RunProgress(m_engine);
    // The dialog object must outlive every channel call of the worker.
    m_engine.WaitWorker();
    m_engine.m_pProgressDlg = nullptr;

    const int status = m_engine.m_setupStatus.load();
    if (status < SetupError || status > SetupBlocked) {
        EndDialog(kIdOk);
        return;
    }
    const ResultTexts& texts = kResults[status];
    m_services.presenter().ShowMessage(m_record.m_isoMedia ? texts.iso : texts.usb, u"Setup",
                                       kMbWarningStyle, false);
    if (!texts.keepsDialogOpen) EndDialog(kIdOk);
}

GeneralValues CflintmereDlg::TypedGeneralValues() const {
    const auto dns = [this](int id) -> std::optional<u16> {
        // A blank control keeps what the record holds (a database's value).
        if (m_surface.IsAddressBlank(id)) return std::nullopt;
        const IpFields f = m_surface.GetAddress(id);
        return FormatW(u"%d.%d.%d.%d", f[0], f[1], f[2], f[3]);
    };
    return {dns(IdDns1), dns(IdDns2), m_surface.GetText(IdLogicalId), m_surface.GetText(IdQmxUrl1),
            m_surface.GetText(IdQmxUrl2)};
}

void CflintmereDlg::StoreTypedValues(SetupRecord& record) const {
    StoreGeneralValues(record, TypedGeneralValues());
}

void CflintmereDlg::OnCancel() {
    EndDialog(kIdCancel);
}

}  // namespace flintmere::ui
