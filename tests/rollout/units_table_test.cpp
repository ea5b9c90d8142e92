#include "rollout/units_table.h"

#include <gtest/gtest.h>

#include "config/node_cfg_parse.h"
#include "rollout/unit_cells.h"
#include "rollout/unit_check.h"
#include "support/recording_presenter.h"
#include "support/ui_harness.h"

namespace flintmere::testing {
namespace {

using ui::IdChkGpt;
using ui::IdChkLegacyBios;
using ui::IdChkPartitioned;
using ui::IdChkUefi;

const std::string kHeader = "kestrel_label,kestrel_lan,kestrel_wan,kestrel_gw,hw_platform\n";
const std::string kUnit2 =
    "sbc-b,10.0.2.5 255.255.255.0,198.51.100.2 255.255.255.0,10.0.2.1,sr630\n";

struct Expected {
    std::size_t row;
    std::string column;
    std::string reasonPart;
};

std::string Describe(const std::vector<TableRefusal>& refusals) {
    std::string out;
    for (const TableRefusal& r : refusals) out += DescribeRefusal(r) + "\n";
    return out;
}

TEST(UnitsTable, RefusesWithRowAndColumn) {
    const struct {
        const char* name;
        std::string csv;
        std::vector<Expected> expected;
    } cases[] = {
        {"a duplicate address, an injected key and a bad mask",
         kHeader + "sbc-a,10.0.1.5 255.255.255.0,198.51.100.1 255.255.255.0,10.0.1.1,sr630\n" +
             kUnit2 + "sbc-c,10.0.3.5 255.255.255.0,198.51.100.1 255.255.255.0,10.0.3.1,sr630\n" +
             "sbc-d,10.0.4.5 255.255.255.0,\"198.51.100.4 255.255.255.0\nkestrel_label: pwned\","
             "10.0.4.1,sr630\n" +
             "sbc-e,10.0.5.5 255.255.0.255,198.51.100.5 255.255.255.0,10.0.5.1,sr630\n",
         {{4, "kestrel_wan", "the address 198.51.100.1 is also unit row 2's kestrel_wan"},
          {5, "kestrel_wan", "holds a control character"},
          {6, "kestrel_lan", "Invalid IPv4 Subnet mask configuration for LAN interface"}}},
        {"a key inside a one-value cell",
         kHeader + "sbc-a,10.0.1.5 255.255.255.0,,10.0.1.1 kestrel_label:,sr630\n",
         {{2, "kestrel_gw", "would be read as the key kestrel_label:"}}},
        {"a quoted comma stays in its cell",
         kHeader + "\"sbc,a\",10.0.1.5 255.255.255.0,,10.0.1.1,sr630\n",
         {{2, "kestrel_label", "Invalid Server Name configuration: invalid character(s)"}}},
        {"an unterminated quote",
         kHeader + kUnit2 + "sbc-c,\"10.0.3.5 255.255.255.0,,,\n",
         {{3, "kestrel_lan", "a quoted field is not closed"}}},
        {"a stray quote",
         kHeader + "sbc-a,10.0.1.5 255\"255.255.0,,,\n",
         {{2, "kestrel_lan", "a double quote inside a field that is not quoted"}}},
        {"an unknown and a repeated column",
         "kestrel_label,kestrel_lan,legacy_bios,KESTREL_LAN:,\"x\ny\"\n" + kUnit2,
         {{1, "legacy_bios", "not a key the node.cfg reader knows"},
          {1, "KESTREL_LAN:", "already column kestrel_lan"},
          {1, "\"x\\x0ay\"", "not a key the node.cfg reader knows"}}},
        {"no host name column, below an empty line",
         "\nkestrel_lan\n10.0.1.5 255.255.255.0\n",
         {{2, "kestrel_label", "no such column"}}},
        {"a short row after an empty line",
         kHeader + "\n" + kUnit2 + "sbc-c,10.0.3.5 255.255.255.0\n",
         {{4, "", "the row has 2 fields where the header has 5"}}},
        {"cells the value rule refuses",
         "kestrel_label,kestrel_lan,dhcp,logicid,kestrel_gw6\n"
         "sbc-\xe2\x9c\x93,10.0.1.5,yes,\xe2\x80\x8b,fd00::1\vfd00::2\n",
         {{2, "kestrel_label", "(Windows-1252) cannot hold"},
          {2, "kestrel_lan", "is not two values"},
          {2, "dhcp", "is not a flag"},
          {2, "logicid", "(Windows-1252) cannot hold"},
          {2, "kestrel_gw6", "control character"}}},
        {"flags other than 0 and 1",
         "kestrel_label;kestrel_lan;singlearmed;uefi;netboot;usb_stick_partitioned;invert\n"
         "sbc-a;10.0.1.5 255.255.255.0;2;-1;01;true;1 0\n",
         {{2, "singlearmed", "is not a flag"},
          {2, "uefi", "is not a flag"},
          {2, "netboot", "is not a flag"},
          {2, "usb_stick_partitioned", "is not a flag"},
          {2, "invert", "is not a flag"}}},
        {"Windows-1252: a value gets its own column's refusal",
         "kestrel_label,kestrel_lan,kestrel_wan\r\n"
         "sbc-\xe9,10.0.1.5 255.255.255.0,198.51.100.1 255.255.255.0\r\n"
         "sbc-b,10.0.2.5 255.255.255.0,198.51.100.2\x81 255.255.255.0\r\n",
         {{2, "kestrel_label", "Invalid Server Name configuration: invalid character(s)"},
          {3, "kestrel_wan", "holds a control character"}}},
        {"no WAN column: what to add",
         "kestrel_label,kestrel_lan\nsite-1,10.1.0.11 255.255.255.0\n",
         {{2, "kestrel_wan", "no kestrel_wan column: add one with each unit's WAN address"}}},
        {"the window's messages name their key",
         "kestrel_label,kestrel_lan,kestrel_wan,kestrel_admin,kestrel_lan6,netboot,autoinstall\n"
         "sbc-a,10.0.1.5 255.255.255.0,198.51.100.1 255.255.255.0,10.0.1.9 255.255.255.0,,,\n"
         "sbc-b,10.0.2.5 255.255.255.0,198.51.100.2 255.255.255.0,,fd00::5 64,,\n"
         "sbc-c,10.0.3.5 255.255.255.0,198.51.100.3 255.255.255.0,,,1,1\n",
         {{2, "kestrel_admin", "interfaces ADMIN and LAN must not be in the same subnet"},
          {3, "kestrel_gw6", "Missing/Invalid IPv6 gateway configuration"},
          {4, "logicid", "Missing Logical ID"}}},
        {"a question no one can answer",
         kHeader + "unnamed,10.0.1.5 255.255.255.0,,,sr630\n",
         {{2, "kestrel_label", "the window asks \"Do you really want to continue and use"}}},
        {"a shared host name and IPv6 address, written otherwise",
         "kestrel_label,kestrel_lan,kestrel_wan,kestrel_lan6,kestrel_gw6\n"
         "sbc-a,10.0.1.5 255.255.255.0,198.51.100.1 255.255.255.0,2001:db8::5 64,2001:db8::1\n"
         "SBC-A,10.0.2.5 255.255.255.0,198.51.100.2 255.255.255.0,2001:DB8:0::5 64,2001:db8::1\n",
         {{3, "kestrel_label", "the host name SBC-A is also unit row 2's"},
          {3, "kestrel_lan6", "the address 2001:DB8:0::5 is also unit row 2's kestrel_lan6"}}},
        {"an empty host name cell",
         kHeader + ",10.0.1.5 255.255.255.0,,,\n",
         {{2, "kestrel_label", "is not compatible"}}},
        {"only a header", kHeader, {{0, "", "lists no unit"}}},
        {"nothing at all", "", {{0, "", "the table is empty"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const UnitsTable table = ReadUnitsTable(c.csv, MakeNodeCfgModeCheck(false));
        EXPECT_TRUE(table.units.empty());
        ASSERT_EQ(table.refusals.size(), c.expected.size()) << Describe(table.refusals);
        for (std::size_t i = 0; i < c.expected.size(); ++i) {
            const TableRefusal& r = table.refusals[i];
            EXPECT_EQ(r.row, c.expected[i].row) << DescribeRefusal(r);
            EXPECT_EQ(r.column, c.expected[i].column) << DescribeRefusal(r);
            EXPECT_NE(r.reason.find(c.expected[i].reasonPart), std::string::npos)
                << DescribeRefusal(r);
        }
    }
}

TEST(UnitsTable, AcceptedTableReadsBack) {
    // A spreadsheet's export: byte order mark, CRLF, quotes, an empty line.
    const std::string csv =
        "\xEF\xBB\xBFkestrel_label,kestrel_lan,kestrel_wan,kestrel_lan6,kestrel_gw6,logicid,"
        "hw_platform\r\n"
        "sbc-a,\"10.0.1.5 255.255.255.0\",198.51.100.1 255.255.255.0,fd00:1::5 64,fd00:1::1,"
        "\"site\"\"7\"\"\",sr630\r\n"
        "\r\n"
        " sbc-b ,10.0.2.5 255.255.255.0,198.51.100.2 255.255.255.0,,,,x3250\r\n";
    for (const bool iso : {false, true}) {
        SCOPED_TRACE(iso ? "ISO" : "stick");
        const UnitsTable table = ReadUnitsTable(csv, MakeNodeCfgModeCheck(iso));
        ASSERT_TRUE(table.refusals.empty()) << Describe(table.refusals);
        ASSERT_EQ(table.units.size(), 2u);
        EXPECT_EQ(table.units[0].row, 2u);
        EXPECT_EQ(table.units[1].row, 4u);
        EXPECT_EQ(table.units[1].hostName, "sbc-b");
        for (const UnitRow& unit : table.units) {
            const NodeCfgValues v = ParseNodeCfg(unit.nodeCfg);
            const std::pair<std::string, std::string> read[] = {
                {"kestrel_label", ToPath(v.label)},
                {"kestrel_lan", ToPath(v.lanAddress + u" " + v.lanNetmask)},
                {"kestrel_lan6",
                 ToPath(v.lanAddress6.empty() ? u"" : v.lanAddress6 + u" " + v.lanPrefix6)},
                {"kestrel_gw6", ToPath(v.gateway6)},
                {"logicid", ToPath(v.logicId)},
                {"hw_platform", ToPath(v.hwPlatform)}};
            for (const auto& [column, value] : read) {
                for (const TableCell& cell : unit.cells) {
                    if (cell.column != column) continue;
                    EXPECT_EQ(value, TrimmedCell(cell.value)) << column;
                }
            }
            EXPECT_EQ(unit.record.m_configSource, ConfigFromNodeFile);
            EXPECT_EQ(unit.record.m_nodeFileLoaded, 1);
            EXPECT_EQ(unit.record.m_isoMedia, iso ? 1 : 0);
        }
        EXPECT_EQ(table.units[0].record.m_logicId, u"site\"7\"");
    }
}

// The same table as spreadsheets export it: every form reads to the same
// units, node.cfg bytes and all.
TEST(UnitsTable, ExportsReadToTheSameUnits) {
    const std::string utf8 =
        "kestrel_label,kestrel_lan,kestrel_wan,logicid,hw_platform\n"
        "site-1,10.1.0.11 255.255.255.0,10.2.0.11 255.255.255.0,Z\xc3\xbcrich,sr630\n"
        "site-2,10.1.0.12 255.255.255.0,10.2.0.12 255.255.255.0,\"a;b,c\",sr630\n";
    const auto separated = [&](char by) {
        std::string out = utf8;
        for (std::size_t at = 0, quoted = 0; at < out.size(); ++at) {
            if (out[at] == '"') quoted ^= 1;
            if (out[at] == ',' && !quoted) out[at] = by;
        }
        return out;
    };
    const auto crlf = [](std::string text) {
        for (std::size_t at = text.find('\n'); at != std::string::npos;
             at = text.find('\n', at + 2))
            text.replace(at, 1, "\r\n");
        return text;
    };
    const auto utf16 = [](const std::string& text, bool little) {
        std::string out = little ? "\xFF\xFE" : "\xFE\xFF";
        for (const char16_t c : Utf8ToUtf16(text)) {
            const char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
            out += little ? std::string{lo, hi} : std::string{hi, lo};
        }
        return out;
    };
    const std::pair<const char*, std::string> exports[] = {
        {"comma, UTF-8", utf8},
        {"semicolon, byte order mark, CRLF", "\xEF\xBB\xBF" + crlf(separated(';'))},
        {"tab, UTF-16LE, CRLF", utf16(crlf(separated('\t')), true)},
        {"semicolon, UTF-16BE", utf16(separated(';'), false)},
        {"semicolon, Windows-1252, CRLF", crlf(Utf16ToAnsi(Utf8ToUtf16(separated(';'))))},
    };
    const UnitsTable reference = ReadUnitsTable(utf8, MakeNodeCfgModeCheck(false));
    ASSERT_EQ(reference.units.size(), 2u) << Describe(reference.refusals);
    EXPECT_NE(reference.units[0].nodeCfg.find("logicid: Z\xfcrich\n"), std::string::npos);
    for (const auto& [name, bytes] : exports) {
        SCOPED_TRACE(name);
        const UnitsTable table = ReadUnitsTable(bytes, MakeNodeCfgModeCheck(false));
        ASSERT_EQ(table.units.size(), 2u) << Describe(table.refusals);
        for (std::size_t i = 0; i < 2; ++i) {
            EXPECT_EQ(table.units[i].row, reference.units[i].row);
            EXPECT_EQ(table.units[i].hostName, reference.units[i].hostName);
            EXPECT_EQ(table.units[i].nodeCfg, reference.units[i].nodeCfg);
        }
    }
}

// The check against the window itself, each given the same node.cfg: the
// same verdict and reason, and for an accepted one the same hardware, stick
// layout and addresses.
TEST(UnitCheck, AgreesWithTheWindow) {
    const std::string base =
        "kestrel_label: sbc-a\nkestrel_lan: 10.0.1.5 255.255.255.0\n"
        "kestrel_gw: 10.0.1.1\n";
    const std::string wan = "kestrel_wan: 198.51.100.1 255.255.255.0\n";
    const std::string cases[] = {
        base + wan + "hw_platform: sr630\nusb_stick_partitioned: 1\nuefi: 1\n",
        base + wan + "hw_platform: kontron550\n",
        base + wan + "hw_platform: x3250\nusb_stick_partitioned: 1\ngpt_partition: 1\n",
        base + wan + "vm_platform: Vhw_Medium\nautoinstall: 1\ndns1: 010.001.1.1\n",
        base + "kestrel_wan: 198.51.100.1 255.0.255.0\n",
        base,  // no WAN: refused unless single armed or DHCP
        base + "singlearmed: 1\n",
        base + wan + "kestrel_gw6: fd00::1\vfd00::2\n",
        base + wan + "netboot: 1\nautoinstall: 1\n",
        base + wan + "kestrel_admin: 10.0.1.9 255.255.0.0\n",
        base + wan + "hw_platform: LEGACY\ngpt_partition: 1\nusb_stick_partitioned: 1\n",
        "kestrel_label: unnamed\nkestrel_lan: 10.0.1.5 255.255.255.0\ndhcp: 1\n",
    };
    for (const std::string& nodeCfg : cases) {
        for (const bool iso : {false, true}) {
            SCOPED_TRACE(nodeCfg + (iso ? "(ISO)" : "(stick)"));
            UnitRow unit;
            unit.row = 2;
            unit.nodeCfg = nodeCfg;
            const std::optional<TableRefusal> refusal = MakeNodeCfgModeCheck(iso)(unit);

            UiHarness h;
            FLINTMERE_START_DIALOG(h);
            if (iso) h.op().Choose(ui::IdMediaSelect, 1);
            WriteFileBytes(h.dir / "node.cfg", nodeCfg);
            h.op().Click(ui::IdRadioUseNode);
            h.host.openAnswers = {FromPath(h.dir / "node.cfg")};
            h.op().Click(ui::IdNodeBrowse);
            h.app_.presenter.ScriptAnswers({kIdNo, kIdNo});
            h.op().Click(ui::IdOk);
            const std::vector<ShownMessage> boxes = h.app_.presenter.Shown();
            const bool windowAccepts =
                iso ? boxes.empty() && h.host.saveRequests.size() == 1
                    : boxes.size() == 1 && boxes[0].text.starts_with(u"WARNING: all partitions");
            ASSERT_EQ(!refusal, windowAccepts) << (refusal ? DescribeRefusal(*refusal) : "") << "\n"
                                               << h.Dump();
            if (refusal) {
                EXPECT_NE(refusal->reason.find(ToPath(boxes.at(0).text)), std::string::npos)
                    << DescribeRefusal(*refusal);
                continue;
            }
            const AppParts& w = h.app();
            EXPECT_EQ(unit.record.m_hwType, w.record.m_hwType);
            EXPECT_EQ(unit.record.m_partitioned, h.surface().IsChecked(IdChkPartitioned));
            EXPECT_EQ(unit.record.m_gptPartition, h.surface().IsChecked(IdChkGpt));
            EXPECT_EQ(unit.record.m_legacyBios, h.surface().IsChecked(IdChkLegacyBios));
            EXPECT_EQ(unit.record.m_uefi, h.surface().IsChecked(IdChkUefi));
            EXPECT_EQ(unit.record.m_wanAddress, w.record.m_wanAddress);
            EXPECT_EQ(unit.record.m_adminDisabled, w.record.m_adminDisabled);
            EXPECT_EQ(unit.hostName, ToPath(w.record.m_serverName));
        }
    }
}

}  // namespace
}  // namespace flintmere::testing
