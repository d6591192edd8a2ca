#include "exchange/value_encoding.h"
#include "tests/support/host_storage.h"
#include "tests/support/log_capture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using testing_support::ClearLog;
using testing_support::Log;
using testing_support::LogLine;
using testing_support::LogText;

namespace {

constexpr int32_t kSingleRead = QOR_SINGLE_READ;
constexpr int32_t kBlockRead = QOR_BLOCK_READ;
constexpr int32_t kSingleWrite = QOR_SINGLE_WRITE;
constexpr int32_t kBlockWrite = QOR_BLOCK_WRITE;

using testing_support::Cells;
using testing_support::Units;

IoRequest Request(int32_t gateType, int32_t width, int32_t count, void *data) {
    IoRequest request{};
    request.gateAddress.station = 'A';
    request.gateAddress.width = width;
    request.gateAddress.bit = -1;
    request.gateType = gateType;
    request.count = count;
    request.data = data;
    return request;
}

std::vector<LogLine> Messages(const std::vector<std::string> &texts) {
    std::vector<LogLine> lines;
    for (const std::string &text : texts) {
        lines.push_back({8, text});
    }
    return lines;
}

// The data section sits at the very end of a buffer of its own size, so a
// conversion that strays beyond the message reads outside the allocation.
int32_t StoreFromExactText(IoRequest *request, const std::string &text, int32_t mode) {
    std::vector<char> exact(text.begin(), text.end());
    return qor::StoreData(request, exact.data(), exact.data() + exact.size(), mode);
}

TEST(ReverseBitsTest, MirrorsTheLowByte) {
    const std::vector<std::pair<uint32_t, uint8_t>> cases = {
        {0x01, 0x80}, {0x80, 0x01}, {0x12, 0x48},  {0xF0, 0x0F},
        {0xA5, 0xA5}, {0x00, 0x00}, {0x1FF, 0xFF}, {0x100, 0x00},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(qor::ReverseBits(c.first), c.second) << std::hex << c.first;
    }
}

TEST(DataSectionLengthTest, DecidesByCountTypeAndWidth) {
    struct Case {
        int32_t count, gateType, width, length;
    };
    const std::vector<Case> cases = {
        {1, QOR_GATE_DIGITAL, 16, 2},        {1, QOR_GATE_DIGITAL, 1, 2},
        {1, QOR_GATE_ANALOG16_0, 16, 4},     {1, QOR_GATE_ANALOG32_4, 32, 8},
        {10, QOR_GATE_DIGITAL, 1, 4},        {8, QOR_GATE_DIGITAL, 1, 2},
        {9, QOR_GATE_DIGITAL, 1, 4},         {240, QOR_GATE_DIGITAL, 1, 60},
        {120, QOR_GATE_ANALOG16_0, 16, 480}, {60, QOR_GATE_ANALOG32_4, 32, 480},
        {2, QOR_GATE_DIGITAL, 16, 8}, // a block goes by its width, not its type
        {0, QOR_GATE_ANALOG16_0, 16, 0},     {0, QOR_GATE_DIGITAL, 1, 0},
        {-3, QOR_GATE_ANALOG16_0, 16, 0},    {INT32_MIN, QOR_GATE_ANALOG32_4, 32, 0},
    };
    for (const Case &c : cases) {
        IoRequest request = Request(c.gateType, c.width, c.count, nullptr);
        EXPECT_EQ(qor::DataSectionLength(request), c.length)
            << "count " << c.count << " type " << c.gateType << " width " << c.width;
    }
    // A count no response can carry gives a length no response matches, with
    // room left for the frame around it.
    for (int32_t width : {1, 16, 32}) {
        IoRequest huge = Request(QOR_GATE_ANALOG16_0, width, INT32_MAX, nullptr);
        const int32_t length = qor::DataSectionLength(huge);
        EXPECT_GT(length, QOR_BUFFER_SIZE);
        EXPECT_LE(length, INT32_MAX - 64);
    }
}

TEST(StoreDataTest, SingleValues) {
    struct Case {
        const char *name;
        int32_t gateType, width, count;
        std::string text;
        int32_t result;
        std::vector<uint8_t> cell; // after the call; the cell starts as AAAA 5555
        std::vector<std::string> messages;
    };
    const std::vector<uint8_t> untouched = Units({0xAAAA, 0x5555});
    const std::vector<Case> cases = {
        {"digital 80", QOR_GATE_DIGITAL, 16, 1, "80", 0, Units({0xAAAA, 1}), {}},
        {"digital FF", QOR_GATE_DIGITAL, 1, 1, "FF", 0, Units({0xAAAA, 1}), {}},
        {"digital 7F", QOR_GATE_DIGITAL, 16, 1, "7F", 0, Units({0xAAAA, 0}), {}},
        {"digital 01", QOR_GATE_DIGITAL, 1, 1, "01", 0, Units({0xAAAA, 0}), {}},
        {"digital, blank before digit", QOR_GATE_DIGITAL, 1, 1, " 8", 0, Units({0xAAAA, 0}), {}},
        {"digital not hex",
         QOR_GATE_DIGITAL,
         16,
         1,
         "G0",
         1,
         untouched,
         {"QORHT> StoreData() illegal HEX data for digital gates"}},
        {"digital blanks only",
         QOR_GATE_DIGITAL,
         16,
         1,
         "  ",
         1,
         untouched,
         {"QORHT> StoreData() illegal HEX data for digital gates"}},
        {"word lower case", QOR_GATE_ANALOG16_0, 16, 1, "12ab", 0, Units({0xAAAA, 0x12AB}), {}},
        {"word with sign", QOR_GATE_ANALOG16_1, 16, 1, "+123", 0, Units({0xAAAA, 0x0123}), {}},
        {"word negative", QOR_GATE_ANALOG16_2, 16, 1, "-001", 0, Units({0xAAAA, 0xFFFF}), {}},
        {"word stops at bad digit", QOR_GATE_ANALOG16_0, 16, 1, "1G00", 0, Units({0xAAAA, 1}), {}},
        {"word prefix not counted",
         QOR_GATE_ANALOG16_0,
         16,
         1,
         "0x12AB",
         0,
         Units({0xAAAA, 0x12AB}),
         {}},
        {"word not hex",
         QOR_GATE_ANALOG16_0,
         16,
         1,
         "zz12",
         1,
         untouched,
         {"QORHT> StoreData() illegal HEX data"}},
        {"word ignores count", QOR_GATE_ANALOG16_0, 16, 7, "0042", 0, Units({0xAAAA, 0x42}), {}},
        {"word with negative count",
         QOR_GATE_ANALOG16_0,
         16,
         -3,
         "0042",
         0,
         Units({0xAAAA, 0x42}),
         {}},
        {"double word",
         QOR_GATE_ANALOG32_4,
         32,
         1,
         "1A2B3C4D",
         0,
         Cells({0x3C4D1A2B}),
         {"QORHT> StoreData() 1A2B3C4D"}},
        {"double word, blanks then digits",
         QOR_GATE_ANALOG32_5,
         32,
         1,
         "      12",
         0,
         Cells({0x00120000}),
         {"QORHT> StoreData() 00000012"}},
        {"double word not hex",
         QOR_GATE_ANALOG32_4,
         32,
         1,
         "X1A2B3C4",
         1,
         untouched,
         {"QORHT> StoreData() illegal HEX data"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ClearLog();
        std::vector<uint8_t> cell = untouched;
        IoRequest request = Request(c.gateType, c.width, c.count, cell.data());
        EXPECT_EQ(StoreFromExactText(&request, c.text, kSingleRead), c.result);
        EXPECT_EQ(cell, c.cell);
        EXPECT_EQ(Log(), Messages(c.messages)) << LogText();
    }
}

TEST(StoreDataTest, Blocks) {
    struct Case {
        const char *name;
        int32_t width, count;
        std::string text;
        int32_t result;
        std::vector<uint8_t> storage; // after the call; 8 bytes of EE before it
        std::vector<std::string> messages;
    };
    const uint8_t e = 0xEE;
    const std::vector<Case> cases = {
        {"10 bits", 1, 10, "80C0", 0, {0x01, 0x03, e, e, e, e, e, e}, {}},
        {"bits beyond count travel", 1, 3, "E1", 0, {0x87, e, e, e, e, e, e, e}, {}},
        {"bits not hex",
         1,
         16,
         "80G0",
         1,
         {0x01, e, e, e, e, e, e, e},
         {"QORHT> StoreData() illegal HEX data in digital block"}},
        {"3 words", 16, 3, "000100020003", 0, Units({1, 2, 3, 0xEEEE}), {}},
        {"second word not hex",
         16,
         2,
         "0001G002",
         1,
         Units({1, 0xEEEE, 0xEEEE, 0xEEEE}),
         {"QORHT> StoreData() illegal HEX data in block"}},
        {"each word from its own field", 16, 2, "1G000002", 0, Units({1, 2, 0xEEEE, 0xEEEE}), {}},
        {"prefix inside a field", 16, 2, "0012 0x1", 0, Units({0x12, 1, 0xEEEE, 0xEEEE}), {}},
        {"blanks not counted, next word from its own place",
         16,
         2,
         "  123456",
         0,
         Units({0x1234, 0x3456, 0xEEEE, 0xEEEE}),
         {}},
        {"2 double words",
         32,
         2,
         "1A2B3C4D00010000",
         0,
         Cells({0x3C4D1A2B, 1}),
         {"QORHT> StoreData() 1A2B3C4D", "QORHT> StoreData() 00010000"}},
        {"second double word not hex",
         32,
         2,
         "1A2B3C4DQ0010000",
         1,
         Cells({0x3C4D1A2B, 0xEEEEEEEE}),
         {"QORHT> StoreData() 1A2B3C4D",
          "QORHT> StoreData() illegal HEX data in block (long type)"}},
        {"no words", 16, 0, "", 0, std::vector<uint8_t>(8, e), {}},
        {"no bits", 1, 0, "", 0, std::vector<uint8_t>(8, e), {}},
        {"negative count", 32, -4, "", 0, std::vector<uint8_t>(8, e), {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ClearLog();
        std::vector<uint8_t> storage(8, e);
        IoRequest request = Request(QOR_GATE_ANALOG16_0, c.width, c.count, storage.data());
        EXPECT_EQ(StoreFromExactText(&request, c.text, kBlockRead), c.result);
        EXPECT_EQ(storage, c.storage);
        EXPECT_EQ(Log(), Messages(c.messages)) << LogText();
    }
}

TEST(StoreDataTest, OnlyTheLowByteOfModeSelectsSingle) {
    std::vector<uint8_t> storage = Units({0x1111, 0x2222});
    IoRequest request = Request(QOR_GATE_ANALOG16_0, 16, 2, storage.data());
    EXPECT_EQ(StoreFromExactText(&request, "ABCD", 0x100 | kSingleRead), 0);
    EXPECT_EQ(storage, Units({0x1111, 0xABCD}));
    EXPECT_EQ(StoreFromExactText(&request, "00010002", 0x500 | kBlockRead), 0);
    EXPECT_EQ(storage, Units({1, 2}));
}

struct Encoded {
    std::string text;
    int32_t length;
};

Encoded Encode(const IoRequest &request, int32_t mode, uint32_t capacity = 64) {
    std::vector<char> out(capacity + 8, '~');
    const int32_t length = qor::EncodeWriteData(&request, out.data(), capacity, mode);
    // Nothing beyond the capacity is touched.
    EXPECT_EQ(std::string(out.data() + capacity, 8), std::string(8, '~'));
    if (capacity > 0) {
        EXPECT_EQ(out[static_cast<size_t>(length)], '\0');
        return {std::string(out.data()), length};
    }
    return {std::string(out.data(), capacity), length};
}

TEST(EncodeWriteDataTest, SingleAndBlockValues) {
    struct Case {
        const char *name;
        int32_t gateType, width, count, mode;
        std::vector<uint8_t> storage;
        std::string text;
        std::vector<std::string> messages;
    };
    const std::vector<Case> cases = {
        {"digital 0", QOR_GATE_DIGITAL, 16, 1, kSingleWrite, Units({0xFFFF, 0}), "00", {}},
        {"digital 1", QOR_GATE_DIGITAL, 1, 1, kSingleWrite, Units({0, 1}), "80", {}},
        {"digital any nonzero",
         QOR_GATE_DIGITAL,
         16,
         1,
         kSingleWrite,
         Units({0, 0x1234}),
         "80",
         {}},
        {"word", QOR_GATE_ANALOG16_0, 16, 1, kSingleWrite, Units({0xFFFF, 0x12AB}), "12AB", {}},
        {"word ignores count",
         QOR_GATE_ANALOG16_0,
         16,
         3,
         kSingleWrite,
         Units({9, 0x0042, 7, 7}),
         "0042",
         {}},
        {"single by low byte of mode",
         QOR_GATE_ANALOG16_0,
         16,
         2,
         0x300 | kSingleWrite,
         Units({9, 0x0042}),
         "0042",
         {}},
        {"double word, not logged",
         QOR_GATE_ANALOG32_4,
         32,
         1,
         kSingleWrite,
         Cells({0x3C4D1A2B}),
         "1A2B3C4D",
         {}},
        {"10 bits", QOR_GATE_DIGITAL, 1, 10, kBlockWrite, {0x01, 0x03}, "80C0", {}},
        {"bits beyond count sent as held",
         QOR_GATE_DIGITAL,
         1,
         10,
         kBlockWrite,
         {0x01, 0xFF},
         "80FF",
         {}},
        {"3 words",
         QOR_GATE_ANALOG16_0,
         16,
         3,
         kBlockWrite,
         Units({1, 2, 0xFFFF}),
         "00010002FFFF",
         {}},
        {"2 double words, logged as held",
         QOR_GATE_ANALOG32_4,
         32,
         2,
         kBlockWrite,
         Cells({0x3C4D1A2B, 1}),
         "1A2B3C4D00010000",
         {"QORHT> BuildWriteRequest() write value 3C4D1A2B",
          "QORHT> BuildWriteRequest() write value 00000001"}},
        {"no words", QOR_GATE_ANALOG16_0, 16, 0, kBlockWrite, Units({1}), "", {}},
        {"negative count", QOR_GATE_ANALOG32_4, 32, -2, kBlockWrite, Cells({1}), "", {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ClearLog();
        std::vector<uint8_t> storage = c.storage;
        const IoRequest request = Request(c.gateType, c.width, c.count, storage.data());
        const Encoded encoded = Encode(request, c.mode);
        EXPECT_EQ(encoded.text, c.text);
        EXPECT_EQ(encoded.length, static_cast<int32_t>(c.text.size()));
        EXPECT_EQ(storage, c.storage); // only read
        EXPECT_EQ(Log(), Messages(c.messages)) << LogText();
    }
}

TEST(EncodeWriteDataTest, StopsAtWholeElementsWithinCapacity) {
    std::vector<uint8_t> words = Units({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    const IoRequest wordBlock = Request(QOR_GATE_ANALOG16_0, 16, 10, words.data());
    std::vector<uint8_t> cells = Cells({1, 2, 3});
    const IoRequest cellBlock = Request(QOR_GATE_ANALOG32_4, 32, 3, cells.data());
    struct Case {
        const IoRequest *request;
        int32_t mode;
        uint32_t capacity;
        std::string text;
    };
    const std::vector<Case> cases = {
        {&wordBlock, kBlockWrite, 9, "00010002"},
        {&wordBlock, kBlockWrite, 8, "0001"},
        {&wordBlock, kBlockWrite, 4, ""},
        {&wordBlock, kBlockWrite, 1, ""},
        {&wordBlock, kBlockWrite, 0, ""},
        {&wordBlock, kSingleWrite, 4, ""},
        {&cellBlock, kBlockWrite, 17, "0001000000020000"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.capacity);
        ClearLog();
        const Encoded encoded = Encode(*c.request, c.mode, c.capacity);
        if (c.capacity > 0) {
            EXPECT_EQ(encoded.text, c.text);
        }
        EXPECT_EQ(encoded.length, static_cast<int32_t>(c.text.size()));
    }
    // Only the values that went into the text are reported.
    EXPECT_EQ(Log(), Messages({"QORHT> BuildWriteRequest() write value 00000001",
                               "QORHT> BuildWriteRequest() write value 00000002"}));
}

TEST(ValueRoundTripTest, ReadThenWriteReproducesTheText) {
    struct Case {
        const char *name;
        int32_t gateType, width, count;
        bool single;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"single digital on", QOR_GATE_DIGITAL, 16, 1, true, "80"},
        {"single digital off", QOR_GATE_DIGITAL, 1, 1, true, "00"},
        {"single word", QOR_GATE_ANALOG16_0, 16, 1, true, "12AB"},
        {"single word all ones", QOR_GATE_ANALOG16_1, 16, 1, true, "FFFF"},
        {"single double word", QOR_GATE_ANALOG32_4, 32, 1, true, "1A2B3C4D"},
        {"single double word high", QOR_GATE_ANALOG32_5, 32, 1, true, "0000FFFF"},
        {"10 bits", QOR_GATE_DIGITAL, 1, 10, false, "80C0"},
        {"16 bits", QOR_GATE_DIGITAL, 1, 16, false, "A55A"},
        {"3 bits", QOR_GATE_DIGITAL, 1, 3, false, "E1"},
        {"4 words", QOR_GATE_ANALOG16_0, 16, 4, false, "000100020003FFFF"},
        {"2 double words", QOR_GATE_ANALOG32_4, 32, 2, false, "1A2B3C4D00010000"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> storage(32, 0);
        IoRequest request = Request(c.gateType, c.width, c.count, storage.data());
        ASSERT_EQ(StoreFromExactText(&request, c.text, c.single ? kSingleRead : kBlockRead), 0);
        EXPECT_EQ(Encode(request, c.single ? kSingleWrite : kBlockWrite).text, c.text);
    }
}

} // namespace
