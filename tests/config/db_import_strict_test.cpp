// The database loader refuses what is not well-formed, reaches nothing
// outside the file, and reads every declared encoding.
#include <fcntl.h>
#include <iconv.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "config/db_import_fixture.h"
#include "config/db_xml.h"
#include "platform/media_root.h"

namespace flintmere {
namespace {

// `utf8` in another encoding, through iconv like the loader itself.
std::string Encode(const std::string& utf8, const char* encoding) {
    iconv_t cd = ::iconv_open(encoding, "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return {};
    std::string out(utf8.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    const std::size_t r = ::iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    ::iconv_close(cd);
    if (r == static_cast<std::size_t>(-1)) return {};
    out.resize(out.size() - outLeft);
    return out;
}

std::string BillionLaughs() {
    std::string s = "<?xml version=\"1.0\"?>\n<!DOCTYPE kestrelData [\n<!ENTITY l0 \"lol\">\n";
    for (int i = 1; i <= 10; ++i) {
        s += "<!ENTITY l" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k) s += "&l" + std::to_string(i - 1) + ";";
        s += "\">\n";
    }
    return s + "]>\n<kestrelData><maintenanceData><hostname>&l10;</hostname>" +
           "</maintenanceData></kestrelData>\n";
}

class DbImportStrict : public DbImport {};

TEST_F(DbImportStrict, MalformedDatabasesAreRefused) {
    const std::string secret = "TOPSECRET-4242";
    const std::string secretPath = Write(secret + "\n", "secret.txt");
    const std::string good = Db("", "", Element("hostname", "sbc-1"));
    const std::string decl = "<?xml version=\"1.0\"?>\n";
    const std::string lyingUtf16 = Encode(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kestrelData><maintenanceData>"
        "<hostname>sbc-1</hostname></maintenanceData></kestrelData>\n",
        "UTF-16LE");

    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"two root elements", good + "<kestrelData><maintenanceData><hostname>other</hostname>"
                                     "</maintenanceData></kestrelData>\n"},
        {"undefined entity", Db("", "", Element("hostname", "a&foo;b"))},
        {"bare ampersand", Db("", "", Element("hostname", "a & b"))},
        {"duplicated attribute", decl + "<kestrelData a=\"1\" a=\"2\"><maintenanceData>"
                                        "<hostname>sbc-1</hostname></maintenanceData>"
                                        "</kestrelData>"},
        {"control character", Db("", "", Element("hostname", "sbc\x01-1"))},
        {"text before the root", "hello\n" + Db("", "", Element("hostname", "sbc-1"))},
        {"truncated", good.substr(0, good.size() / 2)},
        {"zero bytes", ""},
        {"UTF-16 without BOM declaring UTF-8", lyingUtf16},
        {"UTF-8 BOM declaring ISO-8859-1",
         "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n" +
             Db("", "", "<brandingData><companyName>M\xC3\xBCller</companyName></brandingData>")
                 .substr(decl.size())},
        {"UTF-16 without BOM or declared encoding",
         Encode(decl + "<kestrelData><maintenanceData><hostname>sbc-1</hostname>"
                       "</maintenanceData></kestrelData>\n",
                "UTF-16LE")},
        {"external entity naming a local file",
         decl + "<!DOCTYPE kestrelData [\n<!ENTITY x SYSTEM \"file://" + secretPath +
             "\">\n]>\n<kestrelData><maintenanceData><hostname>&x;</hostname>"
             "<brandingData><TLA>t&x;</TLA></brandingData></maintenanceData></kestrelData>\n"},
        {"external parameter entity",
         decl + "<!DOCTYPE kestrelData [\n<!ENTITY % p SYSTEM \"" + secretPath +
             "\">\n%p;\n]>\n<kestrelData><maintenanceData><hostname>&y;</hostname>"
             "</maintenanceData></kestrelData>\n"},
        {"billion laughs", BillionLaughs()},
        {"unknown encoding",
         "<?xml version=\"1.0\" encoding=\"x-no-such-code\"?>\n<kestrelData/>\n"},
        {"windows-1252 bytes declared UTF-8",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" +
             Db("", "", "<brandingData><companyName>M\xFCller \x80</companyName></brandingData>")
                 .substr(decl.size())},
        {"undeclared namespace prefix", decl + "<kestrelData><x:maintenanceData/></kestrelData>"},
    };

    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, secretPath.c_str(), IN_OPEN | IN_ACCESS), 0);
    ::testing::internal::CaptureStderr();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Write(c.bytes, "db.xml");
        t.presenter.Clear();
        Dirty();
        const std::size_t logBefore = Log().size();
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(t->config.OpenDbFile(t->record, FromPath(path)));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        ExpectReset();
        const auto shown = t.presenter.Shown();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].text, u"Can't open file " + FromPath(path) + u"!");
        const std::string log = Log().substr(logBefore);
        EXPECT_NE(log.find("OpenDbFile(): At line "), std::string::npos) << log;

        // Nothing of the file goes onto a medium.
        TempDir medium;
        LocalFolderRoot root(medium.Path());
        EXPECT_FALSE(t->config.CopyDbFile(t->record, root));
        EXPECT_FALSE(std::filesystem::exists(medium / "config.xml"));
    }
    const std::string stderrText = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(stderrText, "") << "the parser's messages go to the log only";

    char events[4096];
    EXPECT_EQ(::read(watch, events, sizeof events), -1) << "the secret file was opened";
    ::close(watch);
    EXPECT_EQ(Log().find(secret), std::string::npos);
    for (const u16* text : {&t->record.m_serverName, &t->record.m_tla, &t->record.m_companyName}) {
        EXPECT_EQ(Utf16ToUtf8(*text).find(secret), std::string::npos);
    }
}

TEST_F(DbImportStrict, DeclaredEncodingsGiveTheSameRecord) {
    std::string sample = ReadFileBytes(kSample);
    auto replace = [&](const std::string& from, const std::string& to) {
        sample.replace(sample.find(from), from.size(), to);
    };
    replace("Example Telecom Ltd.</companyName>", "M\xC3\xBCller \xE2\x82\xAC</companyName>");
    replace("Branch SBC",
            "Caf\xC3\xA9 Stra\xC3\x9F"
            "e");
    auto declared = [&](const std::string& name) {
        std::string text = sample;
        text.replace(text.find("UTF-8"), 5, name);
        return text;
    };
    // ISO-8859-1 has no euro sign: the file names it by a character reference.
    std::string latin1 = declared("ISO-8859-1");
    latin1.replace(latin1.find("\xE2\x82\xAC"), 3, "&#8364;");

    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"UTF-8", sample},
        {"UTF-8 with BOM", "\xEF\xBB\xBF" + sample},
        {"UTF-16LE with BOM", "\xFF\xFE" + Encode(declared("UTF-16"), "UTF-16LE")},
        {"UTF-16BE with BOM", "\xFE\xFF" + Encode(declared("UTF-16"), "UTF-16BE")},
        {"UTF-16LE without BOM, declared", Encode(declared("UTF-16LE"), "UTF-16LE")},
        {"ISO-8859-1", Encode(latin1, "ISO-8859-1")},
        {"windows-1252", Encode(declared("windows-1252"), "WINDOWS-1252")},
        {"ISO-8859-15", Encode(declared("ISO-8859-15"), "ISO-8859-15")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.bytes.empty());
        Dirty();
        t->record.m_companyName.clear();
        t->record.m_productName.clear();
        const std::string path = Write(c.bytes, "db.xml");
        ASSERT_TRUE(t->config.OpenDbFile(t->record, FromPath(path))) << Log();
        EXPECT_EQ(t->record.m_companyName, u"M\u00fcller \u20ac");
        EXPECT_EQ(t->record.m_productName, u"Caf\u00e9 Stra\u00dfe");
        EXPECT_EQ(
            InterfacesOf(*t),
            (Interfaces{"192.0.2.10", "255.255.255.0", "2001:db8:10::10", "64", "198.51.100.20",
                        "255.255.255.0", "2001:db8:20::20", "64", "203.0.113.5", "255.255.255.0"}));
        EXPECT_EQ(t->record.m_serverName, u"sbc-branch-01");
        EXPECT_EQ(t->record.m_dns2, u"192.0.2.53");
        EXPECT_EQ(t->record.m_hwType, HwVirtual250);
        EXPECT_EQ(t->record.m_tla,
                  u"Licensed to Example Telecom Ltd. for use at its branch offices only.");

        TempDir medium;
        LocalFolderRoot root(medium.Path());
        ASSERT_TRUE(t->config.CopyDbFile(t->record, root));
        EXPECT_TRUE(ReadFileBytes(medium / "config.xml") == c.bytes) << "config.xml changed";
    }
}

TEST_F(DbImportStrict, InternalEntitiesAreText) {
    ASSERT_TRUE(
        Import("<?xml version=\"1.0\"?>\n<!DOCTYPE kestrelData [\n"
               "<!ENTITY co \"M&#252;ller\">\n<!ENTITY full \"&co; &#8364;\">\n]>\n"
               "<kestrelData><maintenanceData><brandingData><companyName>&full;</companyName>"
               "<productName> a <![CDATA[ b ]]>&co;</productName></brandingData>"
               "</maintenanceData><netServicesData><dnsList>&co;<i>2.2.2.2</i></dnsList>"
               "</netServicesData></kestrelData>\n"))
        << Log();
    EXPECT_EQ(t->record.m_companyName, u"M\u00fcller \u20ac");
    EXPECT_EQ(t->record.m_productName, u"a  b M\u00fcller");
    EXPECT_EQ(t->record.m_dns1, u"M\u00fcller");
    EXPECT_EQ(t->record.m_dns2, u"2.2.2.2");
}

TEST(DbXml, ByteOrderMarkAndDeclarationMustAgree) {
    const std::string decl = "<?xml version=\"1.0\" encoding=\"%\"?><a/>";
    auto declaring = [&](const std::string& name) {
        std::string text = decl;
        return text.replace(text.find('%'), 1, name);
    };
    struct Case {
        const char* name;
        std::string bytes;
        const char* declared;
        bool agrees;
    };
    const Case cases[] = {
        {"plain UTF-8", declaring("UTF-8"), "UTF-8", true},
        {"plain, no declaration", "<a/>", "", true},
        {"plain windows-1252", declaring("windows-1252"), "windows-1252", true},
        {"UTF-8 mark, no declaration", "\xEF\xBB\xBF<?xml version='1.0'?><a/>", "", true},
        {"UTF-8 mark, utf-8", "\xEF\xBB\xBF" + declaring("utf-8"), "utf-8", true},
        {"UTF-8 mark, ISO-8859-1", "\xEF\xBB\xBF" + declaring("ISO-8859-1"), "ISO-8859-1", false},
        {"UTF-16LE mark, UTF-16", "\xFF\xFE" + Encode(declaring("UTF-16"), "UTF-16LE"), "UTF-16",
         true},
        {"UTF-16BE mark, no declaration",
         "\xFE\xFF" + Encode("<?xml version='1.0'?><a/>", "UTF-16BE"), "", true},
        {"UTF-16LE mark, UTF-8", "\xFF\xFE" + Encode(declaring("UTF-8"), "UTF-16LE"), "UTF-8",
         false},
        {"UTF-16LE, no mark, utf-16le", Encode(declaring("utf-16le"), "UTF-16LE"), "utf-16le",
         true},
        {"UTF-16BE, no mark, UTF-16", Encode(declaring("UTF-16"), "UTF-16BE"), "UTF-16", true},
        {"UTF-16LE, no mark, no declaration", Encode("<?xml version='1.0'?><a/>", "UTF-16LE"), "",
         false},
        {"UTF-16BE, no mark, ISO-8859-1", Encode(declaring("ISO-8859-1"), "UTF-16BE"), "ISO-8859-1",
         false},
        {"spaces and single quotes", "<?xml version='1.0' encoding = 'ascii' ?><a/>", "ascii",
         true},
        {"unterminated", "<?xml version='1.0' encoding='UTF-8", "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::span<const std::uint8_t> data(
            reinterpret_cast<const std::uint8_t*>(c.bytes.data()), c.bytes.size());
        EXPECT_EQ(dbxml::DeclaredEncoding(data), c.declared);
        EXPECT_EQ(dbxml::EncodingMismatch(data).empty(), c.agrees);
    }
}

}  // namespace
}  // namespace flintmere
