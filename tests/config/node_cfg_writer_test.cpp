#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/fakes.h"

namespace flintmere {
namespace {

using testing::ReadFileBytes;
using testing::TempDir;
using testing::TestApp;

// The stick of the documented example: X3250, sbc1, LAN 10.0.0.10/24, gateway
// 10.0.0.1, WAN and ADMIN not in use, automated, legacy boot loader.
void ExampleRecord(SetupRecord& r) {
    r.ResetConfiguration(true);
    r.m_serverName = u"sbc1";
    r.m_lanDisabled = 0;
    r.m_lanAddress = u"10.0.0.10";
    r.m_lanNetmask = u"255.255.255.0";
    r.m_gateway = u"10.0.0.1";
    r.m_autoinstall = 1;
    r.m_legacyBios = 1;
    r.m_hwType = HwX3250;
    r.m_isoMedia = 0;
}

const char kExampleFile[] =
    "kestrel_label: sbc1\n"
    "kestrel_lan: 10.0.0.10 255.255.255.0\n"
    "kestrel_lan6: 0 0\n"
    "kestrel_wan: 0.0.0.0 0.0.0.0\n"
    "kestrel_wan6: 0 0\n"
    "kestrel_gw: 10.0.0.1\n"
    "kestrel_gw6: 0\n"
    "usb_stick_partitioned: 0\n"
    "preinstall: 0\n"
    "autoinstall: 1\n"
    "netboot: 0\n"
    "dhcp: 0\n"
    "uefi: 0\n"
    "legacy_bios: 1\n"
    "gpt_partition: 0\n"
    "supplyserver1: \n"
    "supplyserver2: \n"
    "logicid: \n"
    "dns1: \n"
    "dns2: \n"
    "invert: 0\n"
    "singlearmed: 0\n"
    "hw_platform: x3250\n";

struct Written {
    bool result;
    std::string file;
};

Written Write(TestApp& t, const TempDir& dir, bool forceAutoinstall = false) {
    LocalFolderRoot root(dir.Path());
    bool result = t->config.CreateNodeCfgFile(t->record, root, forceAutoinstall);
    return {result, ReadFileBytes(dir / "node.cfg")};
}

std::vector<std::string> Lines(const std::string& file) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < file.size()) {
        std::size_t end = file.find('\n', start);
        if (end == std::string::npos) end = file.size();
        lines.push_back(file.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// The line whose key is `key` (with its colon), if there is one.
std::optional<std::string> LineFor(const std::string& file, const std::string& key) {
    for (const std::string& line : Lines(file)) {
        if (line.compare(0, key.size(), key) == 0) return line;
    }
    return std::nullopt;
}

TEST(NodeCfgWriter, WritesTheExampleByteForByte) {
    TestApp t;
    TempDir dir;
    ExampleRecord(t->record);
    Written w = Write(t, dir);
    EXPECT_TRUE(w.result);
    EXPECT_EQ(w.file, kExampleFile);
    EXPECT_EQ(t.stdoutText, "");
}

// samples/node.cfg is what the writer makes of a typical site's record.
TEST(NodeCfgWriter, SampleFileMatchesTheWriter) {
    TestApp t;
    TempDir dir;
    SetupRecord& r = t->record;
    r.ResetConfiguration(true);
    r.m_serverName = u"sbc-site1";
    r.m_lanDisabled = r.m_wanDisabled = 0;
    r.m_lanAddress = u"192.168.10.20";
    r.m_lanNetmask = u"255.255.255.0";
    r.m_lanAddress6 = u"fd00:10::20";
    r.m_lanPrefix6 = u"64";
    r.m_wanAddress = u"203.0.113.10";
    r.m_wanNetmask = u"255.255.255.240";
    r.m_wanAddress6 = u"2001:db8:1::10";
    r.m_wanPrefix6 = u"64";
    r.m_gateway = u"192.168.10.1";
    r.m_gateway6 = u"fd00:10::1";
    r.m_partitioned = r.m_autoinstall = r.m_uefi = r.m_legacyBios = 1;
    r.m_supplyServer1 = u"qmx1.example.net";
    r.m_supplyServer2 = u"qmx2.example.net";
    r.m_logicId = u"1001";
    r.m_dns1 = u"192.168.10.2";
    r.m_dns2 = u"192.168.10.3";
    r.m_hwType = HwSr630;
    Written w = Write(t, dir);
    EXPECT_TRUE(w.result);
    EXPECT_EQ(w.file, ReadFileBytes(std::string(FLINTMERE_SOURCE_DIR) + "/samples/node.cfg"));
}

TEST(NodeCfgWriter, LineRules) {
    struct Case {
        const char* name;
        std::function<void(SetupRecord&)> change;
        // key -> expected whole line, or nullopt when the line must be absent
        std::vector<std::pair<std::string, std::optional<std::string>>> expect;
    };
    const Case cases[] = {
        {"empty server name",
         [](SetupRecord& r) { r.m_serverName.clear(); },
         {{"kestrel_label:", "kestrel_label: unnamed"}}},
        {"dhcp replaces the LAN lines",
         [](SetupRecord& r) {
             r.m_dhcp = 1;
             r.m_lanAddress6 = u"fd00::5";
             r.m_lanPrefix6 = u"64";
         },
         {{"kestrel_lan:", "kestrel_lan: 0.0.0.0 0.0.0.0"},
          {"kestrel_lan6:", "kestrel_lan6: 0 0"},
          {"dhcp:", "dhcp: 1"}}},
        {"LAN is written unchecked",
         [](SetupRecord& r) {
             r.m_lanDisabled = 1;
             r.m_lanAddress = u"not-an-address";
             r.m_lanNetmask.clear();
         },
         {{"kestrel_lan:", "kestrel_lan: not-an-address "}}},
        {"LAN IPv6 with prefix",
         [](SetupRecord& r) {
             r.m_lanAddress6 = u"fd00::5";
             r.m_lanPrefix6 = u"64";
         },
         {{"kestrel_lan6:", "kestrel_lan6: fd00::5 64"}}},
        {"LAN IPv6 without prefix keeps the trailing space",
         [](SetupRecord& r) { r.m_lanAddress6 = u"fd00::5"; },
         {{"kestrel_lan6:", "kestrel_lan6: fd00::5 "}}},
        {"WAN in use and valid",
         [](SetupRecord& r) {
             r.m_wanDisabled = 0;
             r.m_wanAddress = u"192.168.1.10";
             r.m_wanNetmask = u"255.255.255.0";
         },
         {{"kestrel_wan:", "kestrel_wan: 192.168.1.10 255.255.255.0"}}},
        {"WAN with a bad netmask",
         [](SetupRecord& r) {
             r.m_wanDisabled = 0;
             r.m_wanAddress = u"192.168.1.10";
             r.m_wanNetmask = u"255.0.255.0";
         },
         {{"kestrel_wan:", "kestrel_wan: 0.0.0.0 0.0.0.0"}}},
        {"WAN with a bad address",
         [](SetupRecord& r) {
             r.m_wanDisabled = 0;
             r.m_wanAddress = u"192.168.1.0";
             r.m_wanNetmask = u"255.255.255.0";
         },
         {{"kestrel_wan:", "kestrel_wan: 0.0.0.0 0.0.0.0"}}},
        {"WAN not in use hides valid values",
         [](SetupRecord& r) {
             r.m_wanAddress = u"192.168.1.10";
             r.m_wanNetmask = u"255.255.255.0";
             r.m_wanAddress6 = u"fd01::5";
             r.m_wanPrefix6 = u"64";
         },
         {{"kestrel_wan:", "kestrel_wan: 0.0.0.0 0.0.0.0"},
          {"kestrel_wan6:", "kestrel_wan6: 0 0"}}},
        {"WAN IPv6 empty address with prefix",
         [](SetupRecord& r) {
             r.m_wanDisabled = 0;
             r.m_wanPrefix6 = u"64";
         },
         {{"kestrel_wan6:", "kestrel_wan6:  64"}}},
        {"WAN IPv6 bad prefix",
         [](SetupRecord& r) {
             r.m_wanDisabled = 0;
             r.m_wanAddress6 = u"fd01::5";
             r.m_wanPrefix6 = u"129";
         },
         {{"kestrel_wan6:", "kestrel_wan6: 0 0"}}},
        {"ADMIN in use and valid",
         [](SetupRecord& r) {
             r.m_adminDisabled = 0;
             r.m_adminAddress = u"172.16.0.5";
             r.m_adminNetmask = u"255.255.0.0";
         },
         {{"kestrel_admin:", "kestrel_admin: 172.16.0.5 255.255.0.0"}}},
        {"ADMIN not in use",
         [](SetupRecord& r) {
             r.m_adminAddress = u"172.16.0.5";
             r.m_adminNetmask = u"255.255.0.0";
         },
         {{"kestrel_admin:", std::nullopt}}},
        {"ADMIN with an invalid address",
         [](SetupRecord& r) {
             r.m_adminDisabled = 0;
             r.m_adminAddress = u"127.0.0.1";
             r.m_adminNetmask = u"255.0.0.0";
         },
         {{"kestrel_admin:", std::nullopt}}},
        {"invalid gateway",
         [](SetupRecord& r) { r.m_gateway = u"10.0.0.255"; },
         {{"kestrel_gw:", "kestrel_gw: 0.0.0.0"}}},
        {"empty gateway",
         [](SetupRecord& r) { r.m_gateway.clear(); },
         {{"kestrel_gw:", "kestrel_gw: 0.0.0.0"}}},
        {"IPv6 gateway",
         [](SetupRecord& r) { r.m_gateway6 = u"fd00::1"; },
         {{"kestrel_gw6:", "kestrel_gw6: fd00::1"}}},
        {"stick flags",
         [](SetupRecord& r) {
             r.m_partitioned = r.m_preinstall = r.m_netboot = r.m_uefi = r.m_gptPartition = 1;
             r.m_legacyBios = 0;
             r.m_autoinstall = 0;
         },
         {{"usb_stick_partitioned:", "usb_stick_partitioned: 1"},
          {"preinstall:", "preinstall: 1"},
          {"autoinstall:", "autoinstall: 0"},
          {"netboot:", "netboot: 1"},
          {"uefi:", "uefi: 1"},
          {"legacy_bios:", "legacy_bios: 0"},
          {"gpt_partition:", "gpt_partition: 1"}}},
        {"flags other than 1 print as 1",
         [](SetupRecord& r) {
             r.m_preinstall = 7;
             r.m_invert = -1;
         },
         {{"preinstall:", "preinstall: 1"}, {"invert:", "invert: 1"}}},
        {"stick texts",
         [](SetupRecord& r) {
             r.m_supplyServer1 = u"qmx1.example.net";
             r.m_supplyServer2 = u"10.1.1.1";
             r.m_logicId = u"42";
             r.m_dns1 = u"10.0.0.2";
             r.m_dns2 = u"10.0.0.3";
         },
         {{"supplyserver1:", "supplyserver1: qmx1.example.net"},
          {"supplyserver2:", "supplyserver2: 10.1.1.1"},
          {"logicid:", "logicid: 42"},
          {"dns1:", "dns1: 10.0.0.2"},
          {"dns2:", "dns2: 10.0.0.3"}}},
        {"invert only",
         [](SetupRecord& r) { r.m_invert = 1; },
         {{"invert:", "invert: 1"}, {"singlearmed:", "singlearmed: 0"}}},
        {"single armed only",
         [](SetupRecord& r) { r.m_singleArmed = 1; },
         {{"invert:", "invert: 0"}, {"singlearmed:", "singlearmed: 1"}}},
        {"invert and single armed cancel out",
         [](SetupRecord& r) { r.m_invert = r.m_singleArmed = 1; },
         {{"invert:", "invert: 0"}, {"singlearmed:", "singlearmed: 0"}}},
        {"Windows-1252 and unmappable characters",
         [](SetupRecord& r) {
             r.m_serverName = u"caf\u00e9\u4e2d\U0001F600";
             r.m_logicId = u"\u20ac5";
         },
         {{"kestrel_label:", "kestrel_label: caf\xe9??"},
          {"logicid:",
           "logicid: \x80"
           "5"}}},
        {"line breaks inside values never start lines of their own",
         [](SetupRecord& r) {
             r.m_serverName = u"sbc1\nkestrel_gw: 6.6.6.6";
             r.m_logicId = u"4\r\n2";
         },
         {{"kestrel_label:", "kestrel_label: sbc1 kestrel_gw: 6.6.6.6"},
          {"kestrel_gw:", "kestrel_gw: 10.0.0.1"},
          {"logicid:", "logicid: 4  2"}}},
        {"long lines are written whole",
         [](SetupRecord& r) { r.m_supplyServer1 = u16(3000, u'a'); },
         {{"supplyserver1:", "supplyserver1: " + std::string(3000, 'a')}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestApp t;
        TempDir dir;
        ExampleRecord(t->record);
        c.change(t->record);
        Written w = Write(t, dir);
        EXPECT_TRUE(w.result);
        EXPECT_EQ(w.file.find('\r'), std::string::npos);
        ASSERT_FALSE(w.file.empty());
        EXPECT_EQ(w.file.back(), '\n');
        for (const auto& [key, line] : c.expect) {
            EXPECT_EQ(LineFor(w.file, key), line) << key;
        }
    }
}

TEST(NodeCfgWriter, AdminLineSitsBetweenWan6AndGateway) {
    TestApp t;
    TempDir dir;
    ExampleRecord(t->record);
    t->record.m_adminDisabled = 0;
    t->record.m_adminAddress = u"172.16.0.5";
    t->record.m_adminNetmask = u"255.255.0.0";
    std::vector<std::string> lines = Lines(Write(t, dir).file);
    ASSERT_EQ(lines.size(), 24u);
    EXPECT_EQ(lines[4], "kestrel_wan6: 0 0");
    EXPECT_EQ(lines[5], "kestrel_admin: 172.16.0.5 255.255.0.0");
    EXPECT_EQ(lines[6], "kestrel_gw: 10.0.0.1");
}

TEST(NodeCfgWriter, IsoMediaCarryNoStickSettings) {
    TestApp t;
    TempDir dir;
    ExampleRecord(t->record);
    SetupRecord& r = t->record;
    r.m_isoMedia = 1;
    r.m_hwType = HwVirtual250;
    r.m_partitioned = r.m_preinstall = r.m_netboot = r.m_uefi = r.m_gptPartition = 1;
    r.m_supplyServer1 = u"qmx1";
    r.m_supplyServer2 = u"qmx2";
    r.m_logicId = u"7";
    r.m_dns1 = u"10.0.0.2";
    r.m_dns2 = u"10.0.0.3";
    r.m_invert = 1;
    Written w = Write(t, dir);
    EXPECT_TRUE(w.result);
    EXPECT_EQ(w.file,
              "kestrel_label: sbc1\n"
              "kestrel_lan: 10.0.0.10 255.255.255.0\n"
              "kestrel_lan6: 0 0\n"
              "kestrel_wan: 0.0.0.0 0.0.0.0\n"
              "kestrel_wan6: 0 0\n"
              "kestrel_gw: 10.0.0.1\n"
              "kestrel_gw6: 0\n"
              "usb_stick_partitioned: 0\n"
              "preinstall: 0\n"
              "autoinstall: 0\n"
              "netboot: 0\n"
              "dhcp: 0\n"
              "uefi: 0\n"
              "legacy_bios: 0\n"
              "gpt_partition: 0\n"
              "supplyserver1: \n"
              "supplyserver2: \n"
              "logicid: \n"
              "dns1: \n"
              "dns2: \n"
              "invert: 1\n"
              "singlearmed: 0\n"
              "hw_platform: advantech250\n"
              "vm_platform: Vhw_Small\n");
}

// Everything after the singlearmed line, per hardware code and media kind.
TEST(NodeCfgWriter, HardwareLines) {
    struct Case {
        int code;
        bool iso;
        const char* tail;
    };
    const Case cases[] = {
        {-1, false, "hw_platform:\n"},
        {0, false, "hw_platform: advantech\n"},
        {1, false, "hw_platform: x3250\n"},
        {2, false, "hw_platform: x3550\n"},
        {3, false, "hw_platform: rx330\n"},
        {6, false, "hw_platform: rx200\n"},
        {7, false, "hw_platform: advantech250\n"},
        {10, false, "hw_platform: sr530\n"},
        {11, false, "hw_platform: sr250\n"},
        {13, false, "hw_platform: kontron550\n"},
        {15, false, "hw_platform: sr630\n"},
        {16, true, "hw_platform: advantech250\nvm_platform: Vhw_Small\n"},
        {17, true, "hw_platform: sr250\nvm_platform: Vhw_Medium\n"},
        {18, true, "hw_platform: sr630\nvm_platform: Vhw_Large\n"},
        {19, true, "hw_platform: sr630\nvm_platform: Vhw_ExtraLarge\n"},
        {16, false, "hw_platform: advantech250\nvm_platform: Vhw_Small\n"},
        {20, false, "hw_platform: LEGACY_BIOS\n"},
        {21, false, "hw_platform: UEFI_BIOS\n"},
        {1, true, "hw_platform: x3250\n"},
        // Codes without an entry write no hardware line at all.
        {4, false, ""},
        {5, false, ""},
        {8, false, ""},
        {9, true, ""},
        {12, false, ""},
        {14, false, ""},
        {22, false, ""},
        {-2, true, ""},
        {1000, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "code " << c.code << (c.iso ? " ISO" : " USB"));
        TestApp t;
        TempDir dir;
        ExampleRecord(t->record);
        t->record.m_hwType = c.code;
        t->record.m_isoMedia = c.iso;
        Written w = Write(t, dir);
        EXPECT_TRUE(w.result);
        const std::string marker = "singlearmed: 0\n";
        std::size_t at = w.file.find(marker);
        ASSERT_NE(at, std::string::npos);
        EXPECT_EQ(w.file.substr(at + marker.size()), c.tail);
    }
}

TEST(NodeCfgWriter, IsoWithoutHardwareFailsAndKeepsTheLinesSoFar) {
    TestApp t;
    TempDir dir;
    ExampleRecord(t->record);
    t->record.m_isoMedia = 1;
    t->record.m_hwType = HwNone;
    t->record.m_hwPlatformText = u"x9999";
    t->record.m_vmPlatformText = u"Vhw_\u00c4";
    Written w = Write(t, dir);
    EXPECT_FALSE(w.result);
    EXPECT_EQ(t.stdoutText, "Wrong ISO hardware type: x9999 / Vhw_\u00c4\n");
    ASSERT_GE(w.file.size(), 15u);
    EXPECT_EQ(w.file.substr(w.file.size() - 15), "singlearmed: 0\n");
    EXPECT_EQ(Lines(w.file).size(), 22u);
}

TEST(NodeCfgWriter, ForcedAutoinstall) {
    struct Case {
        bool iso;
        Flag before;
        bool force;
        const char* line;
        Flag after;
    };
    const Case cases[] = {
        {false, 0, true, "autoinstall: 1", 1},
        {false, 0, false, "autoinstall: 0", 0},
        {false, 1, false, "autoinstall: 1", 1},
        {true, 0, true, "autoinstall: 0", 1},  // ISO never carries it, the record still does
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.iso << c.before << c.force);
        TestApp t;
        TempDir dir;
        ExampleRecord(t->record);
        t->record.m_isoMedia = c.iso;
        t->record.m_hwType = c.iso ? HwVirtual6000 : HwX3250;
        t->record.m_autoinstall = c.before;
        Written w = Write(t, dir, c.force);
        EXPECT_TRUE(w.result);
        EXPECT_EQ(LineFor(w.file, "autoinstall:"), c.line);
        EXPECT_EQ(t->record.m_autoinstall, c.after);
    }
}

TEST(NodeCfgWriter, FailingTargetIsReportedOnStdout) {
    TestApp t;
    TempDir dir;
    ExampleRecord(t->record);
    LocalFolderRoot missing(dir / "no-such-folder");
    EXPECT_FALSE(t->config.CreateNodeCfgFile(t->record, missing, true));
    EXPECT_EQ(t.stdoutText, "Could not open file (error 2)\n");
    EXPECT_TRUE(t.presenter.Shown().empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "no-such-folder/node.cfg"));
}

TEST(NodeCfgWriter, LogsTheFirstLinesOnly) {
    TestApp t;
    TempDir dir;
    TempDir logDir;
    t.env.tempFolder = FromPath(logDir.Path() + "/");
    t->services.OpenLog();
    ASSERT_TRUE(t->services.m_logFile.IsOpen());
    ExampleRecord(t->record);
    EXPECT_TRUE(Write(t, dir).result);
    std::string log = ReadFileBytes(t->services.m_logFile.Path());

    std::vector<std::string> messages;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        // "[<19 chars>] message\r"; a line break inside a message is escaped.
        if (line.size() > 22 && line[0] == '[' && line[20] == ']') line = line.substr(22);
        messages.push_back(line);
    }
    const std::vector<std::string> expected = {
        "CreateNodeCfgFile(): start\r",
        "CreateNodeCfgFile(): written: \"kestrel_label: sbc1\\n\"\r",
        "CreateNodeCfgFile(): written: \"kestrel_lan: 10.0.0.10 255.255.255.0\\n\"\r",
        "CreateNodeCfgFile(): written: \"kestrel_lan6: 0 0\\n\"\r",
        "CreateNodeCfgFile(): written: \"kestrel_wan: 0.0.0.0 0.0.0.0\\n\"\r",
        "CreateNodeCfgFile(): written: \"kestrel_wan6: 0 0\\n\"\r",
        "CreateNodeCfgFile(): written: \"kestrel_gw: 10.0.0.1\\n\"\r",
        "CreateNodeCfgFile(): written: \"kestrel_gw6: 0\\n\"\r",
        "CreateNodeCfgFile(): done\r",
    };
    EXPECT_EQ(messages, expected);
}

}  // namespace
}  // namespace flintmere
