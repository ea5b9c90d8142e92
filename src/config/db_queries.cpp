#include "config/db_queries.h"

namespace flintmere {
namespace {

#define FM_NET "/kestrelData/kestrelNetwork/"
#define FM_BOND(eth) FM_NET "bondList/item/network/interface[text()='" eth "']/.."
#define FM_PLAIN(eth) FM_NET "networkInterfaceList/item/network/interface[text()='" eth "']/.."
#define FM_REALM(type) \
    "/../networkRealmDataList/item/networkRealmDataCommon/type[text()='" type "']/.."

// Indexed by DbQuery; the order is the order of evaluation.
constexpr const char* kPaths[] = {
    FM_NET "enableBond",
    FM_BOND("eth0") "/enabled",
    FM_BOND("eth1") "/enabled",
    FM_BOND("eth0") FM_REALM("Main IPv6") "/ipAddr",
    FM_BOND("eth0") FM_REALM("Main IPv6") "/subnetMask",
    FM_BOND("eth0") FM_REALM("Main IPv4") "/ipAddr",
    FM_BOND("eth0") FM_REALM("Main IPv4") "/subnetMask",
    FM_PLAIN("eth0") "/enabled",
    FM_PLAIN("eth0") FM_REALM("Main IPv6") "/ipAddr",
    FM_PLAIN("eth0") FM_REALM("Main IPv6") "/subnetMask",
    FM_PLAIN("eth0") FM_REALM("Main IPv4") "/ipAddr",
    FM_PLAIN("eth0") FM_REALM("Main IPv4") "/subnetMask",
    FM_BOND("eth1") FM_REALM("Main IPv6") "/ipAddr",
    FM_BOND("eth1") FM_REALM("Main IPv6") "/subnetMask",
    FM_BOND("eth1") FM_REALM("Main IPv4") "/ipAddr",
    FM_BOND("eth1") FM_REALM("Main IPv4") "/subnetMask",
    FM_PLAIN("eth1") "/enabled",
    FM_PLAIN("eth1") FM_REALM("Main IPv6") "/ipAddr",
    FM_PLAIN("eth1") FM_REALM("Main IPv6") "/subnetMask",
    FM_PLAIN("eth1") FM_REALM("Main IPv4") "/ipAddr",
    FM_PLAIN("eth1") FM_REALM("Main IPv4") "/subnetMask",
    FM_PLAIN("eth2") "/enabled",
    FM_PLAIN("eth2") FM_REALM("Main admin IPv4") "/ipAddr",
    FM_PLAIN("eth2") FM_REALM("Main admin IPv4") "/subnetMask",
    "/kestrelData/netServicesData/gatewayIpAddr",
    "/kestrelData/netServicesData/gatewayIpv6Addr",
    "/kestrelData/netServicesData/gatewayIpv6AddrWan",
    "/kestrelData/netServicesData/gatewayIpv6Addr",
    "//kestrelData/netServicesData/dnsList",
    "//kestrelData/maintenanceData/hostname",
    "//kestrelData/maintenanceData/product",
    "//kestrelData/maintenanceData/logicalBranchOfficeId",
    "//kestrelData/netServicesData/priSoapIpAddr",
    "//kestrelData/netServicesData/secSoapIpAddr",
    "//kestrelData/maintenanceData/brandingData/companyName",
    "//kestrelData/maintenanceData/brandingData/productName",
    "//kestrelData/maintenanceData/brandingData/TLA",
    "//kestrelData/maintenanceData/brandingData/logoPicture",
    "//kestrelData/kestrelNetwork/singleArmed",
};

#undef FM_REALM
#undef FM_PLAIN
#undef FM_BOND
#undef FM_NET

static_assert(sizeof kPaths / sizeof kPaths[0] == kDbQueryCount);

}  // namespace

const char* DbQueryPath(DbQuery query) {
    return kPaths[static_cast<int>(query)];
}

}  // namespace flintmere
