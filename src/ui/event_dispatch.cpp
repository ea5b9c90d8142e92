// The operator's events reach the main dialog's handlers through one table.
#include "ui/flintmere_dlg.h"

namespace flintmere::ui {
namespace {

struct Route {
    int id;
    ControlEvent event;
    void (CflintmereDlg::*handler)();
};

constexpr ControlEvent kClick = ControlEvent::Clicked;
constexpr ControlEvent kLeave = ControlEvent::LostFocus;
constexpr ControlEvent kSelect = ControlEvent::SelectionChanged;

constexpr Route kRoutes[] = {
    // Fields and options.
    {IdChkAutomated, kClick, &CflintmereDlg::OnBnClickedChkAutomated},
    {IdChkPreInstall, kClick, &CflintmereDlg::OnBnClickedChkPreInstall},
    {IdChkNetBoot, kClick, &CflintmereDlg::OnBnClickedChkNetBoot},
    {IdChkDhcp, kClick, &CflintmereDlg::OnBnClickedChkDHCP},
    {IdChkUefi, kClick, &CflintmereDlg::OnBnClickedUefi},
    {IdChkInvert, kClick, &CflintmereDlg::OnBnClickedChkINVERT},
    {IdChkSingleArmed, kClick, &CflintmereDlg::OnBnClickedSingleArmed},
    {IdDisableInterface, kClick, &CflintmereDlg::OnBnClickedDisableInterface},
    {IdChkPartitioned, kClick, &CflintmereDlg::OnBnClickedPartitioned},
    {IdChkLegacyBios, kClick, &CflintmereDlg::OnBnClickedLegacyBios},
    {IdChkGpt, kClick, &CflintmereDlg::OnBnClickedGpt},
    {IdHostName, kLeave, &CflintmereDlg::OnEnKillfocusEditName},
    {IdIpAddress, kLeave, &CflintmereDlg::OnEnKillfocusIpAddress},
    {IdIpNetmask, kLeave, &CflintmereDlg::OnEnKillfocusIpNetmask},
    {IdIpGateway, kLeave, &CflintmereDlg::OnEnKillfocusIpGateway},
    {IdIpv6Address, kLeave, &CflintmereDlg::OnEnKillfocusIpv6Address},
    {IdIpv6Netmask, kLeave, &CflintmereDlg::OnEnKillfocusIpv6Netmask},
    {IdIpv6Gateway, kLeave, &CflintmereDlg::OnEnKillfocusIpv6Gateway},
    {IdInterface, kSelect, &CflintmereDlg::OnCbnSelchangeComboIf},
    {IdHardwareType, kSelect, &CflintmereDlg::OnCbnSelchangeHardwareType},
    // Source and media.
    {IdRefresh, kClick, &CflintmereDlg::OnBnClickedRefresh},
    {IdRadioGenNode, kClick, &CflintmereDlg::OnBnClickedRadioGenNode},
    {IdRadioUseDb, kClick, &CflintmereDlg::OnBnClickedRadioUseDb},
    {IdRadioUseNode, kClick, &CflintmereDlg::OnBnClickedRadioUseNode},
    {IdDbBrowse, kClick, &CflintmereDlg::OnBnClickedButtonDb},
    {IdNodeBrowse, kClick, &CflintmereDlg::OnBnClickedButtonNode},
    {IdMediaSelect, kSelect, &CflintmereDlg::OnCbnSelchangeMediaSelect},
    {IdBranding, kClick, &CflintmereDlg::OnBnClickedBranding},
    // The dialog's own buttons.
    {IdOk, kClick, &CflintmereDlg::OnBnClickedOk},
    {IdCancel, kClick, &CflintmereDlg::OnCancel},
};

}  // namespace

void CflintmereDlg::OnControlEvent(int id, ControlEvent event) {
    // A window that has ended takes no more input.
    if (m_ended) return;
    for (const Route& route : kRoutes) {
        if (route.id == id && route.event == event) {
            (this->*route.handler)();
            return;
        }
    }
}

}  // namespace flintmere::ui
