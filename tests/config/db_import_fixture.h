// Builders of configuration databases and the import fixture shared by the
// import tests.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "support/fakes.h"

namespace flintmere {

using testing::ReadFileBytes;
using testing::TempDir;
using testing::TestApp;
using testing::WriteFileBytes;

inline const std::string kSample = std::string(FLINTMERE_SOURCE_DIR) + "/samples/config.xml";
inline const u16 kLogoHint =
    u" was specified on XML.\rPlease use the Branding dialog to point to the corresponding file on "
    u"file system.";

// --- database builders; a null text leaves the element out ---

inline std::string Element(const char* name, const char* text) {
    if (!text) return "";
    return std::string("<") + name + ">" + text + "</" + name + ">";
}

inline std::string Realm(const char* type, const char* ip, const char* mask) {
    return "<item><networkRealmDataCommon>" + Element("type", type) + Element("ipAddr", ip) +
           Element("subnetMask", mask) + "</networkRealmDataCommon></item>";
}

inline std::string V4(const char* ip, const char* mask) {
    return Realm("Main IPv4", ip, mask);
}
inline std::string V6(const char* ip, const char* prefix) {
    return Realm("Main IPv6", ip, prefix);
}

inline std::string Iface(const char* eth, const char* enabled, const std::string& realms) {
    return "<item><network>" + Element("interface", eth) + Element("enabled", enabled) +
           "</network><networkRealmDataList>" + realms + "</networkRealmDataList></item>";
}

inline std::string Network(const char* enableBond, const std::string& bonds,
                           const std::string& plains) {
    return Element("enableBond", enableBond) + "<bondList>" + bonds + "</bondList>" +
           "<networkInterfaceList>" + plains + "</networkInterfaceList>";
}

inline std::string Db(const std::string& network, const std::string& services = "",
                      const std::string& maintenance = "") {
    return "<?xml version=\"1.0\"?>\n<kestrelData>\n<kestrelNetwork>" + network +
           "</kestrelNetwork>\n<netServicesData>" + services +
           "</netServicesData>\n<maintenanceData>" + maintenance +
           "</maintenanceData>\n</kestrelData>\n";
}

inline std::string Branding(const char* logo) {
    return "<brandingData>" + Element("logoPicture", logo) + "</brandingData>";
}

inline std::string Utf16(const std::string& utf8, bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t c : Utf8ToUtf16(utf8)) {
        char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
        out += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
    }
    return out;
}

struct Interfaces {
    std::string lan, lanMask, lan6, lanPrefix, wan, wanMask, wan6, wanPrefix, admin, adminMask;
    bool operator==(const Interfaces&) const = default;
    friend std::ostream& operator<<(std::ostream& os, const Interfaces& i) {
        return os << "LAN " << i.lan << "/" << i.lanMask << " " << i.lan6 << "/" << i.lanPrefix
                  << "; WAN " << i.wan << "/" << i.wanMask << " " << i.wan6 << "/" << i.wanPrefix
                  << "; ADMIN " << i.admin << "/" << i.adminMask;
    }
};

inline Interfaces InterfacesOf(const AppParts& a) {
    auto s = [](const u16& t) { return Utf16ToUtf8(t); };
    return {s(a.record.m_lanAddress),  s(a.record.m_lanNetmask), s(a.record.m_lanAddress6),
            s(a.record.m_lanPrefix6),  s(a.record.m_wanAddress), s(a.record.m_wanNetmask),
            s(a.record.m_wanAddress6), s(a.record.m_wanPrefix6), s(a.record.m_adminAddress),
            s(a.record.m_adminNetmask)};
}

class DbImport : public ::testing::Test {
  protected:
    DbImport() {
        t.env.tempFolder = FromPath(dir.Path() + "/");
        t->services.OpenLog();
    }
    std::string Write(const std::string& bytes, const std::string& name = "config.xml") {
        WriteFileBytes(dir / name, bytes);
        return dir / name;
    }
    bool Import(const std::string& bytes) {
        return t->config.OpenDbFile(t->record, FromPath(Write(bytes)));
    }
    std::string Log() { return ReadFileBytes(t->services.m_logFile.Path()); }
    // Values an import must overwrite or reset.
    void Dirty() {
        for (u16* text :
             {&t->record.m_lanAddress, &t->record.m_wanAddress, &t->record.m_adminAddress,
              &t->record.m_gateway, &t->record.m_gateway6, &t->record.m_dns1, &t->record.m_dns2,
              &t->record.m_logicId, &t->record.m_supplyServer1, &t->record.m_serverName}) {
            *text = u"stale";
        }
        t->record.m_lanDisabled = t->record.m_wanDisabled = t->record.m_adminDisabled = 0;
        t->record.m_singleArmed = 1;
        t->record.m_gptPartition = 1;
    }
    void ExpectReset() {
        EXPECT_EQ(t->record.m_serverName, u"unnamed");
        EXPECT_EQ(InterfacesOf(*t), Interfaces{});
        for (const u16* text :
             {&t->record.m_gateway, &t->record.m_gateway6, &t->record.m_dns1, &t->record.m_dns2,
              &t->record.m_logicId, &t->record.m_supplyServer1}) {
            EXPECT_TRUE(text->empty());
        }
        EXPECT_EQ(t->record.m_lanDisabled + t->record.m_wanDisabled + t->record.m_adminDisabled, 3);
        EXPECT_EQ(t->record.m_singleArmed, 0);
        EXPECT_EQ(t->record.m_gptPartition, 0);
    }

    TempDir dir;
    TestApp t;
};

}  // namespace flintmere
