#include "config/setup_validation.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/recording_presenter.h"

namespace flintmere {
namespace {

constexpr unsigned kRejectionStyle = 0x12030;
constexpr unsigned kQuestionStyle = 0x12034;
constexpr unsigned kSimpleBoxStyle = 0x10;

class FakeServices final : public SetupValidationServices {
  public:
    bool CheckPendriveSoftware() override { return pendriveOk; }
    bool CheckInstallImage() override { return imageOk; }
    std::uint64_t SelectDrive(int mediaEntry) override {
        selectedDrive = mediaEntry;
        if (mediaEntry < 0 || mediaEntry >= static_cast<int>(driveSizes.size())) return 0;
        return driveSizes[mediaEntry];
    }
    void WriteLogLine(u16view line) override { log.push_back(Utf16ToUtf8(line)); }
    Presenter& Boxes() override { return boxes; }

    bool pendriveOk = true;
    bool imageOk = true;
    std::vector<std::uint64_t> driveSizes{8'000'000'000ULL, 16'000'000'000ULL};
    int selectedDrive = -100;
    std::vector<std::string> log;
    RecordingPresenter boxes;
};

// A request every rule accepts: generated node.cfg onto an 8 GB stick.
struct Request {
    SetupRecord record;
    SetupRequestForm form;
    FakeServices services;

    Request() {
        record.ResetConfiguration(true);
        record.m_lanAddress = u"10.0.0.5";
        record.m_lanNetmask = u"255.255.255.0";
        record.m_wanAddress = u"192.168.1.5";
        record.m_wanNetmask = u"255.255.255.0";
        record.m_adminAddress = u"172.16.0.5";
        record.m_adminNetmask = u"255.255.0.0";
        record.m_companyName = u"Corvane Networks";
        form.hostName = u"sbc1";
        form.sourceGenerate = true;
        form.mediaEntryCount = 3;
        form.selectedMediaEntry = 0;
    }

    ValidationResult Run() {
        ValidationResult result = ValidateSetupRequest(record, form, services);
        ShowValidationResult(result, services.boxes);
        return result;
    }
};

using Mutation = std::function<void(Request&)>;

struct Box {
    std::string text;
    std::string caption;
    unsigned style;
    bool owned;
};

Box BrandingBox(const std::string& text) {
    return {text, "flintmere", kSimpleBoxStyle, true};
}

void ExpectBoxes(const RecordingPresenter& boxes, const std::vector<Box>& expected) {
    const auto shown = boxes.Shown();
    ASSERT_EQ(shown.size(), expected.size());
    for (std::size_t i = 0; i < shown.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Utf16ToUtf8(shown[i].text), expected[i].text);
        EXPECT_EQ(Utf16ToUtf8(shown[i].caption), expected[i].caption);
        EXPECT_EQ(shown[i].style, expected[i].style);
        EXPECT_EQ(shown[i].owned, expected[i].owned);
    }
}

const std::string kTooLarge =
    "Invalid Server Name configuration: hostname too large. The Server Name field follow the "
    "rules for Domain Name Labels. Allowable characters in a label for a host name are only "
    "ASCII letters, digits, and the `-' character. Labels may not be all numbers, but may have "
    "a leading digit. Labels must end and begin only with a letter or digit. Up to 63 "
    "characters are allowed.";
const std::string kInvalidName =
    "Invalid Server Name configuration: invalid character(s). The Server Name field follow the "
    "rules for Domain Name Labels. Allowable characters in a label for a host name are only "
    "ASCII letters, digits, and the `-' character. Labels may not be all numbers, but may have "
    "a leading digit. Labels must end and begin only with a letter or digit. Up to 63 "
    "characters are allowed.";

TEST(ValidateSetupRequest, BaselineIsAccepted) {
    Request r;
    EXPECT_EQ(r.Run().outcome, ValidationOutcome::Accepted);
    ExpectBoxes(r.services.boxes, {});
}

// One case per rule, each from the accepted baseline.
struct RuleCase {
    const char* name;
    Mutation mutate;
    std::string message;  // empty: accepted
    std::string caption = "Error";
    bool owned = false;
    std::vector<Box> boxesBefore = {};  // shown by the check itself, before the rejection box
};

void PrintTo(const RuleCase& c, std::ostream* os) {
    *os << c.name;
}

class Rules : public ::testing::TestWithParam<RuleCase> {};

TEST_P(Rules, ShowsTheRulesBox) {
    const RuleCase& c = GetParam();
    Request r;
    c.mutate(r);
    const ValidationResult result = r.Run();
    std::vector<Box> boxes = c.boxesBefore;
    if (c.message.empty()) {
        EXPECT_EQ(result.outcome, ValidationOutcome::Accepted);
    } else {
        EXPECT_EQ(result.outcome, ValidationOutcome::Rejected);
        EXPECT_EQ(Utf16ToUtf8(result.message), c.message);
        EXPECT_EQ(Utf16ToUtf8(result.caption), c.caption);
        EXPECT_EQ(result.ownedByDialog, c.owned);
        boxes.push_back({c.message, c.caption, kRejectionStyle, c.owned});
    }
    ExpectBoxes(r.services.boxes, boxes);
}

const std::string k63(63, 'a');

INSTANTIATE_TEST_SUITE_P(
    Each, Rules,
    ::testing::Values(
        RuleCase{"MissingFiles", [](Request& r) { r.services.pendriveOk = false; },
                 "Missing important installation files. Please reinstall the application.",
                 "Error", true},
        RuleCase{"MissingImage", [](Request& r) { r.services.imageOk = false; },
                 "Image file (image_zev-<version>.tar) not found.\n", "WARNING", true},
        RuleCase{"NetBootNoLogicalId",
                 [](Request& r) {
                     r.form.netBoot = true;
                     r.form.logicalId = u" \t ";
                     r.form.qmxUrl1 = u"10.0.0.7";
                 },
                 "Missing Logical ID"},
        RuleCase{"NetBootNoUrl1",
                 [](Request& r) {
                     r.form.netBoot = true;
                     r.form.logicalId = u"7";
                     r.form.qmxUrl1 = u"  ";
                 },
                 "Missing QMX URL 1: enter a valid IP address or FQDN."},
        RuleCase{"NetBootBadUrl1",
                 [](Request& r) {
                     r.form.netBoot = true;
                     r.form.logicalId = u"7";
                     r.form.qmxUrl1 = u"qmx..example.com";
                 },
                 "Invalid QMX URL 1: enter a valid IP address or FQDN."},
        RuleCase{"NetBootBadUrl2",
                 [](Request& r) {
                     r.form.netBoot = true;
                     r.form.logicalId = u"7";
                     r.form.qmxUrl1 = u" 10.0.0.7 ";
                     r.form.qmxUrl2 = u"qmx.example.";
                 },
                 "Invalid QMX URL 2: enter a valid IP address or FQDN."},
        RuleCase{"NetBootAddressAndNameTrimmed",
                 [](Request& r) {
                     r.form.netBoot = true;
                     r.form.logicalId = u" 7 ";
                     r.form.qmxUrl1 = u" 10.0.0.7 ";
                     r.form.qmxUrl2 = u" qmx-2.example.com\t";
                 },
                 ""},
        RuleCase{"NetBootRulesSkippedWithPreinstall",
                 [](Request& r) {
                     r.form.netBoot = true;
                     r.form.preinstall = true;
                 },
                 ""},
        RuleCase{"DatabaseNotLoaded", [](Request& r) { r.form.sourceDatabase = true; },
                 "database file not found"},
        RuleCase{"NodeFileNotLoaded",
                 [](Request& r) {
                     r.form.sourceGenerate = false;
                     r.form.sourceNodeFile = true;
                 },
                 "node.cfg file not found"},
        RuleCase{"NoSource", [](Request& r) { r.form.sourceGenerate = false; },
                 "Please contact developer team this is a bug."},
        RuleCase{"AutomatedOnly",
                 [](Request& r) {
                     r.form.sourceGenerate = false;
                     r.form.automated = true;
                 },
                 ""},
        RuleCase{"EmptyServerName", [](Request& r) { r.form.hostName.clear(); },
                 "Missing Server Name configuration", "Error", true},
        RuleCase{"ServerName63", [](Request& r) { r.form.hostName = Utf8ToUtf16(k63); }, ""},
        RuleCase{"ServerName64", [](Request& r) { r.form.hostName = Utf8ToUtf16(k63 + "b"); },
                 kTooLarge},
        RuleCase{"ServerNameUnderscore", [](Request& r) { r.form.hostName = u"sbc_1"; },
                 kInvalidName},
        RuleCase{"ServerNameNotTrimmed", [](Request& r) { r.form.hostName = u"sbc1 "; },
                 kInvalidName},
        RuleCase{"LanNetmask", [](Request& r) { r.record.m_lanNetmask = u"255.0.255.0"; },
                 "Invalid IPv4 Subnet mask configuration for LAN interface"},
        // A /32 mask fails the address check too: the mask is checked first.
        RuleCase{"LanNetmask32", [](Request& r) { r.record.m_lanNetmask = u"255.255.255.255"; },
                 "Invalid IPv4 Subnet mask configuration for LAN interface"},
        RuleCase{"LanAddress", [](Request& r) { r.record.m_lanAddress = u"10.0.0.255"; },
                 "Invalid IPv4 configuration for LAN interface"},
        RuleCase{"LanPrefix6",
                 [](Request& r) {
                     r.record.m_lanAddress6 = u"2001:db8::5";
                     r.record.m_gateway6 = u"2001:db8::1";
                 },
                 "Invalid IPv6 Subnet mask configuration for LAN interface"},
        RuleCase{"LanAddress6Missing",
                 [](Request& r) {
                     r.record.m_lanPrefix6 = u"64";
                     r.record.m_gateway6 = u"2001:db8::1";
                 },
                 "Invalid IPv6 configuration for LAN interface"},
        RuleCase{"WanNetmask", [](Request& r) { r.record.m_wanNetmask.clear(); },
                 "Invalid IPv4 Subnet mask configuration for WAN interface"},
        RuleCase{"WanNetmask32", [](Request& r) { r.record.m_wanNetmask = u"255.255.255.255"; },
                 "Invalid IPv4 Subnet mask configuration for WAN interface"},
        RuleCase{"WanAddress", [](Request& r) { r.record.m_wanAddress = u"127.0.0.1"; },
                 "Invalid IPv4 configuration for WAN interface"},
        RuleCase{"WanPrefix6",
                 [](Request& r) {
                     r.record.m_lanAddress6 = u"2001:db8::5";
                     r.record.m_lanPrefix6 = u"64";
                     r.record.m_wanAddress6 = u"2001:db9::5";
                     r.record.m_wanPrefix6 = u"129";
                     r.record.m_gateway6 = u"2001:db8::1";
                 },
                 "Invalid IPv6 Subnet mask configuration for WAN interface"},
        RuleCase{"WanAddress6Missing",
                 [](Request& r) {
                     r.record.m_lanAddress6 = u"2001:db8::5";
                     r.record.m_lanPrefix6 = u"64";
                     r.record.m_wanPrefix6 = u"64";
                     r.record.m_gateway6 = u"2001:db8::1";
                 },
                 "Invalid IPv6 configuration for WAN interface"},
        RuleCase{"SingleArmedOtherSubnet", [](Request& r) { r.form.singleArmed = true; },
                 "Single Armed SBC: Invalid configuration (interfaces LAN and WAN must be in "
                 "the same subnet)"},
        RuleCase{"SingleArmedSameSubnet",
                 [](Request& r) {
                     r.form.singleArmed = true;
                     r.record.m_wanAddress = u"10.0.0.6";
                 },
                 ""},
        RuleCase{"SameAddressText", [](Request& r) { r.record.m_wanAddress = u"10.0.0.5"; },
                 "Invalid configuration (interfaces LAN and WAN using same IP address)"},
        RuleCase{"SameSubnet", [](Request& r) { r.record.m_wanAddress = u"10.0.0.6"; },
                 "Invalid configuration (interfaces LAN and WAN can not be in the same subnet)"},
        RuleCase{"SubnetsUseOwnNetmasks",
                 [](Request& r) {
                     // 10.0.0.0/8 against 10.0.1.0/24: different subnet values.
                     r.record.m_lanNetmask = u"255.0.0.0";
                     r.record.m_wanAddress = u"10.0.1.6";
                 },
                 ""},
        RuleCase{"SameIpv6Address",
                 [](Request& r) {
                     for (u16* f : {&r.record.m_lanAddress6, &r.record.m_wanAddress6})
                         *f = u"2001:db8::5";
                     r.record.m_lanPrefix6 = r.record.m_wanPrefix6 = u"64";
                     r.record.m_gateway6 = u"2001:db8::1";
                 },
                 "Invalid configuration (interfaces LAN and WAN using same IPv6 address)"},
        RuleCase{"AdminInLanSubnet", [](Request& r) { r.record.m_adminAddress = u"10.0.0.9"; },
                 "Invalid configuration (interfaces ADMIN and LAN must not be in the same "
                 "subnet)"},
        RuleCase{"AdminInWanSubnet",
                 [](Request& r) {
                     r.record.m_adminAddress = u"192.168.1.9";
                     r.record.m_adminNetmask = u"255.255.255.0";
                 },
                 "Invalid configuration (interfaces ADMIN and WAN must not be in the same "
                 "subnet)"},
        RuleCase{"Ipv6WithoutGateway",
                 [](Request& r) {
                     r.record.m_lanAddress6 = u"2001:db8::5";
                     r.record.m_lanPrefix6 = u"64";
                 },
                 "Missing/Invalid IPv6 gateway configuration"},
        RuleCase{"GatewayWithoutIpv6", [](Request& r) { r.record.m_gateway6 = u"2001:db8::1"; },
                 "Invalid IPv6 Gateway configuration, Missing IPV6/SUBNET Configuration"},
        RuleCase{"GatewayWithWanIpv6Only",
                 [](Request& r) {
                     r.record.m_wanAddress6 = u"2001:db9::5";
                     r.record.m_wanPrefix6 = u"64";
                     r.record.m_gateway6 = u"2001:db9::1";
                 },
                 "Invalid IPv6 Gateway configuration, Missing IPV6/SUBNET Configuration"},
        RuleCase{"LanIpv6WithGateway",
                 [](Request& r) {
                     r.record.m_lanAddress6 = u"2001:db8::5";
                     r.record.m_lanPrefix6 = u"64";
                     r.record.m_gateway6 = u"2001:db8::1";
                 },
                 ""},
        RuleCase{"LogoNotLoaded", [](Request& r) { r.record.m_logoFile = u"logo.png"; },
                 "Branding Logo Picture file was actually not pointed on file system.\rGo to "
                 "Branding dialog for pointing to the file."},
        RuleCase{"Company33", [](Request& r) { r.record.m_companyName = u16(33, u'C'); }, ""},
        RuleCase{"Company34", [](Request& r) { r.record.m_companyName = u16(34, u'C'); },
                 "Company Name must be limited to 33 characters. Please go to Branding dialog "
                 "and correct the Company Name configuration."},
        RuleCase{"CompanyEmpty", [](Request& r) { r.record.m_companyName.clear(); },
                 "Please go to Branding dialog and correct the Company Name configuration.",
                 "Error", false, {BrandingBox("Company Name cannot be empty.")}},
        RuleCase{"CompanyBadSymbol", [](Request& r) { r.record.m_companyName = u"A<B"; },
                 "Please go to Branding dialog and correct the Company Name configuration.",
                 "Error", false, {BrandingBox("Company Name contains invalid symbols.")}},
        RuleCase{"Product34", [](Request& r) { r.record.m_productName = u16(34, u'P'); },
                 "Product Name must be limited to 33 characters. Please go to Branding dialog "
                 "and correct the Product Name configuration."},
        RuleCase{"ProductBadSymbol", [](Request& r) { r.record.m_productName = u"SBC\u00e8"; },
                 "Please go to Branding dialog and correct the Product Name configuration.",
                 "Error", false, {BrandingBox("Product Name contains invalid symbols.")}},
        RuleCase{"Tla301", [](Request& r) { r.record.m_tla = u16(301, u't'); },
                 "TLA must be limited to 300 characters. Please go to Branding dialog and "
                 "correct the TLA configuration."},
        RuleCase{"TlaEmpty", [](Request& r) { r.record.m_tla.clear(); },
                 "Please go to Branding dialog and correct the TLA configuration.", "Error",
                 false, {BrandingBox("TLA cannot be empty.")}},
        RuleCase{"IsoWithoutHardware", [](Request& r) { r.record.m_isoMedia = 1; },
                 "Missing or invalid Hardware type"},
        RuleCase{"IsoGatewayProduct",
                 [](Request& r) {
                     r.record.m_isoMedia = 1;
                     r.record.m_hwType = 12;
                     r.form.hardwareTypeText = u" ";
                 },
                 "Integrated gateway database file is not supported"},
        RuleCase{"IsoWithHardware",
                 [](Request& r) {
                     r.record.m_isoMedia = 1;
                     r.form.hardwareTypeText = u"Virtual 250";
                     r.form.mediaEntryCount = 1;  // no stick needed
                 },
                 ""},
        RuleCase{"NoStick", [](Request& r) { r.form.mediaEntryCount = 1; },
                 "Please insert a USB Stick"},
        RuleCase{"StickJustTooSmall",
                 [](Request& r) { r.services.driveSizes = {1'024'047'358ULL}; },
                 "Please select a USB Stick with at least 1G of storage space"},
        RuleCase{"StickJustBigEnough",
                 [](Request& r) { r.services.driveSizes = {1'024'047'359ULL}; }, ""},
        RuleCase{"NoStickSelected", [](Request& r) { r.form.selectedMediaEntry = -1; },
                 "Please select a USB Stick with at least 1G of storage space"}),
    [](const ::testing::TestParamInfo<RuleCase>& info) { return std::string(info.param.name); });

// Breakers in rule order; applying breaker i and every later one must still
// report breaker i: the first failing rule wins.
struct Breaker {
    Mutation mutate;
    std::string message;
};

TEST(ValidateSetupRequest, FirstFailingRuleWins) {
    const std::vector<Breaker> breakers = {
        {[](Request& r) { r.services.pendriveOk = false; },
         "Missing important installation files. Please reinstall the application."},
        {[](Request& r) { r.services.imageOk = false; },
         "Image file (image_zev-<version>.tar) not found.\n"},
        {[](Request& r) { r.form.netBoot = true; }, "Missing Logical ID"},
        {[](Request& r) { r.form.sourceDatabase = true; }, "database file not found"},
        {[](Request& r) { r.form.hostName = u"a_b"; }, kInvalidName},
        {[](Request& r) { r.record.m_lanAddress = u"0.1.2.3"; },
         "Invalid IPv4 configuration for LAN interface"},
        {[](Request& r) { r.record.m_wanNetmask = u"0.0.0.0"; },
         "Invalid IPv4 Subnet mask configuration for WAN interface"},
        {[](Request& r) { r.record.m_adminAddress = u"10.0.0.200"; },
         "Invalid configuration (interfaces ADMIN and LAN must not be in the same subnet)"},
        {[](Request& r) { r.record.m_gateway6 = u"2001:db8::1"; },
         "Invalid IPv6 Gateway configuration, Missing IPV6/SUBNET Configuration"},
        {[](Request& r) { r.record.m_productName = u16(40, u'p'); },
         "Product Name must be limited to 33 characters. Please go to Branding dialog and "
         "correct the Product Name configuration."},
        {[](Request& r) { r.form.mediaEntryCount = 1; }, "Please insert a USB Stick"},
    };
    for (std::size_t first = 0; first < breakers.size(); ++first) {
        SCOPED_TRACE(breakers[first].message);
        Request r;
        for (std::size_t i = first; i < breakers.size(); ++i) breakers[i].mutate(r);
        const ValidationResult result = r.Run();
        EXPECT_EQ(result.outcome, ValidationOutcome::Rejected);
        EXPECT_EQ(Utf16ToUtf8(result.message), breakers[first].message);
    }
}

TEST(ValidateSetupRequest, DhcpSkipsAddressRulesAndQuestion) {
    Request r;
    r.form.dhcp = true;
    r.form.hostName = u"unnamed";
    r.form.netBoot = true;
    r.form.logicalId = u"7";
    r.form.qmxUrl1.clear();
    r.form.qmxUrl2 = u"10.0.0.8";
    r.record.m_lanAddress = r.record.m_wanAddress = u"garbage";
    r.record.m_lanNetmask.clear();
    r.record.m_adminAddress = u"garbage";
    r.record.m_lanAddress6 = u"2001:db8::5";
    r.record.m_gateway6.clear();
    EXPECT_EQ(r.Run().outcome, ValidationOutcome::Accepted);
    ExpectBoxes(r.services.boxes, {});
}

TEST(ValidateSetupRequest, PreinstallWithEmptyAddressesStillRunsRelationRules) {
    struct Case {
        bool singleArmed;
        std::string message;
    };
    for (const Case& c :
         {Case{false, "Invalid configuration (interfaces LAN and WAN using same IP address)"},
          Case{true,
               "Invalid configuration (interfaces ADMIN and LAN must not be in the same "
               "subnet)"}}) {
        SCOPED_TRACE(c.singleArmed);
        Request r;
        r.form.preinstall = true;
        r.form.singleArmed = c.singleArmed;
        r.form.invert = true;
        for (u16* f : {&r.record.m_lanAddress, &r.record.m_lanNetmask, &r.record.m_wanAddress,
                       &r.record.m_wanNetmask, &r.record.m_adminAddress, &r.record.m_adminNetmask})
            f->clear();
        const ValidationResult result = r.Run();
        EXPECT_EQ(Utf16ToUtf8(result.message), c.message);
        // The single-armed defaults do not run with preinstall.
        EXPECT_TRUE(r.form.invert);
        EXPECT_EQ(r.record.m_adminDisabled, 0);
    }
}

TEST(ValidateSetupRequest, UnnamedAsksAndFollowsTheAnswer) {
    const Box question{"Do you really want to continue and use \"unnamed\" as server name?",
                       "USB Stick Setup", kQuestionStyle, true};
    {
        Request r;
        r.form.hostName = u"unnamed";
        r.services.boxes.ScriptAnswers({kIdYes});
        EXPECT_EQ(r.Run().outcome, ValidationOutcome::Accepted);
        ExpectBoxes(r.services.boxes, {question});
    }
    {
        Request r;
        r.form.hostName = u"unnamed";
        r.record.m_lanDisabled = 1;
        r.services.boxes.ScriptAnswers({kIdNo});
        const ValidationResult result = r.Run();
        EXPECT_EQ(result.outcome, ValidationOutcome::Declined);
        ExpectBoxes(r.services.boxes, {question});
        // Writes before the question stay; nothing after it happened.
        EXPECT_EQ(r.record.m_serverName, u"unnamed");
        EXPECT_EQ(r.record.m_configSource, ConfigGenerateNodeFile);
        EXPECT_EQ(r.record.m_lanDisabled, 1);
        EXPECT_EQ(r.services.selectedDrive, -100);
    }
    {
        // Only the exact spelling asks.
        Request r;
        r.form.hostName = u"Unnamed";
        EXPECT_EQ(r.Run().outcome, ValidationOutcome::Accepted);
        ExpectBoxes(r.services.boxes, {});
    }
}

TEST(ValidateSetupRequest, SingleArmedDefaultsFillWanAndDropAdmin) {
    Request r;
    r.form.singleArmed = true;
    r.form.invert = true;
    r.record.m_adminDisabled = 0;
    r.record.m_wanAddress.clear();
    r.record.m_wanNetmask.clear();
    r.record.m_lanAddress6 = u"2001:db8::5";
    r.record.m_lanPrefix6 = u"64";
    r.record.m_gateway6 = u"2001:db8::1";
    // ADMIN values that would clash with LAN do not matter any more.
    r.record.m_adminAddress = u"10.0.0.9";
    r.record.m_adminNetmask = u"255.255.255.0";
    // Copying makes the IPv6 addresses equal, which only the dual-armed rules refuse.
    EXPECT_EQ(r.Run().outcome, ValidationOutcome::Accepted);
    EXPECT_FALSE(r.form.invert);
    EXPECT_EQ(r.record.m_adminDisabled, 1);
    EXPECT_EQ(r.record.m_wanAddress, u"10.0.0.5");
    EXPECT_EQ(r.record.m_wanNetmask, u"255.255.255.0");
    EXPECT_EQ(r.record.m_wanAddress6, u"2001:db8::5");
    EXPECT_EQ(r.record.m_wanPrefix6, u"64");
    EXPECT_EQ(r.record.m_lanDisabled, 0);
    EXPECT_EQ(r.record.m_wanDisabled, 0);
}

TEST(SetSingleArmedDefault, FillsOnlyWhatIsEmpty) {
    struct Case {
        const char* name;
        bool singleArmed;
        std::vector<u16> wanBefore;  // address, netmask, address6, prefix6
        std::vector<u16> wanAfter;
        bool invertAfter;
        Flag adminAfter;
    };
    const std::vector<u16> lan = {u"10.0.0.5", u"255.255.255.0", u"2001:db8::5", u"64"};
    const std::vector<Case> cases = {
        {"NotSingleArmed", false, {u"", u"", u"", u""}, {u"", u"", u"", u""}, true, 0},
        {"WanEmpty", true, {u"", u"", u"", u""}, lan, false, 1},
        // An empty WAN address copies all four, even over a typed netmask.
        {"WanAddressEmpty", true, {u"", u"255.0.0.0", u"", u"48"}, lan, false, 1},
        {"WanAddressGiven",
         true,
         {u"10.0.0.6", u"", u"", u""},
         {u"10.0.0.6", u"255.255.255.0", u"", u"64"},
         false,
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetupRecord record;
        record.m_lanAddress = lan[0];
        record.m_lanNetmask = lan[1];
        record.m_lanAddress6 = lan[2];
        record.m_lanPrefix6 = lan[3];
        record.m_wanAddress = c.wanBefore[0];
        record.m_wanNetmask = c.wanBefore[1];
        record.m_wanAddress6 = c.wanBefore[2];
        record.m_wanPrefix6 = c.wanBefore[3];
        bool invert = true;
        std::vector<u16> log;
        setSingleArmedDefault(record, c.singleArmed, invert,
                              [&log](u16view line) { log.emplace_back(line); });
        EXPECT_EQ(log, std::vector<u16>{u"setSingleArmedDefault(): start"});
        EXPECT_EQ((std::vector<u16>{record.m_wanAddress, record.m_wanNetmask, record.m_wanAddress6,
                                    record.m_wanPrefix6}),
                  c.wanAfter);
        EXPECT_EQ(invert, c.invertAfter);
        EXPECT_EQ(record.m_adminDisabled, c.adminAfter);
    }
}

TEST(ValidateSetupRequest, WritesStayAfterLaterRejection) {
    Request r;
    r.record.m_lanDisabled = r.record.m_wanDisabled = r.record.m_adminDisabled = 1;
    r.form.sourceDatabase = true;
    r.record.m_dbFileLoaded = 1;
    r.form.selectedMediaEntry = 1;
    r.services.driveSizes = {8'000'000'000ULL, 512'000'000ULL};
    const ValidationResult result = r.Run();
    EXPECT_EQ(Utf16ToUtf8(result.message),
              "Please select a USB Stick with at least 1G of storage space");
    EXPECT_EQ(r.record.m_serverName, u"sbc1");
    EXPECT_EQ(r.record.m_configSource, ConfigFromDatabase);
    EXPECT_EQ(r.record.m_lanDisabled, 0);
    EXPECT_EQ(r.record.m_wanDisabled, 0);
    EXPECT_EQ(r.record.m_adminDisabled, 0);
    EXPECT_EQ(r.services.selectedDrive, 1);
}

TEST(ValidateSetupRequest, LogLines) {
    struct Case {
        const char* name;
        Mutation mutate;
        std::vector<std::string> log;
    };
    const std::vector<std::string> start = {"OnBnClickedOk(): start",
                                            "forcing OnEnKillfocusEditName()",
                                            "node servername changed to sbc1"};
    auto with = [&start](std::vector<std::string> more) {
        std::vector<std::string> all = start;
        all.insert(all.end(), more.begin(), more.end());
        return all;
    };
    const std::vector<Case> cases = {
        {"Usb", [](Request&) {}, with({"setSingleArmedDefault(): start"})},
        {"MissingFiles", [](Request& r) { r.services.pendriveOk = false; },
         with({"OnBnClickedOk(): missing files"})},
        {"MissingImage", [](Request& r) { r.services.imageOk = false; },
         with({"OnBnClickedOk(): install/update image not found"})},
        {"Iso", [](Request& r) { r.record.m_isoMedia = 1; },
         with({"setSingleArmedDefault(): start", "OnBnClickedOk(): Virtual Machine ISO"})},
        // Rejections themselves are not logged.
        {"Dhcp",
         [](Request& r) {
             r.form.dhcp = true;
             r.form.mediaEntryCount = 1;
         },
         start},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Request r;
        c.mutate(r);
        r.Run();
        EXPECT_EQ(r.services.log, c.log);
    }
}

TEST(CheckBrandingText, AllowedAndRefusedCharacters) {
    struct Case {
        u16 text;
        bool ok;
    };
    const std::vector<Case> cases = {
        {u"Corvane Networks (R) & Co.: 100% #1!", true},
        {u"a@b_c-d+e{f}g|h;i'j?k/l=m,n^o$p.q*r[s]t", true},
        {u"\u2122\u00a9\u00e4\u00c4\u00fc\u00dc\u00f6\u00d6\u20ac\u00b5\u00df", true},
        {u"tab\there", false},
        {u"quote\"", false},
        {u"less<", false},
        {u"\u00e9", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.text));
        RecordingPresenter boxes;
        EXPECT_EQ(CheckBrandingText(u"TLA", c.text, boxes), c.ok);
        if (c.ok) {
            ExpectBoxes(boxes, {});
        } else {
            ExpectBoxes(boxes, {BrandingBox("TLA contains invalid symbols.")});
        }
    }
}

TEST(InetAddrValue, MirrorsInetAddr) {
    struct Case {
        u16 text;
        std::uint32_t hostOrder;
    };
    const std::vector<Case> cases = {
        {u"10.1.2.3", 0x0A010203},
        {u"255.255.255.0", 0xFFFFFF00},
        {u"", 0xFFFFFFFF},
        {u"garbage", 0xFFFFFFFF},
        {u"1.2.3.256", 0xFFFFFFFF},
        {u"010.000.000.0010", 0xFFFFFFFF},  // 16 characters
        {u"10.0.0.\u00b9", 0xFFFFFFFF},     // no digit in the single-byte form
        // inet_aton's other forms: fewer numbers, octal, hex, a blank ending it.
        {u"0x0A.1", 0x0A000001},
        {u"10.1", 0x0A000001},
        {u"012.0.0.1", 0x0A000001},
        {u"0XFF.0.0.1", 0xFF000001},
        {u"1.16777215", 0x01FFFFFF},
        {u"1.2.3.4 x", 0x01020304},
        {u"1.2.3.4x", 0xFFFFFFFF},
        {u"08.1.1.1", 0xFFFFFFFF},
        {u"0x.1.1.1", 0xFFFFFFFF},
        {u"1.2.3.", 0xFFFFFFFF},
        {u"1.2.3.4.5", 0xFFFFFFFF},
        {u"1.16777216", 0xFFFFFFFF},
        {u"1.2.0x10000", 0xFFFFFFFF},
        {u"4294967296", 0xFFFFFFFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.text));
        EXPECT_EQ(InetAddrValue(c.text), htonl(c.hostOrder));
    }
}

}  // namespace
}  // namespace flintmere
