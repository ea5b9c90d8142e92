#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <optional>
#include <ostream>

#include "config/db_import_fixture.h"
#include "support/fakes.h"

namespace flintmere {
namespace {

TEST_F(DbImport, SampleImportsCleanly) {
    Dirty();
    ASSERT_TRUE(t->config.OpenDbFile(t->record, FromPath(kSample)));
    EXPECT_TRUE(t.presenter.Shown().empty());
    EXPECT_EQ(InterfacesOf(*t), (Interfaces{"192.0.2.10", "255.255.255.0", "2001:db8:10::10", "64",
                                            "198.51.100.20", "255.255.255.0", "2001:db8:20::20",
                                            "64", "203.0.113.5", "255.255.255.0"}));
    EXPECT_EQ(t->record.m_gateway, u"198.51.100.1");
    EXPECT_EQ(t->record.m_gateway6, u"2001:db8:20::1");
    EXPECT_EQ(t->record.m_dns1, u"198.51.100.53");
    EXPECT_EQ(t->record.m_dns2, u"192.0.2.53");
    EXPECT_EQ(t->record.m_serverName, u"sbc-branch-01");
    EXPECT_EQ(t->record.m_hwType, HwVirtual250);
    EXPECT_EQ(t->record.m_logicId, u"4711");
    EXPECT_EQ(t->record.m_supplyServer1, u"qmx1.example.net");
    EXPECT_EQ(t->record.m_supplyServer2, u"198.51.100.80");
    EXPECT_EQ(t->record.m_companyName, u"Example Telecom Ltd.");
    EXPECT_EQ(t->record.m_productName, u"Branch SBC");
    EXPECT_EQ(t->record.m_tla,
              u"Licensed to Example Telecom Ltd. for use at its branch offices only.");
    EXPECT_TRUE(t->record.m_logoFile.empty());
    EXPECT_EQ(t->record.m_singleArmed, 0);
    // Interfaces stay marked not in use; the dialog decides that.
    EXPECT_EQ(t->record.m_lanDisabled + t->record.m_wanDisabled + t->record.m_adminDisabled, 3);
    EXPECT_EQ(t->record.m_gptPartition, 0);
    const std::string bytes = ReadFileBytes(kSample);
    EXPECT_EQ(std::string(t->record.m_dbFileData.begin(), t->record.m_dbFileData.end()), bytes);
    EXPECT_NE(Log().find("OpenDbFile(): open " + kSample), std::string::npos);
}

TEST_F(DbImport, InterfaceSelection) {
    const std::string lanPlain =
        Iface("eth0", "1", V4("10.0.0.2", "255.0.0.0") + V6("fd00::2", "8"));
    const std::string wanPlain =
        Iface("eth1", "1", V4("20.0.0.2", "255.0.0.0") + V6("fd01::2", "16"));
    const std::string admin = Iface("eth2", "1", Realm("Main admin IPv4", "30.0.0.2", "255.0.0.0"));
    const std::string lanBond =
        Iface("eth0", "1", V6("fd10::1", "64") + V4("10.1.1.1", "255.255.0.0"));
    const std::string wanBond = Iface("eth1", "1", V4("20.1.1.1", "255.255.0.0"));
    const Interfaces plain{"10.0.0.2",  "255.0.0.0", "fd00::2", "8",        "20.0.0.2",
                           "255.0.0.0", "fd01::2",   "16",      "30.0.0.2", "255.0.0.0"};
    const Interfaces bonded{"10.1.1.1", "255.255.0.0", "fd10::1", "64",
                            "20.1.1.1", "255.255.0.0", "",        "",
                            "30.0.0.2", "255.0.0.0"};
    Interfaces lanFallback = bonded;
    lanFallback.lan = plain.lan, lanFallback.lanMask = plain.lanMask;
    lanFallback.lan6 = plain.lan6, lanFallback.lanPrefix = plain.lanPrefix;
    Interfaces noLan = plain;
    noLan.lan = noLan.lanMask = noLan.lan6 = noLan.lanPrefix = "";
    Interfaces noAdmin = plain;
    noAdmin.admin = noAdmin.adminMask = "";

    struct Case {
        const char* name;
        std::string network;
        Interfaces expected;
    };
    const Case cases[] = {
        {"plain", Network("0", lanBond + wanBond, lanPlain + wanPlain + admin), plain},
        {"no enableBond", Network(nullptr, lanBond + wanBond, lanPlain + wanPlain + admin), plain},
        {"bonded", Network("1", lanBond + wanBond, lanPlain + wanPlain + admin), bonded},
        {"enableBond true is not 1",
         Network("true", lanBond + wanBond, lanPlain + wanPlain + admin), plain},
        {"disabled LAN bond falls back to plain list",
         Network("1", Iface("eth0", "0", V4("9.9.9.9", "255.0.0.0")) + wanBond,
                 lanPlain + wanPlain + admin),
         lanFallback},
        {"bond entry missing falls back", Network("1", wanBond, lanPlain + wanPlain + admin),
         lanFallback},
        {"plain LAN disabled",
         Network("0", "", Iface("eth0", "0", V4("1.1.1.1", "255.0.0.0")) + wanPlain + admin),
         noLan},
        {"enabled 01 counts as disabled",
         Network("0", "", Iface("eth0", "01", V4("1.1.1.1", "255.0.0.0")) + wanPlain + admin),
         noLan},
        {"admin disabled",
         Network("0", "",
                 lanPlain + wanPlain +
                     Iface("eth2", "0", Realm("Main admin IPv4", "3.3.3.3", "255.0.0.0"))),
         noAdmin},
        {"admin needs its own realm type",
         Network("0", "", lanPlain + wanPlain + Iface("eth2", "1", V4("3.3.3.3", "255.0.0.0"))),
         noAdmin},
        {"IPv6 address without prefix, netmask without address",
         Network("0", "",
                 Iface("eth0", "1", V6("fd00::9", nullptr) + V4(nullptr, "255.255.255.0")) +
                     Iface("eth1", "1", V6(nullptr, "48") + V4("20.0.0.2", nullptr))),
         Interfaces{"", "255.255.255.0", "fd00::9", "", "20.0.0.2", "", "", "", "", ""}},
        {"first matching entry wins",
         Network("0", "",
                 lanPlain + Iface("eth0", "1", V4("7.7.7.7", "255.0.0.0")) + wanPlain + admin),
         plain},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Dirty();
        ASSERT_TRUE(Import(Db(c.network)));
        EXPECT_EQ(InterfacesOf(*t), c.expected);
        EXPECT_EQ(t->record.m_lanDisabled + t->record.m_wanDisabled + t->record.m_adminDisabled, 3);
    }
}

TEST_F(DbImport, GatewaysAndDnsServers) {
    struct Case {
        std::string services;
        const char16_t* gateway6;
        const char16_t* dns1;
        const char16_t* dns2;
    };
    const Case cases[] = {
        {"", u"", u"", u""},
        {Element("gatewayIpv6Addr", "fd00::1"), u"fd00::1", u"", u""},
        {Element("gatewayIpv6AddrWan", "fd01::1"), u"fd01::1", u"", u""},
        {Element("gatewayIpv6Addr", "fd00::1") + Element("gatewayIpv6AddrWan", "fd01::1"),
         u"fd01::1", u"", u""},
        {Element("gatewayIpv6Addr", "fd00::1") + "<gatewayIpv6AddrWan/>", u"fd00::1", u"", u""},
        {"<gatewayIpv6Addr/><gatewayIpv6AddrWan/>", u"", u"", u""},
        {"<dnsList/>", u"", u"", u""},
        {"<dnsList><item>1.1.1.1</item></dnsList>", u"", u"1.1.1.1", u""},
        {"<dnsList><item>1.1.1.1</item><item>1.1.1.1</item></dnsList>", u"", u"1.1.1.1", u""},
        {"<dnsList><a>1.1.1.1</a><b>2.2.2.2</b></dnsList>", u"", u"1.1.1.1", u"2.2.2.2"},
        {"<dnsList><i>1.1.1.1</i><i>2.2.2.2</i><i>3.3.3.3</i></dnsList>", u"", u"1.1.1.1",
         u"3.3.3.3"},
        {"<dnsList>\n  <i> 1.1.1.1 </i>\n  <i/>\n</dnsList>", u"", u"1.1.1.1", u""},
        {"<dnsList>8.8.8.8</dnsList>", u"", u"8.8.8.8", u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.services);
        Dirty();
        ASSERT_TRUE(Import(Db("", Element("gatewayIpAddr", "10.0.0.1") + c.services)));
        EXPECT_EQ(t->record.m_gateway, u"10.0.0.1");
        EXPECT_EQ(t->record.m_gateway6, c.gateway6);
        EXPECT_EQ(t->record.m_dns1, c.dns1);
        EXPECT_EQ(t->record.m_dns2, c.dns2);
    }
}

TEST_F(DbImport, ProductCode) {
    struct Case {
        const char* text;
        int hwType;
    };
    const Case cases[] = {
        {"7", HwAdvantech250},
        {"19", HwVirtualExtraLarge},
        {"abc", HwAdvantech},
        {"", 0},
        {" 12x", 12},
        {"-3", -3},
        {"+2", 2},
        {"99999999999", INT_MAX},
        {"-99999999999", INT_MIN},
        {nullptr, HwNone},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(missing)");
        t->record.m_hwType = HwSr630;
        ASSERT_TRUE(Import(Db("", "", Element("product", c.text))));
        EXPECT_EQ(t->record.m_hwType, c.hwType);
    }
}

TEST_F(DbImport, TextsAreTheElementsTextContent) {
    ASSERT_TRUE(
        Import(Db(Element("singleArmed", "1"), "",
                  "<hostname>\n   sbc-7\n </hostname>"
                  "<logicalBranchOfficeId><a>12</a><!-- note --><b>34</b></logicalBranchOfficeId>"
                  "<brandingData><companyName>A &amp; B  <![CDATA[ <x> ]]></companyName>"
                  "<productName>caf\xC3\xA9</productName><TLA/></brandingData>")));
    EXPECT_EQ(t->record.m_serverName, u"sbc-7");
    EXPECT_EQ(t->record.m_logicId, u"1234");
    EXPECT_EQ(t->record.m_companyName, u"A & B  <x> ");
    EXPECT_EQ(t->record.m_productName, u"caf\u00e9");
    EXPECT_EQ(t->record.m_tla, u"");
    EXPECT_EQ(t->record.m_singleArmed, 1);

    ASSERT_TRUE(Import(Db(Element("singleArmed", "true"))));
    EXPECT_EQ(t->record.m_singleArmed, 0);
}

TEST_F(DbImport, EmptyDatabaseResetsAndKeepsBranding) {
    t->record.m_companyName = u"Kept Co";
    t->record.m_logoFile = u"kept.png";
    t->record.m_hwType = HwSr250;
    Dirty();
    ASSERT_TRUE(Import("<kestrelData/>"));
    ExpectReset();
    EXPECT_EQ(t->record.m_hwType, HwNone);
    EXPECT_EQ(t->record.m_companyName, u"Kept Co");
    EXPECT_EQ(t->record.m_productName, kDefaultProductName);
    EXPECT_EQ(t->record.m_logoFile, u"kept.png");
    EXPECT_TRUE(t.presenter.Shown().empty());
}

TEST_F(DbImport, LogoPicture) {
    struct Case {
        const char* logo;
        const char16_t* stored;
        bool box;
    };
    const Case cases[] = {
        {"default", u"", false},
        {"corp.png", u"corp.png", true},
        {"", u"", true},
        {"Default", u"Default", true},
        {"../../etc/cron.d/evil", u"evil", true},
        {"/var/lib/logos/corp.png", u"corp.png", true},
        {"C:\\pics\\logo.png", u"logo.png", true},
        {"logos/", u"", true},
        {"..", u"", true},
        {"a..b.png", u"a..b.png", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.logo);
        t.presenter.Clear();
        t->record.m_logoFile = u"before.png";
        t->record.m_logoData = {1, 2, 3};
        ASSERT_TRUE(Import(Db("", "", Branding(c.logo))));
        EXPECT_EQ(t->record.m_logoFile, c.stored);
        EXPECT_EQ(t->record.m_logoData, (std::vector<std::uint8_t>{1, 2, 3}));
        const auto shown = t.presenter.Shown();
        ASSERT_EQ(shown.size(), c.box ? 1u : 0u);
        if (c.box) {
            EXPECT_EQ(shown[0].text, u"Logo Picture " + Utf8ToUtf16(c.logo) + kLogoHint);
            EXPECT_EQ(shown[0].caption, u"flintmere");
            EXPECT_EQ(shown[0].style, unsigned{kMbOk | kMbIconWarning});
            EXPECT_TRUE(shown[0].owned);
        }
    }
}

TEST_F(DbImport, FailuresShowTheMessageAndLeaveTheRecordReset) {
    ::mkdir((dir / "folder.xml").c_str(), 0755);
    // A FIFO with no writer would block a plain open.
    ::mkfifo((dir / "fifo.xml").c_str(), 0644);
    // Sparse: 100 MB on paper, nothing on disk, so the test stays fast.
    const std::string huge = Write("", "huge.xml");
    ASSERT_EQ(::truncate(huge.c_str(), 100LL << 20), 0);
    const std::string previous = "<kestrelData/>";

    // A file that cannot be read keeps the bytes of the last one; a file
    // that was read but is no database leaves none to place on a medium.
    struct Case {
        const char* name;
        std::string path;
        bool keepsPrevious;
    };
    const Case cases[] = {
        {"malformed", Write("<kestrelData>\n<a>\n</b>\n", "bad.xml"), false},
        {"empty file", Write("", "empty.xml"), false},
        {"only a declaration", Write("<?xml version=\"1.0\"?>\n", "decl.xml"), false},
        {"missing file", dir / "missing.xml", true},
        {"directory", dir / "folder.xml", true},
        {"FIFO", dir / "fifo.xml", true},
        {"100 MB file", huge, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        t.presenter.Clear();
        t->record.m_dbFileData.assign(previous.begin(), previous.end());
        Dirty();
        EXPECT_FALSE(t->config.OpenDbFile(t->record, FromPath(c.path)));
        ExpectReset();
        const auto shown = t.presenter.Shown();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].text, u"Can't open file " + FromPath(c.path) + u"!");
        EXPECT_EQ(shown[0].caption, u"Error");
        EXPECT_EQ(shown[0].style, unsigned{kMbWarningStyle});
        const std::string kept(t->record.m_dbFileData.begin(), t->record.m_dbFileData.end());
        EXPECT_EQ(kept, c.keepsPrevious ? previous : "");
    }
    const std::string log = Log();
    EXPECT_NE(log.find("OpenDbFile(): At line 3\\n"), std::string::npos) << log;
    EXPECT_NE(log.find("DisplayMessage(): Error: Can't open file " + (dir / "bad.xml") + "!"),
              std::string::npos);
}

TEST_F(DbImport, ParseErrorLineInUtf16) {
    EXPECT_FALSE(Import(Utf16("<kestrelData>\r\n<a>\r\n\r\n</b>\r\n", false)));
    EXPECT_NE(Log().find("OpenDbFile(): At line 4\\n"), std::string::npos) << Log();
}

TEST_F(DbImport, Utf16DatabasesImport) {
    const std::string sample = ReadFileBytes(kSample);
    // The declaration names UTF-8; a UTF-16 file would say UTF-16.
    std::string text = sample;
    text.replace(text.find("UTF-8"), 5, "UTF-16");
    for (bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian ? "UTF-16BE" : "UTF-16LE");
        Dirty();
        const std::string bytes = Utf16(text, bigEndian);
        ASSERT_TRUE(Import(bytes));
        EXPECT_EQ(t->record.m_serverName, u"sbc-branch-01");
        EXPECT_EQ(t->record.m_lanAddress, u"192.0.2.10");
        EXPECT_EQ(t->record.m_dns2, u"192.0.2.53");
        EXPECT_EQ(std::string(t->record.m_dbFileData.begin(), t->record.m_dbFileData.end()), bytes);
    }
}

TEST_F(DbImport, BytesFollowTheLastReadFile) {
    ASSERT_TRUE(Import(Db("", "", Element("hostname", "one"))));
    const std::string second = Db("", "", Element("hostname", "two"));
    ASSERT_TRUE(t->config.OpenDbFile(t->record, FromPath(Write(second, "second.xml"))));
    EXPECT_EQ(std::string(t->record.m_dbFileData.begin(), t->record.m_dbFileData.end()), second);
    EXPECT_EQ(t->record.m_serverName, u"two");
    EXPECT_FALSE(t->config.OpenDbFile(t->record, FromPath(dir / "gone.xml")));
    EXPECT_EQ(std::string(t->record.m_dbFileData.begin(), t->record.m_dbFileData.end()), second);
    EXPECT_EQ(t->record.m_serverName, u"unnamed");
}

TEST_F(DbImport, LargeButPlausibleDatabaseImports) {
    std::string bytes = ReadFileBytes(kSample);
    bytes.insert(bytes.find("<kestrelNetwork>"), "<!--" + std::string(4 << 20, 'c') +
                                                     "-->\n<history>" + std::string(2 << 20, 'h') +
                                                     "</history>\n");
    ASSERT_TRUE(Import(bytes));
    EXPECT_EQ(t->record.m_serverName, u"sbc-branch-01");
    EXPECT_EQ(t->record.m_dbFileData.size(), bytes.size());
}

}  // namespace
}  // namespace flintmere
