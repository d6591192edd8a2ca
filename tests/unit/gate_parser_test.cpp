#include "gates/gate_parser.h"
#include "tests/support/log_capture.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

using testing_support::ClearLog;
using testing_support::Log;
using testing_support::LogLine;
using testing_support::LogText;

namespace {

// What the fields hold before a call; a field still holding it was not written.
constexpr int32_t kUntouched = -7;

LogLine Progress(const std::string &text) {
    return {8, "QORHT> " + text};
}
LogLine Failure(const std::string &text) {
    return {32, "QORHT> " + text};
}

class GateParserTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(&context, 0, sizeof context);
        for (StationEntry &entry : context.stations) {
            entry = {0xFF, 0xFF, 0xFF, 0};
        }
        context.stations['A'] = {0x02, 0x01, 0xFF, 0}; // loop, no office
        context.stations['B'] = {0x02, 0xFF, 0x05, 0}; // office, no loop
        context.stations['C'] = {0x02, 0xFF, 0xFF, 0}; // only a unit: undefined
        context.stations['D'] = {0xFF, 0x00, 0xFF, 0}; // loop 0
        ClearLog();
    }

    int32_t Run(int32_t command, const char *text, int32_t gateType = 0, int32_t blockSize = 1) {
        parse = ParseRequest{};
        parse.addressText = text;
        parse.gateType = gateType;
        parse.blockSize = blockSize;
        parse.gateAddress = {kUntouched, kUntouched, kUntouched, kUntouched, kUntouched};
        ClearLog();
        DriverRequest request{};
        request.context = &context;
        request.command = command;
        request.params = &parse;
        return command == 0 ? qor::Parse(&request) : QorMain(&request);
    }

    DriverContext context;
    ParseRequest parse{};
};

struct ParseCase {
    const char *text;
    int32_t result;
    GateAddress gate; // kUntouched where the field must keep its old value
    std::vector<LogLine> log;
};

TEST_F(GateParserTest, ParseTable) {
    const int32_t U = kUntouched;
    const std::vector<ParseCase> cases = {
        // Bit-in-word gates are stored as their word type, code + 8.
        {"abx00115", 0, {65, 8, 16, 15, 16}, {}},
        {"ABX00116", 0, {65, 8, 17, 0, 16}, {}},
        {"ABX00199", 0, {65, 8, 22, 3, 16}, {}},
        {"ABX00A05", 0, {65, 8, 160, 5, 16}, {}},
        {"ABY00000", 0, {65, 9, 0, 0, 16}, {}},
        {"ABL0001F", 0, {65, 11, 1, 15, 16}, {}},
        {"ABM12345", 0, {65, 12, 0x1234, 5, 16}, {}},
        // The decimal part begins where the hexadecimal one stopped.
        {"ABX1  15", 0, {65, 8, 16, 15, 16}, {}},
        {"ABX0012F", 0, {65, 8, 16, 2, 16}, {}},
        // One-bit gates.
        {"ABR00010", 0, {65, 2, 16, -1, 1}, {}},
        {"ABT00010", 0, {65, 5, 10, -1, 1}, {}},
        {"ADF00105", 0, {65, 14, 261, -1, 1}, {}},
        {"ADN0FF15", 0, {65, 15, 0xFF * 256 + 15, -1, 1}, {}},
        // Word gates.
        {"AWX0012G", 0, {65, 8, 18, -1, 16}, {}},
        {"awx0012g", 0, {65, 8, 18, -1, 16}, {}},
        {"AWYFFFFF", 0, {65, 9, 0xFFFFF, -1, 16}, {}},
        {"AWR00001", 0, {65, 10, 1, -1, 16}, {}},
        {"AWL00010", 0, {65, 11, 16, -1, 16}, {}},
        {"AWM0000a", 0, {65, 12, 10, -1, 16}, {}},
        {"ATC00100", 0, {65, 13, 100, -1, 16}, {}},
        {"AWX 0012", 0, {65, 8, 18, -1, 16}, {}},
        {"AWX+0010", 0, {65, 8, 16, -1, 16}, {}},
        {"AWX-0001", 0, {65, 8, -1, -1, 16}, {}},
        {"AWX0x123", 0, {65, 8, 0x123, -1, 16}, {}},
        // Double-word gates hold half the even word address.
        {"ALX00010", 0, {65, 16, 8, -1, 32}, {}},
        {"ALY00002", 0, {65, 17, 1, -1, 32}, {}},
        {"ALR00000", 0, {65, 18, 0, -1, 32}, {}},
        {"ALLFFFFE", 0, {65, 19, 0x7FFFF, -1, 32}, {}},
        {"ALM00020", 0, {65, 20, 16, -1, 32}, {}},
        {"ALX00011",
         1,
         {65, 16, U, U, U},
         {Failure("Parse() error address gate must be even 'ALX00011'")}},
        // Stations: "*" needs no entry; a loop or an office defines one.
        {"*WX00000", 0, {42, 8, 0, -1, 16}, {}},
        {"BWX00001", 0, {66, 8, 1, -1, 16}, {}},
        {"DWX00001", 0, {68, 8, 1, -1, 16}, {}},
        {"CWX00000",
         1,
         {67, U, U, U, U},
         {Progress("Parse(), Station 'C' not defined in init file, 'CWX00000'")}},
        {"ewx00000",
         1,
         {69, U, U, U, U},
         {Progress("Parse(), Station 'E' not defined in init file, 'EWX00000'")}},
        {"\xE9wx00000",
         1,
         {0xE9, U, U, U, U},
         {Progress("Parse(), Station '\xE9' not defined in init file, '\xE9WX00000'")}},
        // Memory types.
        {"A?000000",
         1,
         {65, U, U, U, U},
         {Progress("Parse() illegal memory type gate 'A?000000'")}},
        {"AB?00000",
         1,
         {65, U, U, U, U},
         {Progress("Parse() illegal memory type gate 'AB?00000'")}},
        {"A??00000",
         1,
         {65, U, U, U, U},
         {Progress("Parse() illegal memory type gate 'A??00000'")}},
        {"axx00000",
         1,
         {65, U, U, U, U},
         {Progress("Parse() illegal memory type gate 'AXX00000'")}},
        // Address parts.
        {"AWXG0012", 1, {65, 8, U, U, U}, {Progress("Parse() illegal address gate 'AWXG0012'")}},
        {"ABX1G012", 1, {65, 0, U, U, U}, {Progress("Parse() illegal address gate 'ABX1G012'")}},
        {"ATC0000A", 0, {65, 13, 0, -1, 16}, {}},
        {"ATCA0000", 1, {65, 13, U, U, U}, {Progress("Parse() illegal address gate 'ATCA0000'")}},
        {"ADF     ", 1, {65, 14, U, U, U}, {Progress("Parse() illegal address gate 'ADF     '")}},
        // Length: the text is quoted as the host gave it.
        {"awx0001",
         1,
         {U, U, U, U, U},
         {Progress("Parse() illegal length gate addr string 'awx0001'")}},
        {"awx000010",
         1,
         {U, U, U, U, U},
         {Progress("Parse() illegal length gate addr string 'awx000010'")}},
        {"", 1, {U, U, U, U, U}, {Progress("Parse() illegal length gate addr string ''")}},
    };
    for (const ParseCase &c : cases) {
        EXPECT_EQ(Run(0, c.text), c.result) << c.text;
        const GateAddress &g = parse.gateAddress;
        EXPECT_EQ(g.station, c.gate.station) << c.text;
        EXPECT_EQ(g.memoryType, c.gate.memoryType) << c.text;
        EXPECT_EQ(g.address, c.gate.address) << c.text;
        EXPECT_EQ(g.bit, c.gate.bit) << c.text;
        EXPECT_EQ(g.width, c.gate.width) << c.text;
        EXPECT_EQ(Log(), c.log) << c.text << ":\n" << LogText();
    }
}

TEST_F(GateParserTest, HostTextIsNeverChanged) {
    char text[] = "abx00115";
    ASSERT_EQ(Run(0, text), 0);
    EXPECT_STREQ(text, "abx00115");
}

TEST_F(GateParserTest, HugeTextIsRefusedByLength) {
    std::string huge(100000, 'A');
    EXPECT_EQ(Run(0, huge.c_str()), 1);
    ASSERT_EQ(Log().size(), 1u);
    EXPECT_EQ(Log()[0].level, 8);
    EXPECT_EQ(Log()[0].text.rfind("QORHT> Parse() illegal length gate addr string 'AAAAAAAAAA", 0),
              0u);
    EXPECT_EQ(parse.gateAddress.station, kUntouched);
}

TEST_F(GateParserTest, MissingTextIsRefusedWithOneMessage) {
    for (int32_t command :
         {0, int32_t{QOR_SINGLE_ADDRESS_PARSER}, int32_t{QOR_BLOCK_ADDRESS_PARSER}}) {
        EXPECT_EQ(Run(command, nullptr, 6), 1) << command;
        const std::vector<LogLine> expected = {Progress("Parse() no gate address text")};
        EXPECT_EQ(Log(), expected) << command;

        ClearLog();
        DriverRequest request{};
        request.context = &context;
        request.command = command == 0 ? QOR_SINGLE_ADDRESS_PARSER : command;
        EXPECT_EQ(QorMain(&request), 1) << command;
        EXPECT_EQ(Log(), expected) << command;
    }
}

TEST_F(GateParserTest, SingleParseChecksTheTypeAgainstTheWidth) {
    struct Case {
        const char *text;
        std::vector<int32_t> accepted;
        LogLine refusal;
    };
    const LogLine digital = Progress("SingleParse() Gate type should be digital");
    const LogLine word = Progress("SingleParse() Gate type should be 16-bit analog");
    const std::vector<Case> cases = {
        {"ABX00115", {6}, digital},
        {"ABL0001F", {6}, digital},
        {"ABR00010", {6}, digital},
        {"ADF00105", {6}, digital},
        {"AWX00010", {0, 1, 2}, word},
        {"ATC00100", {0, 1, 2}, word},
        {"ALX00010", {4, 5}, Failure("SingleParse() Gate:ALX00010 type should be 32-bit analog")},
        {"alx00010", {4, 5}, Failure("SingleParse() Gate:alx00010 type should be 32-bit analog")},
    };
    for (const Case &c : cases) {
        for (int32_t type : {-1, 0, 1, 2, 3, 4, 5, 6, 7, INT32_MIN}) {
            bool accepted = false;
            for (int32_t t : c.accepted) {
                accepted = accepted || t == type;
            }
            EXPECT_EQ(Run(QOR_SINGLE_ADDRESS_PARSER, c.text, type), accepted ? 0 : 1)
                << c.text << " type " << type;
            const std::vector<LogLine> expected =
                accepted ? std::vector<LogLine>{} : std::vector<LogLine>{c.refusal};
            EXPECT_EQ(Log(), expected) << c.text << " type " << type << ":\n" << LogText();
        }
    }
}

TEST_F(GateParserTest, RefusedSingleKeepsWhatParseFilled) {
    EXPECT_EQ(Run(QOR_SINGLE_ADDRESS_PARSER, "ALX00010", 0), 1);
    const GateAddress &g = parse.gateAddress;
    EXPECT_EQ(g.station, 65);
    EXPECT_EQ(g.memoryType, 16);
    EXPECT_EQ(g.address, 8);
    EXPECT_EQ(g.bit, -1);
    EXPECT_EQ(g.width, 32);
}

TEST_F(GateParserTest, BlockParseLimits) {
    struct Case {
        const char *text;
        int32_t blockSize;
        int32_t result;
        std::vector<LogLine> log;
    };
    const std::vector<LogLine> bitOfWord = {
        Progress("BlockParse() not allowed for this digital gate"),
        Progress("   define block of analog gates"),
    };
    const LogLine digital = Progress("BlockParse() blocksioze > 240 for digital gates");
    const LogLine word = Progress("BlockParse() blocksioze > 120 for word analog gates");
    const LogLine dword = Progress("BlockParse() blocksioze > 60 for double word analog gates");
    const std::vector<Case> cases = {
        {"ABX00115", 1, 1, bitOfWord},
        {"ABX00115", 0, 1, bitOfWord},
        {"ABL0001F", 500, 1, bitOfWord},
        {"AWX00000", 120, 0, {}},
        {"AWX00000", 121, 1, {word}},
        {"ATC00000", 120, 0, {}},
        {"ATC00000", 121, 1, {word}},
        {"AWX00000", INT32_MAX, 1, {word}},
        {"ALX00000", 60, 0, {}},
        {"ALX00000", 61, 1, {dword}},
        {"ABR00000", 240, 0, {}},
        {"ABR00000", 241, 1, {digital}},
        {"ABT00000", 240, 0, {}},
        {"ABT00000", 241, 1, {digital}},
        {"ADF00000", 240, 0, {}},
        {"ADF00000", 241, 1, {digital}},
        {"ADN00000", 240, 0, {}},
        {"ADN00000", 241, 1, {digital}},
        // No lower bound.
        {"AWX00000", 0, 0, {}},
        {"ALX00000", -5, 0, {}},
        {"ABR00000", INT32_MIN, 0, {}},
        // A text that Parse refuses: its message only.
        {"AWX0001", 1, 1, {Progress("Parse() illegal length gate addr string 'AWX0001'")}},
        {"ALX00001", 1, 1, {Failure("Parse() error address gate must be even 'ALX00001'")}},
    };
    for (const Case &c : cases) {
        // gateType plays no part in a block.
        EXPECT_EQ(Run(QOR_BLOCK_ADDRESS_PARSER, c.text, 99, c.blockSize), c.result)
            << c.text << " x " << c.blockSize;
        EXPECT_EQ(Log(), c.log) << c.text << " x " << c.blockSize << ":\n" << LogText();
    }
}

TEST_F(GateParserTest, SingleRefusedByParseLogsOnlyParse) {
    EXPECT_EQ(Run(QOR_SINGLE_ADDRESS_PARSER, "EWX00000", 0), 1);
    const std::vector<LogLine> expected = {
        Progress("Parse(), Station 'E' not defined in init file, 'EWX00000'")};
    EXPECT_EQ(Log(), expected) << LogText();
}

} // namespace
