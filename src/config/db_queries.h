// The location paths read from a configuration database, in the order the
// import runs them.
#pragma once

namespace flintmere {

enum class DbQuery : int {
    EnableBond,
    BondLanEnabled,
    BondWanEnabled,
    BondLanAddress6,
    BondLanPrefix6,
    BondLanAddress,
    BondLanNetmask,
    PlainLanEnabled,
    PlainLanAddress6,
    PlainLanPrefix6,
    PlainLanAddress,
    PlainLanNetmask,
    BondWanAddress6,
    BondWanPrefix6,
    BondWanAddress,
    BondWanNetmask,
    PlainWanEnabled,
    PlainWanAddress6,
    PlainWanPrefix6,
    PlainWanAddress,
    PlainWanNetmask,
    AdminEnabled,
    AdminAddress,
    AdminNetmask,
    Gateway,
    Gateway6,
    Gateway6Wan,
    Gateway6Again,
    DnsList,
    HostName,
    Product,
    LogicalId,
    PrimaryServer,
    SecondaryServer,
    CompanyName,
    ProductName,
    Tla,
    LogoPicture,
    SingleArmed,
    Count
};

inline constexpr int kDbQueryCount = static_cast<int>(DbQuery::Count);

// XPath 1.0 text of a query.
const char* DbQueryPath(DbQuery query);

}  // namespace flintmere
