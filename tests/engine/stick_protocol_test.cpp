#include <gtest/gtest.h>

#include "engine/stick_request.h"
#include "engine/stick_writer_client.h"

namespace flintmere {
namespace {

TEST(stick_protocol, FieldsSurviveTheWireAndMalformedLinesAreRefused) {
    const std::string fields[] = {"",
                                  "plain",
                                  "two words",
                                  "line\r\nbreak",
                                  "back\\slash",
                                  std::string("nul\0byte", 8),
                                  "\xc3\xa9t\xc3\xa9",
                                  "\\e"};
    for (const std::string& field : fields) {
        std::string line = FormatLine("box", {field, field});
        ASSERT_EQ(line.find_first_of(" \n", 4), line.find(' ', 4)) << "unescaped break";
        ASSERT_EQ(line.back(), '\n');
        line.pop_back();
        const std::optional<ProtocolLine> parsed = ParseLine(line);
        ASSERT_TRUE(parsed) << line;
        EXPECT_EQ(parsed->fields, (std::vector<std::string>{field, field})) << line;
    }
    for (const char* bad : {"", " pos 1", "pos  1", "pos 1 ", "Pos 1", "pos \\q", "pos \\x4",
                            "pos \\xzz", "pos a\tb", "pos \\"}) {
        EXPECT_FALSE(ParseLine(bad)) << bad;
    }
}

TEST(stick_protocol, LineReaderSplitsChunksAndStopsAtAnOverlongLine) {
    LineReader reader;
    reader.Feed("pos 1\npos");
    EXPECT_EQ(reader.Next(), "pos 1");
    EXPECT_FALSE(reader.Next());
    reader.Feed(" 2\n");
    EXPECT_EQ(reader.Next(), "pos 2");
    reader.Feed(std::string(kStickProtocolMaxLine + 1, 'a'));
    EXPECT_FALSE(reader.Next());
    EXPECT_TRUE(reader.Overflowed());
}

TEST(stick_protocol, WriterEventsAreReadOnlyInTheirShape) {
    struct Row {
        const char* line;
        bool accepted;
        WriterEvent::Kind kind;
    };
    const Row rows[] = {
        {"pos 42", true, WriterEvent::Pos},
        {"pos x", false, WriterEvent::Pos},
        {"pos 1 2", false, WriterEvent::Pos},
        {"box 73776 1 Error Invalid\\x20argument", true, WriterEvent::Box},
        {"box 73776 2 Error text", false, WriterEvent::Box},
        {"box 73776 0 Error \\xff", false, WriterEvent::Box},
        {"status 1", true, WriterEvent::Status},
        {"outcome 5 write-error", true, WriterEvent::Ended},
        {"outcome 0 stick-gone", true, WriterEvent::Ended},
        {"outcome 5 smoke", false, WriterEvent::Ended},
        {"outcome x refused", false, WriterEvent::Ended},
        {"outcome 5", false, WriterEvent::Ended},
        {"close", true, WriterEvent::Close},
        {"log SetupUSB():\\x20start", true, WriterEvent::Log},
        {"format now", false, WriterEvent::Log},
    };
    for (const Row& row : rows) {
        const std::optional<ProtocolLine> line = ParseLine(row.line);
        ASSERT_TRUE(line) << row.line;
        const std::optional<WriterEvent> event = ParseWriterEvent(*line);
        EXPECT_EQ(event.has_value(), row.accepted) << row.line;
        if (event && row.accepted) {
            EXPECT_EQ(event->kind, row.kind) << row.line;
        }
    }
}

std::vector<std::string> Lines(const std::string& text) {
    LineReader reader;
    reader.Feed(text);
    std::vector<std::string> out;
    while (std::optional<std::string> line = reader.Next()) out.push_back(*line);
    return out;
}

StickRequestParser::Step Parse(const std::vector<std::string>& lines, std::string& error) {
    StickRequestParser parser;
    StickRequestParser::Step step = StickRequestParser::Step::More;
    for (const std::string& line : lines) {
        step = parser.Add(line);
        if (step != StickRequestParser::Step::More) break;
    }
    error = parser.Error();
    // Input that ends before "end" is refused, as the writer refuses it.
    return step == StickRequestParser::Step::More ? StickRequestParser::Step::Failed : step;
}

TEST(stick_request, EveryValueReadsBackAndBadRequestsSayWhy) {
    StickRequest request;
    request.record.m_serverName = u"sbc\u00e9 1";
    request.record.m_lanAddress6 = u"2001:db8::5";
    request.record.m_hwType = HwVirtual250;
    request.record.m_gptPartition = 1;
    request.record.m_dbFileData = {'<', 'x', 0, '\n', 0xff};
    request.installFolder = "/opt/flint mere";
    request.logoPath = "/home/op/logo.png";
    request.diskIdentity = "sdb:42";
    request.diskSize = 8004304896;
    const std::vector<std::string> good = Lines(FormatStickRequest(request));

    StickRequestParser parser;
    for (const std::string& line : good) parser.Add(line);
    EXPECT_EQ(FormatStickRequest(parser.Request()), FormatStickRequest(request));
    EXPECT_EQ(parser.Request().record.m_dbFileData, request.record.m_dbFileData);
    EXPECT_EQ(parser.Request().record.m_serverName, request.record.m_serverName);

    struct Row {
        const char* name;
        std::vector<std::string> lines;
        const char* error;
    };
    auto without = [&good](const std::string& prefix) {
        std::vector<std::string> lines;
        for (const std::string& l : good) {
            if (l.rfind(prefix, 0) != 0) lines.push_back(l);
        }
        return lines;
    };
    auto with = [&good](const std::string& line) {
        std::vector<std::string> lines = good;
        lines.insert(lines.end() - 1, line);
        return lines;
    };
    auto replaced = [&without](const std::string& prefix, const std::string& line) {
        std::vector<std::string> lines = without(prefix);
        lines.insert(lines.end() - 1, line);
        return lines;
    };
    const Row rows[] = {
        {"no version", {"set serverName x"}, "does not start with its version"},
        {"other version", {"request 2"}, "unknown request version 2"},
        {"truncated", std::vector<std::string>(good.begin(), good.end() - 1),
         "ended before its last line"},
        {"missing value", without("set dns2 "), "lacks dns2"},
        {"twice", with("set dns2 \\e"), "sets dns2 twice"},
        {"unknown key", with("set exeFolder /tmp"), "unknown request value exeFolder"},
        {"bad number", replaced("set diskSize ", "set diskSize 12k"), "diskSize is not a number"},
        {"relative folder", replaced("set installFolder ", "set installFolder opt"),
         "not an absolute path"},
        {"malformed", with("set dns1 a b"), "unexpected request line set"},
        {"oversized", with("set x " + std::string(kStickRequestMaxBytes, 'a')),
         "larger than 72 MiB"},
    };
    for (const Row& row : rows) {
        std::string error;
        EXPECT_EQ(Parse(row.lines, error), StickRequestParser::Step::Failed) << row.name;
        EXPECT_NE(error.find(row.error), std::string::npos) << row.name << ": " << error;
    }
}

}  // namespace
}  // namespace flintmere
