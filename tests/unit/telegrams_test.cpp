#include "exchange/telegrams.h"
#include "tests/support/host_storage.h"
#include "tests/support/log_capture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using testing_support::ClearLog;
using testing_support::Log;
using testing_support::LogText;

namespace {

const std::string kStx = "\x02";

// Memory-type indexes as the gate parser hands them over.
constexpr int32_t BR = 2, BT = 5, WX = 8, WY = 9, WR = 10, WL = 11, WM = 12, TC = 13, DF = 14,
                  DN = 15, LX = 16, LR = 18, LM = 20;

using testing_support::Cells;
using testing_support::Units;

std::string Hex2(unsigned value) {
    const char *digits = "0123456789ABCDEF";
    return {digits[(value >> 4) & 0xF], digits[value & 0xF]};
}

// Header, body, then the checksum over everything behind the STX and CR.
std::string Telegram(const std::string &header, const std::string &body) {
    unsigned sum = 0;
    for (unsigned char c : header.substr(1) + body) {
        sum += c;
    }
    return header + body + Hex2(sum & 0xFF) + "\r";
}

class TelegramsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearLog();
        std::memset(&context, 0, sizeof context);
        std::memset(context.stations, 0xFF, sizeof context.stations);
        context.stations['A'] = StationEntry{0x02, 0x01, 0xFF, 1};
        context.stations['B'] = StationEntry{0x03, 0x00, 0x05, 1};
        context.occupationEnabled = 1;
        std::memset(context.txBuffer, '~', sizeof context.txBuffer);
        std::memset(context.rxBuffer, 'r', sizeof context.rxBuffer);
        request.context = &context;
        request.params = &io;
    }

    void Gate(int32_t station, int32_t memoryType, int32_t address, int32_t bit, int32_t width,
              int32_t count, int32_t gateType = QOR_GATE_ANALOG16_0, void *data = nullptr) {
        io = IoRequest{};
        io.gateAddress = GateAddress{station, memoryType, address, bit, width};
        io.gateType = gateType;
        io.count = count;
        io.data = data;
    }

    std::string Read() {
        length = -1;
        qor::BuildReadRequest(&request, context.txBuffer, &length);
        return Built();
    }
    std::string Write(int32_t mode) {
        length = -1;
        qor::BuildWriteRequest(&request, context.txBuffer, &length, mode);
        return Built();
    }
    std::string Built() {
        EXPECT_GT(length, 0);
        EXPECT_LT(length, QOR_BUFFER_SIZE);
        if (length <= 0 || length >= QOR_BUFFER_SIZE) {
            return {};
        }
        EXPECT_EQ(context.txBuffer[length], '\0');
        EXPECT_EQ(std::string(context.rxBuffer, sizeof context.rxBuffer),
                  std::string(sizeof context.rxBuffer, 'r'));
        return std::string(context.txBuffer, static_cast<size_t>(length));
    }

    DriverContext context{};
    IoRequest io{};
    DriverRequest request{};
    int32_t length = -1;
};

TEST_F(TelegramsTest, WorkedExamplesComeOutByteForByte) {
    // Read of one word, AWR00010.
    Gate('A', WR, 0x10, -1, 16, 1);
    EXPECT_EQ(Read(), kStx + "001020000400A00001001" + "0A\r");
    EXPECT_EQ(length, 25);

    // Single write of bit 3 of WL 0x12 at a station with an office,
    // occupation off.
    uint16_t cell[2] = {0, 1};
    Gate('B', WL, 0x12, 3, 16, 1, QOR_GATE_DIGITAL, cell);
    context.occupationEnabled = 0;
    EXPECT_EQ(Write(QOR_SINGLE_WRITE), kStx + "00500030000A20300012301" + "80" + "DD\r");
    EXPECT_EQ(length, 29);

    // Read occupation for station A.
    context.occupationEnabled = 1;
    Gate('A', QOR_READ_OCCUPATION, 0, -1, 16, 1);
    EXPECT_EQ(Read(), kStx + "0010200001601" + "7B\r");
    EXPECT_EQ(length, 17);
    EXPECT_TRUE(Log().empty()) << LogText();
}

TEST_F(TelegramsTest, ReadRequestFieldsByGateKind) {
    struct Case {
        const char *name;
        int32_t station, memoryType, address, bit, width, count, occupation;
        std::string header, body;
    };
    const std::string shortA = kStx + "001020000";
    const std::string longB = kStx + "00500030000";
    const std::string unconfigured = kStx + "0FFFF0000";
    const std::vector<Case> cases = {
        {"ALR00020", 'A', LR, 0x10, -1, 32, 1, 1, shortA, "400A00002002"},
        {"ABX00105", 'A', WX, 0x10, 5, 16, 1, 1, shortA, "400000010501"},
        {"BY bit 15", 'A', WY, 0xFFF, 15, 16, 1, 1, shortA, "400100FFFF01"},
        {"ADF00203", 'A', DF, 0x203, -1, 1, 1, 1, shortA, "400E00020301"},
        {"DN", 'A', DN, 0x7, -1, 1, 1, 1, shortA, "400F00000701"},
        {"BR block of 240", 'A', BR, 0x1234, -1, 1, 240, 1, shortA, "4002001234F0"},
        {"BT", 'A', BT, 0x5, -1, 1, 1, 1, shortA, "400500000501"},
        {"BM bit in word", 'A', WM, 0xFFFF, 15, 16, 1, 1, shortA, "40040FFFFF01"},
        {"BL bit in word", 'B', WL, 0x12, 3, 16, 1, 1, longB, "400300012301"},
        {"TC", 'A', TC, 0x10, -1, 16, 1, 1, shortA, "400D00001001"},
        {"WY block of 120", 'B', WY, 0x100, -1, 16, 120, 1, longB, "400900010078"},
        {"LM block of 60", 'A', LM, 0x7FFE, -1, 32, 60, 1, shortA, "400C00FFFC78"},
        {"LX", 'A', LX, 0x0, -1, 32, 1, 1, shortA, "400800000002"},
        {"occupation off", 'A', WR, 0x10, -1, 16, 1, 0, shortA, "A00A00001001"},
        {"unconfigured station", 'Z', WR, 0x10, -1, 16, 1, 1, unconfigured, "400A00001001"},
        {"read occupation", 'B', QOR_READ_OCCUPATION, 0, -1, 16, 1, 1, longB, "1601"},
        {"release occupation", 'A', QOR_RELEASE_OCCUPATION, 0, -1, 16, 1, 1, shortA, "1600"},
        {"forced release", 'A', QOR_FORCED_RELEASE, 0, -1, 16, 1, 1, shortA, "1701"},
        {"forced release, occupation off", 'A', QOR_FORCED_RELEASE, 0, -1, 16, 1, 0, shortA,
         "1701"},
        {"no such task", 'A', 253, 0, -1, 16, 1, 1, shortA, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        context.occupationEnabled = c.occupation;
        Gate(c.station, c.memoryType, c.address, c.bit, c.width, c.count);
        const IoRequest before = io;
        EXPECT_EQ(Read(), Telegram(c.header, c.body));
        EXPECT_EQ(std::memcmp(&io, &before, sizeof io), 0); // only read
    }
}

TEST_F(TelegramsTest, WriteRequestCarriesTheDataSectionInItsChecksum) {
    struct Case {
        const char *name;
        int32_t station, memoryType, address, bit, width, count, gateType, mode;
        std::vector<uint8_t> storage;
        std::string header, body;
    };
    const std::string shortA = kStx + "001020000";
    const std::string longB = kStx + "00500030000";
    const std::vector<Case> cases = {
        {"single word", 'B', WR, 0x100, -1, 16, 1, QOR_GATE_ANALOG16_0, QOR_SINGLE_WRITE,
         Units({0xFFFF, 0xBEEF}), longB, "420A00010001BEEF"},
        {"single bit off", 'A', WX, 0x10, 5, 16, 1, QOR_GATE_DIGITAL, QOR_SINGLE_WRITE,
         Units({0xFFFF, 0}), shortA, "42000001050100"},
        {"single double word", 'A', LR, 0x10, -1, 32, 1, QOR_GATE_ANALOG32_4, QOR_SINGLE_WRITE,
         Cells({0x3C4D1A2B}), shortA,
         "420A00002002"
         "1A2B3C4D"},
        {"block of 10 bits", 'A', BR, 0x20, -1, 1, 10, QOR_GATE_DIGITAL, QOR_BLOCK_WRITE,
         std::vector<uint8_t>{0x01, 0x03}, shortA, "42020000200A80C0"},
        {"block of 3 words", 'B', WM, 0x1, -1, 16, 3, QOR_GATE_ANALOG16_0, QOR_BLOCK_WRITE,
         Units({1, 2, 0xABCD}), longB,
         "420C00000103"
         "00010002ABCD"},
        {"block of 2 double words", 'A', LM, 0x2, -1, 32, 2, QOR_GATE_ANALOG32_4, QOR_BLOCK_WRITE,
         Cells({0x3C4D1A2B, 1}), shortA,
         "420C00000404"
         "1A2B3C4D00010000"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> storage = c.storage;
        Gate(c.station, c.memoryType, c.address, c.bit, c.width, c.count, c.gateType,
             storage.data());
        const std::string telegram = Write(c.mode);
        EXPECT_EQ(telegram, Telegram(c.header, c.body));
        EXPECT_EQ(telegram.size(), c.header.size() + c.body.size() + 3);
    }
}

TEST_F(TelegramsTest, LongestTelegramsFitTheBufferWithTheirNul) {
    std::vector<uint16_t> storage(240, 0x5A5A);
    std::string data;
    for (int i = 0; i < 240; ++i) {
        data += "5A";
    }
    for (int32_t width : {16, 32}) {
        SCOPED_TRACE(width);
        Gate('B', width == 32 ? LM : WM, 0x10, -1, width, width == 32 ? 60 : 120,
             QOR_GATE_ANALOG16_0, storage.data());
        const std::string address = width == 32 ? "000020" : "000010";
        EXPECT_EQ(Write(QOR_BLOCK_WRITE),
                  Telegram(kStx + "00500030000", "420C" + address + "78" + data));
        EXPECT_EQ(length, 507);
    }
}

// Whatever count arrives, the telegram stays inside txBuffer: the data section
// stops at the last whole element that leaves room for checksum, CR and NUL.
TEST_F(TelegramsTest, OversizedCountsNeverWritePastTheBuffer) {
    struct Case {
        int32_t station, memoryType, width, count;
        size_t dataLength;
    };
    const std::vector<Case> cases = {
        {'B', WM, 16, 121, 484},       // fits exactly: 511 characters and the NUL
        {'B', WM, 16, 122, 484},       // one word too many
        {'A', WM, 16, 10000, 484},     // two more places, not enough for a word
        {'B', LM, 32, INT32_MAX, 480}, // 60 double words fit, the 61st does not
        {'A', BR, 1, INT32_MAX, 486},  // bit bytes fill every remaining place
        {'A', WM, 16, -1, 0},          // no elements at all
    };
    std::vector<uint8_t> storage(1024, 0x11);
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.count);
        Gate(c.station, c.memoryType, 0x10, -1, c.width, c.count, QOR_GATE_ANALOG16_0,
             storage.data());
        const std::string telegram = Write(QOR_BLOCK_WRITE);
        const size_t header = c.station == 'B' ? 12 : 10;
        EXPECT_EQ(telegram.size(), header + 12 + c.dataLength + 3);
        EXPECT_EQ(telegram,
                  Telegram(telegram.substr(0, header), telegram.substr(header, 12 + c.dataLength)));
    }
}

} // namespace
