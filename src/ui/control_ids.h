// Control ids of the main dialog and the branding dialog. The logic, the
// in-memory surface and the Qt widgets all address controls by these.
#pragma once

namespace flintmere::ui {

enum ControlId : int {
    // Buttons every dialog has.
    IdOk = 1,
    IdCancel = 2,

    // Main dialog: media.
    IdRefresh = 1000,
    IdMediaSelect = 1001,
    IdEraseWarning = 1025,
    IdGroupMediaSelect = 1090,  // no id of its own in the template; ours

    // Main dialog: configuration source.
    IdGroupConfigDb = 1081,
    IdRadioUseDb = 1020,
    IdRadioUseNode = 1021,
    IdRadioGenNode = 1022,
    IdDbPath = 1018,
    IdDbBrowse = 1017,
    IdNodePath = 1016,
    IdNodeBrowse = 1015,

    // Main dialog: network configuration.
    IdGroupNetwork = 1091,  // ours
    IdHardwareType = 1041,
    IdHostName = 1008,
    IdInterface = 1019,
    IdDisableInterface = 1007,
    IdIpAddress = 1005,
    IdIpNetmask = 1006,
    IdIpGateway = 1010,
    IdIpv6Address = 1044,
    IdIpv6Netmask = 1045,
    IdIpv6Gateway = 1046,

    // Main dialog: installation method.
    IdGroupInstallMethod = 1080,
    IdChkAutomated = 1034,
    IdChkPreInstall = 1035,
    IdChkNetBoot = 1036,
    IdChkDhcp = 1037,
    IdChkUefi = 1073,
    IdChkInvert = 1047,
    IdChkSingleArmed = 1039,

    // Main dialog: USB options.
    IdGroupUsbOptions = 1079,
    IdChkLegacyBios = 1078,
    IdChkGpt = 1076,
    IdChkPartitioned = 1002,

    // Main dialog: general.
    IdGroupGeneral = 1087,
    IdDns1 = 1011,
    IdDns2 = 1013,
    IdLogicalId = 1009,
    IdQmxUrl1 = 1014,
    IdQmxUrl2 = 1024,
    IdLabelDns1 = 1082,
    IdLabelDns2 = 1083,
    IdLabelLogicalId = 1084,
    IdLabelQmxUrl1 = 1085,
    IdLabelQmxUrl2 = 1086,

    IdBranding = 1066,
    IdHelp = 57670,

    // Branding dialog.
    IdBrandCompanyName = 1067,
    IdBrandProductName = 1068,
    IdBrandLogoPath = 1069,
    IdBrandTla = 1070,
    IdBrandBrowse = 1071,
};

// Index order of the interface list.
enum InterfaceIndex : int { InterfaceLan = 0, InterfaceWan = 1, InterfaceAdmin = 2 };

}  // namespace flintmere::ui
