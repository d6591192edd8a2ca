// The host value storage htpoll hands the driver, the element names it shows,
// and the stations it reads out of an INT file for the simulator.
#include "int_stations.h"
#include "storage.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using htpoll::Kind;

namespace {

uint16_t UnitAt(const std::vector<uint8_t> &storage, size_t offset) {
    uint16_t value = 0;
    std::memcpy(&value, storage.data() + offset, sizeof value);
    return value;
}

uint32_t CellAt(const std::vector<uint8_t> &storage, size_t offset) {
    uint32_t value = 0;
    std::memcpy(&value, storage.data() + offset, sizeof value);
    return value;
}

TEST(HtpollStorage, KindFollowsTypeForSingleGatesAndWidthForBlocks) {
    struct Case {
        bool block;
        int32_t gateType;
        int32_t width;
        Kind kind;
    };
    const Case cases[] = {
        {false, 6, 16, Kind::Bit},  {false, 6, 1, Kind::Bit},    {false, 0, 16, Kind::Word},
        {false, 2, 16, Kind::Word}, {false, 4, 32, Kind::Dword}, {false, 5, 32, Kind::Dword},
        {true, 0, 1, Kind::Bit},    {true, 6, 16, Kind::Word},   {true, 6, 32, Kind::Dword},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(htpoll::KindOfRequest(c.block, c.gateType, c.width), c.kind)
            << c.block << " " << c.gateType << " " << c.width;
    }
}

TEST(HtpollStorage, SizesOfEachLayout) {
    EXPECT_EQ(htpoll::StorageSize(false, Kind::Bit, 1), 4u);
    EXPECT_EQ(htpoll::StorageSize(false, Kind::Word, 1), 4u);
    EXPECT_EQ(htpoll::StorageSize(false, Kind::Dword, 1), 4u);
    EXPECT_EQ(htpoll::StorageSize(true, Kind::Bit, 8), 1u);
    EXPECT_EQ(htpoll::StorageSize(true, Kind::Bit, 10), 2u);
    EXPECT_EQ(htpoll::StorageSize(true, Kind::Bit, 16), 2u);
    EXPECT_EQ(htpoll::StorageSize(true, Kind::Bit, 17), 3u);
    EXPECT_EQ(htpoll::StorageSize(true, Kind::Word, 10), 20u);
    EXPECT_EQ(htpoll::StorageSize(true, Kind::Dword, 3), 12u);
}

// A single bit or word lives in the second 16-bit unit of the cell and the
// first one is never touched; a double word fills the cell.
TEST(HtpollStorage, SingleGateUsesTheSecondUnitOrTheWholeCell) {
    std::vector<uint8_t> storage(4, 0xAB);
    htpoll::StoreValues(false, Kind::Word, {0x1234}, storage);
    EXPECT_EQ(UnitAt(storage, 2), 0x1234);
    EXPECT_EQ(storage[0], 0xAB);
    EXPECT_EQ(storage[1], 0xAB);
    EXPECT_EQ(htpoll::LoadValues(false, Kind::Word, 1, storage), std::vector<uint32_t>{0x1234});

    std::vector<uint8_t> negative(4, 0);
    htpoll::StoreValues(false, Kind::Word, {-2}, negative);
    EXPECT_EQ(UnitAt(negative, 2), 0xFFFE);

    std::vector<uint8_t> bit(4, 0xAB);
    htpoll::StoreValues(false, Kind::Bit, {1}, bit);
    EXPECT_EQ(UnitAt(bit, 2), 1);
    EXPECT_EQ(UnitAt(bit, 0), 0xABAB);

    std::vector<uint8_t> dword(4, 0);
    htpoll::StoreValues(false, Kind::Dword, {0x3C4D1A2B}, dword);
    EXPECT_EQ(CellAt(dword, 0), 0x3C4D1A2Bu);
    EXPECT_EQ(htpoll::LoadValues(false, Kind::Dword, 1, dword), std::vector<uint32_t>{0x3C4D1A2B});
    htpoll::StoreValues(false, Kind::Dword, {-1}, dword);
    EXPECT_EQ(CellAt(dword, 0), 0xFFFFFFFFu);
}

TEST(HtpollStorage, BlocksArePackedBitsUnitsAndCells) {
    // Elements 0, 8 and 9 of ten bits: bytes 0x01 and 0x03.
    std::vector<uint8_t> bits(2, 0);
    htpoll::StoreValues(true, Kind::Bit, {1, 0, 0, 0, 0, 0, 0, 0, 1, 1}, bits);
    EXPECT_EQ(bits, (std::vector<uint8_t>{0x01, 0x03}));
    EXPECT_EQ(htpoll::LoadValues(true, Kind::Bit, 10, bits),
              (std::vector<uint32_t>{1, 0, 0, 0, 0, 0, 0, 0, 1, 1}));

    std::vector<uint8_t> words(6, 0);
    htpoll::StoreValues(true, Kind::Word, {1, 2, 0xFFFF}, words);
    EXPECT_EQ(UnitAt(words, 0), 1);
    EXPECT_EQ(UnitAt(words, 2), 2);
    EXPECT_EQ(UnitAt(words, 4), 0xFFFF);
    EXPECT_EQ(htpoll::LoadValues(true, Kind::Word, 3, words),
              (std::vector<uint32_t>{1, 2, 0xFFFF}));

    std::vector<uint8_t> cells(8, 0);
    htpoll::StoreValues(true, Kind::Dword, {0x3C4D1A2B, 1}, cells);
    EXPECT_EQ(CellAt(cells, 0), 0x3C4D1A2Bu);
    EXPECT_EQ(CellAt(cells, 4), 1u);
    EXPECT_EQ(htpoll::LoadValues(true, Kind::Dword, 2, cells),
              (std::vector<uint32_t>{0x3C4D1A2B, 1}));
}

TEST(HtpollStorage, ElementNamesCountInTheGatesOwnNumbering) {
    const std::vector<std::pair<std::pair<std::string, int>, std::string>> cases = {
        {{"awr00010", 0}, "AWR00010"},   {{"AWR00010", 2}, "AWR00012"},
        {{"AWR0000F", 1}, "AWR00010"},   {{"ALR00020", 1}, "ALR00022"},
        {{"ABR0001F", 1}, "ABR00020"},   {{"ATC00099", 1}, "ATC00100"},
        {{"ABT00009", 3}, "ABT00012"},   {{"ADF00105", 1}, "ADF00106"},
        {{"ADN000FF", 0}, "ADN000FF"},   {{"ADF00199", 1}, "ADF00199+1"},
        {{"AWX0012G", 1}, "AWX0012G+1"}, {{"AWRFFFFF", 1}, "AWRFFFFF+1"},
        {{"ATC99999", 1}, "ATC99999+1"}, {{"AWR0010", 1}, "AWR0010+1"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(htpoll::ElementName(c.first.first, c.first.second), c.second)
            << c.first.first << " " << c.first.second;
    }
}

TEST(HtpollStorage, HexIsAsWideAsTheKind) {
    EXPECT_EQ(htpoll::HexText(Kind::Bit, 1), "0x1");
    EXPECT_EQ(htpoll::HexText(Kind::Word, 0x4D2), "0x04D2");
    EXPECT_EQ(htpoll::HexText(Kind::Dword, 0x12345678), "0x12345678");
}

std::vector<htpoll::SimStation> StationsOf(const std::string &text) {
    std::FILE *file = tmpfile();
    if (file == nullptr) {
        ADD_FAILURE() << "tmpfile";
        return {};
    }
    std::fwrite(text.data(), 1, text.size(), file);
    std::rewind(file);
    std::vector<htpoll::SimStation> stations = htpoll::ReadIntStations(file);
    std::fclose(file);
    return stations;
}

std::vector<std::string> Arguments(const std::vector<htpoll::SimStation> &stations) {
    std::vector<std::string> arguments;
    for (const htpoll::SimStation &station : stations) {
        arguments.push_back(htpoll::SimStationArgument(station));
    }
    return arguments;
}

TEST(HtpollIntStations, StationLinesBecomeSimulatorStations) {
    using Args = std::vector<std::string>;
    const std::vector<std::pair<std::string, Args>> cases = {
        {"* stations of loop 1\nOCCUPATION = NO\nIFG = 20\nA : 01 02\nb:01 03 04\n\n"
         "*: 01 05\nC = 01 05\n",
         {"01:02", "01:03:04"}},
        {"A : 01 02\r\nB : 01 03 05\r\n", {"01:02", "01:03:05"}},
        // A later three-value line keeps the office of an earlier line.
        {"A : 01 02 ab\nA : 01 03\n", {"01:03:AB"}},
        // Two characters for one controller: one simulated station.
        {"A : 01 02\nB : 01 02\n", {"01:02"}},
        // Loop FF and no office: the driver treats the station as undefined.
        {"A : FF 01\n", {}},
        {"A : FF 01 07\n", {"FF:01:07"}},
        {"  A : 01 02\n", {}},
        {"A : 123 45\n", {"12:03:45"}},
        {"A : 01 02\n\x1A"
         "B : 01 03\n",
         {"01:02"}},
        {"OCCUPATION = YES\nIFG=5\n", {}},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(Arguments(StationsOf(c.first)), c.second) << c.first;
    }
}

TEST(HtpollIntStations, NamesAreTriedAsTheDriverTriesThem) {
    EXPECT_EQ(htpoll::IntFileNames(3),
              (std::vector<std::string>{"QORHT03.INT", "QORHT3.INT", "QORHT.INT"}));
    EXPECT_EQ(htpoll::IntFileNames(12),
              (std::vector<std::string>{"QORHT12.INT", "QORHT12.INT", "QORHT.INT"}));
    EXPECT_EQ(htpoll::IntFileNames(0),
              (std::vector<std::string>{"QORHT00.INT", "QORHT0.INT", "QORHT.INT"}));
}

} // namespace
