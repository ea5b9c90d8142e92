// The branding dialog: three texts checked on OK, the logo picture loaded
// once the dialog has closed; a logo that cannot be used sends the operator
// back into the dialog.
#include "ui/branding_dlg.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "config/setup_validation.h"
#include "platform/unique_fd.h"
#include "ui/flintmere_dlg.h"

namespace flintmere::ui {
namespace {

struct BrandingField {
    int id;
    const char16_t* label;  // for CheckBrandingText; null: not checked
    int limit;
};

constexpr BrandingField kFields[] = {
    {IdBrandCompanyName, u"Company Name", 33},
    {IdBrandProductName, u"Product Name", 33},
    {IdBrandTla, u"TLA", 300},
    {IdBrandLogoPath, nullptr, 260},
};

// The framework's message for a text over its edit's limit.
constexpr unsigned kMbLengthStyle = kMbOk | kMbIconWarning;

u16 BareFileName(const u16& path) {
    const std::size_t slash = path.rfind(u'/');
    return slash == u16::npos ? path : path.substr(slash + 1);
}

}  // namespace

u16 CBrandingDlg::s_brandingLogoPath;

CBrandingDlg::CBrandingDlg(const u16& company, const u16& product, const u16& tla,
                           const u16& logoFile, Presenter& boxes, DialogHost& host)
    : m_dlgCompanyName(company),
      m_dlgProductName(product),
      m_dlgTla(tla),
      m_boxes(boxes),
      m_host(host) {
    s_brandingLogoPath = logoFile;
}

void CBrandingDlg::OnInitDialog(ControlSurface& surface) {
    m_surface = &surface;
    for (const BrandingField& field : kFields) m_surface->SetTextLimit(field.id, field.limit);
    LoadEdits();
}

void CBrandingDlg::OnControlEvent(int id, ControlEvent event) {
    if (id == IdBrandBrowse && event == ControlEvent::Clicked) OnBnClickedBrowse();
}

bool CBrandingDlg::OnOK() {
    return SaveEdits();
}

bool CBrandingDlg::SaveEdits() {
    if (!m_surface) return false;
    u16* targets[] = {&m_dlgCompanyName, &m_dlgProductName, &m_dlgTla, &s_brandingLogoPath};
    // Every edit is taken first, so a failing check never loses what the
    // operator typed into a later field (Browse loads the state back).
    for (std::size_t i = 0; i < std::size(kFields); ++i)
        *targets[i] = m_surface->GetText(kFields[i].id);
    for (std::size_t i = 0; i < std::size(kFields); ++i) {
        const BrandingField& field = kFields[i];
        const u16& text = *targets[i];
        bool ok = true;
        if (static_cast<int>(text.size()) > field.limit) {
            m_boxes.ShowMessage(FormatW(u"Enter no more than %d characters.", field.limit),
                                kApplicationTitle, kMbLengthStyle);
            ok = false;
        } else if (field.label && !CheckBrandingText(field.label, text, m_boxes)) {
            ok = false;
        }
        if (!ok) {
            m_surface->SetFocus(field.id);
            return false;
        }
    }
    return true;
}

void CBrandingDlg::LoadEdits() {
    if (!m_surface) return;
    m_surface->SetText(IdBrandCompanyName, m_dlgCompanyName);
    m_surface->SetText(IdBrandProductName, m_dlgProductName);
    m_surface->SetText(IdBrandTla, m_dlgTla);
    m_surface->SetText(IdBrandLogoPath, s_brandingLogoPath);
}

void CBrandingDlg::OnBnClickedBrowse() {
    // The checks show their messages but do not stop the browse.
    SaveEdits();
    FileDialogRequest request;
    request.filterName = u"All Files";
    request.filterPattern = u"*.*";
    request.mustExist = true;
    request.hideReadOnly = true;
    request.owner = DialogOwner::BrandingDialog;
    const std::optional<u16> path = m_host.OpenFile(request);
    if (!path) return;
    s_brandingLogoPath = *path;
    LoadEdits();
}

bool CBrandingDlg::LoadLogoFile(u16& logoFile, std::vector<std::uint8_t>& logoData) {
    if (s_brandingLogoPath.empty()) {
        logoFile.clear();
        logoData.clear();
        return true;
    }
    // Not blocking on open, and only a plain file: a FIFO or a device named
    // here must not hang the window.
    UniqueFd fd(::open(ToPath(s_brandingLogoPath).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        m_boxes.ShowMessage(u"Unable to open file " + s_brandingLogoPath, kApplicationTitle,
                            kMbSimpleErrorStyle);
        return false;
    }
    // One byte past the limit tells a file that is too large.
    std::vector<std::uint8_t> data(kMaxLogoBytes);
    std::size_t got = 0;
    while (got < data.size()) {
        const ssize_t n = ::read(fd.Get(), data.data() + got, data.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            m_boxes.ShowMessage(u"Unable to open file " + s_brandingLogoPath, kApplicationTitle,
                                kMbSimpleErrorStyle);
            return false;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    if (got >= kMaxLogoBytes) {
        logoData.clear();
        m_boxes.ShowMessage(FormatW(u"Logo file size exceeded maximum=%dKB", 50), kApplicationTitle,
                            kMbSimpleErrorStyle);
        return false;
    }
    data.resize(got);
    logoData = std::move(data);
    logoFile = BareFileName(s_brandingLogoPath);
    return true;
}

// The branding button: the operator stays in the dialog until the logo loads
// or Cancel is pressed; the record changes only after a good load.
void CflintmereDlg::OnBnClickedBranding() {
    CBrandingDlg dialog(m_record.m_companyName, m_record.m_productName, m_record.m_tla,
                        m_record.m_logoFile, m_services.presenter(), m_host);
    while (m_host.RunBranding(dialog)) {
        if (dialog.LoadLogoFile(m_record.m_logoFile, m_record.m_logoData)) {
            m_stickWriter.m_logoSourcePath = CBrandingDlg::s_brandingLogoPath;
            m_record.m_companyName = dialog.m_dlgCompanyName;
            m_record.m_productName = dialog.m_dlgProductName;
            m_record.m_tla = dialog.m_dlgTla;
            return;
        }
    }
}

}  // namespace flintmere::ui
