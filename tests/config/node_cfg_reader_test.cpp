#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "config/node_cfg_parse.h"
#include "support/fakes.h"
#include "support/recording_presenter.h"

namespace flintmere {
namespace {

using testing::TempDir;
using testing::TestApp;
using testing::WriteFileBytes;

struct TextField {
    const char* name;
    u16 SetupRecord::*member;
};
struct FlagField {
    const char* name;
    Flag SetupRecord::*member;
};

// Every member the reader fills.
const TextField kTexts[] = {
    {"serverName", &SetupRecord::m_serverName},
    {"lanAddress", &SetupRecord::m_lanAddress},
    {"lanNetmask", &SetupRecord::m_lanNetmask},
    {"wanAddress", &SetupRecord::m_wanAddress},
    {"wanNetmask", &SetupRecord::m_wanNetmask},
    {"adminAddress", &SetupRecord::m_adminAddress},
    {"adminNetmask", &SetupRecord::m_adminNetmask},
    {"lanAddress6", &SetupRecord::m_lanAddress6},
    {"lanPrefix6", &SetupRecord::m_lanPrefix6},
    {"wanAddress6", &SetupRecord::m_wanAddress6},
    {"wanPrefix6", &SetupRecord::m_wanPrefix6},
    {"gateway", &SetupRecord::m_gateway},
    {"gateway6", &SetupRecord::m_gateway6},
    {"logicId", &SetupRecord::m_logicId},
    {"supplyServer1", &SetupRecord::m_supplyServer1},
    {"supplyServer2", &SetupRecord::m_supplyServer2},
    {"dns1", &SetupRecord::m_dns1},
    {"dns2", &SetupRecord::m_dns2},
    {"hwPlatformText", &SetupRecord::m_hwPlatformText},
    {"vmPlatformText", &SetupRecord::m_vmPlatformText},
};
const FlagField kFlags[] = {
    {"lanDisabled", &SetupRecord::m_lanDisabled},
    {"wanDisabled", &SetupRecord::m_wanDisabled},
    {"adminDisabled", &SetupRecord::m_adminDisabled},
    {"partitioned", &SetupRecord::m_partitioned},
    {"gptPartition", &SetupRecord::m_gptPartition},
    {"legacyBios", &SetupRecord::m_legacyBios},
    {"uefi", &SetupRecord::m_uefi},
    {"preinstall", &SetupRecord::m_preinstall},
    {"autoinstall", &SetupRecord::m_autoinstall},
    {"netboot", &SetupRecord::m_netboot},
    {"dhcp", &SetupRecord::m_dhcp},
    {"invert", &SetupRecord::m_invert},
    {"singleArmed", &SetupRecord::m_singleArmed},
};

void ExpectSameFields(const SetupRecord& actual, const SetupRecord& expected) {
    for (const TextField& f : kTexts) {
        EXPECT_EQ(Utf16ToUtf8(actual.*f.member), Utf16ToUtf8(expected.*f.member)) << f.name;
    }
    for (const FlagField& f : kFlags) {
        EXPECT_EQ(actual.*f.member, expected.*f.member) << f.name;
    }
}

// What an accepted file with only a label and a LAN address leaves.
SetupRecord AcceptedBase(const u16& label, const u16& lanAddress, const u16& lanNetmask) {
    SetupRecord r;
    r.ResetConfiguration(true);
    r.m_serverName = label;
    r.m_lanAddress = lanAddress;
    r.m_lanNetmask = lanNetmask;
    r.m_lanDisabled = 0;
    return r;
}

const char kMinimal[] = "kestrel_label: host1\nkestrel_lan: 10.0.0.5 255.255.255.0\n";

struct Read {
    bool result;
    std::vector<ShownMessage> shown;
};

Read ReadFile(TestApp& t, const std::string& path) {
    bool result = t->config.OpenNodeFile(t->record, FromPath(path));
    return {result, t.presenter.Shown()};
}

TEST(NodeCfgReader, Rules) {
    struct Case {
        const char* name;
        std::string file;
        bool accepted;
        // Applied to AcceptedBase(host1, 10.0.0.5, 255.255.255.0) for accepted files.
        std::function<void(SetupRecord&)> expect;
    };
    const std::string lan = "kestrel_lan: 10.0.0.5 255.255.255.0\n";
    const std::string label = "kestrel_label: host1\n";
    auto none = [](SetupRecord&) {};
    const Case cases[] = {
        {"label and LAN only", kMinimal, true, none},
        {"no LAN key", label + "kestrel_wan: 10.0.0.5 255.0.0.0\n", false, none},
        {"LAN key followed by a key", label + "kestrel_lan:\nkestrel_gw: 10.0.0.1\n", false, none},
        {"no label", lan + "dns1: 10.0.0.2\n", false, none},
        {"label key followed by a key", "kestrel_label: kestrel_lan: 10.0.0.5 255.0.0.0\n", false,
         none},
        {"placeholder LAN is accepted but not in use", label + "kestrel_lan: 0.0.0.0 0.0.0.0\n",
         true,
         [](SetupRecord& r) {
             r.m_lanAddress = u"0.0.0.0";
             r.m_lanNetmask = u"0.0.0.0";
             r.m_lanDisabled = 1;
         }},
        {"keys in upper case, entries across lines",
         "KESTREL_LABEL:\nhost1\n\nKestrel_Lan:\n10.0.0.5\n255.255.255.0 DNS1: 10.0.0.2", true,
         [](SetupRecord& r) { r.m_dns1 = u"10.0.0.2"; }},
        {"tab separates later tokens", label + "kestrel_lan:\t10.0.0.5\t255.255.255.0\n", true,
         none},
        {"tab does not end the first token", "kestrel_label:\thost1\n" + lan, false, none},
        {"leading blank lines", "\r\n\r\n  " + label + lan, true, none},
        {"gateway without value does not swallow dns1",
         label + lan + "kestrel_gw:\ndns1: 10.0.0.2\n", true,
         [](SetupRecord& r) { r.m_dns1 = u"10.0.0.2"; }},
        {"value that is a key with surrounding white space",
         label + lan + "kestrel_gw: \vdns1:\f 10.0.0.2\n", true, none},
        {"IPv6 placeholders are not taken",
         label + lan + "kestrel_lan6: 0 0\nkestrel_wan6: 0 0\nkestrel_gw6: 0\n", true, none},
        {"IPv6 settings are taken",
         label + lan +
             "kestrel_lan6: fd00::5 64\nkestrel_wan6: fd01::5 +48\nkestrel_gw6: fd00::1\n",
         true,
         [](SetupRecord& r) {
             r.m_lanAddress6 = u"fd00::5";
             r.m_lanPrefix6 = u"64";
             r.m_wanAddress6 = u"fd01::5";
             r.m_wanPrefix6 = u"+48";
             r.m_gateway6 = u"fd00::1";
         }},
        {"IPv6 prefix with value 0 or no digits is not taken",
         label + lan + "kestrel_lan6: fd00::5 0x40\nkestrel_wan6: fd01::5 -0\n", true,
         [](SetupRecord& r) {
             r.m_lanAddress6 = u"fd00::5";
             r.m_wanAddress6 = u"fd01::5";
         }},
        {"WAN and ADMIN in use with valid addresses",
         label + lan +
             "kestrel_wan: 192.168.1.10 255.255.255.0\nkestrel_admin: 172.16.0.5 "
             "255.255.0.0\nkestrel_gw: 10.0.0.1\n",
         true,
         [](SetupRecord& r) {
             r.m_wanAddress = u"192.168.1.10";
             r.m_wanNetmask = u"255.255.255.0";
             r.m_wanDisabled = 0;
             r.m_adminAddress = u"172.16.0.5";
             r.m_adminNetmask = u"255.255.0.0";
             r.m_adminDisabled = 0;
             r.m_gateway = u"10.0.0.1";
         }},
        {"WAN with an invalid address stays not in use",
         label + lan + "kestrel_wan: 192.168.1.255 255.255.255.0\n", true,
         [](SetupRecord& r) {
             r.m_wanAddress = u"192.168.1.255";
             r.m_wanNetmask = u"255.255.255.0";
         }},
        {"a later occurrence replaces, an interface once valid stays in use",
         label + lan + "kestrel_lan: 0.0.0.0 0.0.0.0\nkestrel_label: host2\n", true,
         [](SetupRecord& r) {
             r.m_serverName = u"host2";
             r.m_lanAddress = u"0.0.0.0";
             r.m_lanNetmask = u"0.0.0.0";
         }},
        {"GPT needs a partitioned stick", label + lan + "gpt_partition: 1\n", true, none},
        {"GPT on a partitioned stick", label + lan + "usb_stick_partitioned: 1\ngpt_partition: 1\n",
         true, [](SetupRecord& r) { r.m_partitioned = r.m_gptPartition = 1; }},
        {"flags convert like strtol",
         label + lan +
             "uefi: 2\npreinstall: -1\nautoinstall: 7x\nnetboot: 0\ndhcp: x\ninvert: yes\n"
             "singlearmed: +0009\n",
         true,
         [](SetupRecord& r) { r.m_uefi = r.m_preinstall = r.m_autoinstall = r.m_singleArmed = 1; }},
        {"legacy_bios is not a key", label + lan + "legacy_bios: 0\n", true, none},
        {"texts as read, Windows-1252",
         "kestrel_label: caf\xe9\n" + lan +
             "logicid: \x80"
             "1\nsupplyserver1: qmx1.example.net\nsupplyserver2: 10.1.1.1\n"
             "dns2: 10.0.0.3\nhw_platform: sr630\nvm_platform: Vhw_Large\n",
         true,
         [](SetupRecord& r) {
             r.m_serverName = u"caf\u00e9";
             r.m_logicId = u"\u20ac1";
             r.m_supplyServer1 = u"qmx1.example.net";
             r.m_supplyServer2 = u"10.1.1.1";
             r.m_dns2 = u"10.0.0.3";
             r.m_hwPlatformText = u"sr630";
             r.m_vmPlatformText = u"Vhw_Large";
         }},
        {"the text ends at a zero byte",
         label + lan + std::string("dns1: 10.0.0.2\n\0dns2: 10.0.0.3\n", 31), true,
         [](SetupRecord& r) { r.m_dns1 = u"10.0.0.2"; }},
        {"a pair's second value that is a key is left to that key",
         label + "kestrel_lan: 10.0.0.5 \nkestrel_wan6:  64\nkestrel_gw: 10.0.0.1\n", true,
         [](SetupRecord& r) {
             r.m_lanNetmask.clear();
             r.m_wanAddress6 = u"64";
             r.m_gateway = u"10.0.0.1";
         }},
        {"unknown tokens are skipped", "# node\nfoo: bar\n" + label + "x y z\n" + lan, true, none},
        {"values are not cut at 1023 characters",
         label + lan + "supplyserver1: " + std::string(5000, 'q') + "\n", true,
         [](SetupRecord& r) { r.m_supplyServer1 = u16(5000, u'q'); }},
        {"UTF-16 file", std::string("k\0e\0s\0t\0", 8) + kMinimal, false, none},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestApp t;
        TempDir dir;
        const std::string path = dir / "node.cfg";
        WriteFileBytes(path, c.file);
        // Values from an earlier configuration must not survive the read.
        t->record.m_dns2 = u"stale";
        t->record.m_legacyBios = 0;
        t->record.m_gptPartition = 1;
        t->record.m_hwType = HwSr630;
        Read r = ReadFile(t, path);
        EXPECT_EQ(r.result, c.accepted);
        SetupRecord expected;
        if (c.accepted) {
            EXPECT_TRUE(r.shown.empty());
            expected = AcceptedBase(u"host1", u"10.0.0.5", u"255.255.255.0");
            c.expect(expected);
        } else {
            ASSERT_EQ(r.shown.size(), 1u);
            EXPECT_EQ(r.shown[0].text, u"File " + FromPath(path) + u" is not compatible!");
            EXPECT_EQ(r.shown[0].caption, u"Error");
            EXPECT_EQ(r.shown[0].style, unsigned{kMbWarningStyle});
            expected.ResetConfiguration(true);
        }
        ExpectSameFields(t->record, expected);
        EXPECT_EQ(t->record.m_hwType, HwSr630);
        EXPECT_EQ(std::string(t->record.m_nodeFileData.begin(), t->record.m_nodeFileData.end()),
                  c.file);
    }
}

TEST(NodeCfgReader, FilesThatCannotBeRead) {
    TempDir dir;
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string huge = dir / "huge.cfg";
    WriteFileBytes(huge, kMinimal);
    ASSERT_EQ(::truncate(huge.c_str(), 64ll << 20), 0);  // sparse
    WriteFileBytes(dir / "empty.cfg", "");

    struct Case {
        const char* name;
        std::string path;
        const char16_t* pattern;
        bool keepsOldData;
    };
    const Case cases[] = {
        {"missing", dir / "missing.cfg", u"Can't open file %s!", true},
        {"directory", dir.Path(), u"Can't open file %s!", true},
        {"fifo", fifo, u"Can't open file %s!", true},
        {"empty", dir / "empty.cfg", u"File %s is not compatible!", false},
        {"too large", huge, u"File %s is not compatible!", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestApp t;
        t->record.m_nodeFileData = {'o', 'l', 'd'};
        t->record.m_serverName = u"before";
        Read r = ReadFile(t, c.path);
        EXPECT_FALSE(r.result);
        ASSERT_EQ(r.shown.size(), 1u);
        EXPECT_EQ(r.shown[0].text, FormatW(c.pattern, FromPath(c.path)));
        EXPECT_EQ(r.shown[0].caption, u"Error");
        EXPECT_EQ(t->record.m_serverName, u"unnamed");
        EXPECT_EQ(t->record.m_nodeFileData.size(), c.keepsOldData ? 3u : 0u);
    }
}

TEST(NodeCfgReader, LogsTheOpen) {
    TestApp t;
    TempDir dir;
    TempDir logDir;
    t.env.tempFolder = FromPath(logDir.Path() + "/");
    t->services.OpenLog();
    ASSERT_TRUE(t->services.m_logFile.IsOpen());
    WriteFileBytes(dir / "n\xc3\xa9.cfg", kMinimal);
    EXPECT_TRUE(t->config.OpenNodeFile(t->record, FromPath(dir / "n\xc3\xa9.cfg")));
    std::string log = testing::ReadFileBytes(t->services.m_logFile.Path());
    // Logged in Windows-1252, like every log line.
    EXPECT_NE(log.find("] OpenNodeFile(): open " + dir.Path() + "/n\xe9.cfg\r\n"),
              std::string::npos)
        << log;
}

TEST(NodeCfgParse, FlagConversion) {
    struct Case {
        std::string text;
        bool nonZero;
    } cases[] = {{"1", true},
                 {"2", true},
                 {"-1", true},
                 {"7x", true},
                 {"+0009", true},
                 {" \v5", true},
                 {"99999999999999999999", true},
                 {"0", false},
                 {"x", false},
                 {"yes", false},
                 {"-0", false},
                 {"+", false},
                 {"", false},
                 {"0x40", false},
                 {"--1", false}};
    for (const Case& c : cases) {
        EXPECT_EQ(DecimalPrefixIsNonZero(c.text), c.nonZero) << c.text;
        EXPECT_EQ(DecimalPrefixIsNonZero(AnsiToUtf16(c.text)), c.nonZero) << c.text;
    }
}

// Records written by the writer and read back: the same fields, apart from the
// reader's documented differences.
TEST(NodeCfgRoundTrip, WrittenRecordsReadBack) {
    struct Case {
        const char* name;
        std::function<void(SetupRecord&)> record;
        std::function<void(SetupRecord&)> differences;
    };
    auto base = [](SetupRecord& r) {
        r.ResetConfiguration(true);
        r.m_serverName = u"sbc1";
        r.m_lanDisabled = 0;
        r.m_lanAddress = u"10.0.0.10";
        r.m_lanNetmask = u"255.255.255.0";
        r.m_gateway = u"10.0.0.1";
        r.m_hwType = HwX3250;
    };
    // The writer's zero lines for WAN and the IPv6 gateway read back as text.
    auto wanPlaceholders = [](SetupRecord& r) {
        r.m_wanAddress = r.m_wanNetmask = u"0.0.0.0";
        r.m_hwPlatformText = u"x3250";
    };
    const Case cases[] = {
        {"plain stick", [&](SetupRecord& r) { base(r); }, wanPlaceholders},
        {"everything in use",
         [&](SetupRecord& r) {
             base(r);
             r.m_wanDisabled = r.m_adminDisabled = 0;
             r.m_wanAddress = u"192.168.1.10";
             r.m_wanNetmask = u"255.255.255.0";
             r.m_adminAddress = u"172.16.0.5";
             r.m_adminNetmask = u"255.255.0.0";
             r.m_lanAddress6 = u"fd00::10";
             r.m_lanPrefix6 = u"64";
             r.m_wanAddress6 = u"fd01::10";
             r.m_wanPrefix6 = u"48";
             r.m_gateway6 = u"fd00::1";
             r.m_partitioned = r.m_gptPartition = r.m_uefi = r.m_preinstall = 1;
             r.m_autoinstall = r.m_netboot = r.m_singleArmed = 1;
             r.m_legacyBios = 1;
             r.m_supplyServer1 = u"qmx1.example.net";
             r.m_supplyServer2 = u"10.1.1.1";
             r.m_logicId = u"42";
             r.m_dns1 = u"10.0.0.2";
             r.m_dns2 = u"10.0.0.3";
             r.m_hwType = HwSr630;
         },
         [](SetupRecord& r) { r.m_hwPlatformText = u"sr630"; }},
        {"dhcp",
         [&](SetupRecord& r) {
             base(r);
             r.m_dhcp = 1;
             r.m_lanAddress6 = u"fd00::10";
             r.m_lanPrefix6 = u"64";
         },
         [&](SetupRecord& r) {
             wanPlaceholders(r);
             r.m_lanAddress = r.m_lanNetmask = u"0.0.0.0";
             r.m_lanDisabled = 1;
             r.m_lanAddress6.clear();
             r.m_lanPrefix6.clear();
         }},
        {"ISO image",
         [&](SetupRecord& r) {
             base(r);
             r.m_isoMedia = 1;
             r.m_hwType = HwVirtual6000;
             r.m_uefi = r.m_autoinstall = 1;
             r.m_dns1 = u"10.0.0.2";
             r.m_invert = 1;
         },
         [&](SetupRecord& r) {
             wanPlaceholders(r);
             // legacy_bios is written as 0 but is not a key: it stays at the reset's 1.
             r.m_uefi = r.m_autoinstall = 0;
             r.m_dns1.clear();
             r.m_hwPlatformText = u"sr250";
             r.m_vmPlatformText = u"Vhw_Medium";
         }},
        {"no legacy boot loader, no hardware type",
         [&](SetupRecord& r) {
             base(r);
             r.m_legacyBios = 0;
             r.m_hwType = HwNone;
         },
         [&](SetupRecord& r) {
             wanPlaceholders(r);
             r.m_legacyBios = 1;
             r.m_hwPlatformText.clear();
         }},
        {"invalid ADMIN and WAN netmask are dropped",
         [&](SetupRecord& r) {
             base(r);
             r.m_wanDisabled = r.m_adminDisabled = 0;
             r.m_wanAddress = u"192.168.1.10";
             r.m_wanNetmask = u"255.0.255.0";
             r.m_adminAddress = u"127.0.0.1";
             r.m_adminNetmask = u"255.0.0.0";
         },
         [&](SetupRecord& r) {
             wanPlaceholders(r);
             r.m_wanDisabled = r.m_adminDisabled = 1;
             r.m_adminAddress.clear();
             r.m_adminNetmask.clear();
         }},
        {"empty values do not eat the next entry",
         [&](SetupRecord& r) {
             base(r);
             r.m_lanNetmask.clear();
             r.m_lanAddress6 = u"fd00::10";
             r.m_wanDisabled = 0;
             r.m_wanAddress = u"192.168.1.10";
             r.m_wanNetmask = u"255.255.255.0";
             r.m_wanPrefix6 = u"64";
         },
         [&](SetupRecord& r) {
             r.m_hwPlatformText = u"x3250";
             // The empty IPv6 address leaves the prefix in the address's place.
             r.m_wanAddress6 = u"64";
             r.m_wanPrefix6.clear();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestApp writer;
        TempDir dir;
        c.record(writer->record);
        LocalFolderRoot root(dir.Path());
        ASSERT_TRUE(writer->config.CreateNodeCfgFile(writer->record, root, false));

        TestApp reader;
        ASSERT_TRUE(reader->config.OpenNodeFile(reader->record, FromPath(dir / "node.cfg")))
            << testing::ReadFileBytes(dir / "node.cfg");
        SetupRecord expected = writer->record;
        c.differences(expected);
        ExpectSameFields(reader->record, expected);
    }
}

}  // namespace
}  // namespace flintmere
