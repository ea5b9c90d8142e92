// Controls that the main dialog's mode routines treat as one group.
#pragma once

#include "ui/control_ids.h"
#include "ui/control_surface.h"

namespace flintmere::ui {

inline constexpr int kGeneralFieldIds[] = {IdDns1, IdDns2, IdLogicalId, IdQmxUrl1, IdQmxUrl2};
inline constexpr int kGeneralLabelIds[] = {IdLabelDns1, IdLabelDns2, IdLabelLogicalId,
                                           IdLabelQmxUrl1, IdLabelQmxUrl2};
inline constexpr int kOptionBoxIds[] = {IdChkAutomated, IdChkPreInstall, IdChkNetBoot, IdChkDhcp,
                                        IdChkUefi};
inline constexpr int kPartitionBoxIds[] = {IdChkPartitioned, IdChkGpt, IdChkLegacyBios};
inline constexpr int kAddressFieldIds[] = {IdIpAddress,   IdIpNetmask,   IdIpGateway,
                                           IdIpv6Address, IdIpv6Netmask, IdIpv6Gateway};

template <std::size_t N>
void EnableAll(ControlSurface& surface, const int (&ids)[N], bool enabled) {
    for (int id : ids) surface.Enable(id, enabled);
}

// The path edits and Browse buttons of the two file sources.
inline void EnableSourcePaths(ControlSurface& surface, bool database, bool nodeFile) {
    surface.Enable(IdDbPath, database);
    surface.Enable(IdDbBrowse, database);
    surface.Enable(IdNodePath, nodeFile);
    surface.Enable(IdNodeBrowse, nodeFile);
}

// Empties the General fields: the two address controls and the three edits.
inline void ClearGeneralTexts(ControlSurface& surface) {
    surface.ClearAddress(IdDns1);
    surface.ClearAddress(IdDns2);
    surface.SetText(IdLogicalId, u16());
    surface.SetText(IdQmxUrl1, u16());
    surface.SetText(IdQmxUrl2, u16());
}

}  // namespace flintmere::ui
