// The simulator's memory model: the bit views of the word areas, the data
// sections on the line, the limits and the image files.
#include "hex.h"
#include "image.h"
#include "memory.h"

#include <gtest/gtest.h>

namespace htsim {
namespace {

struct BitView {
    uint8_t bits;
    uint8_t words;
};

class BitViewTest : public ::testing::TestWithParam<BitView> {};

TEST_P(BitViewTest, BitsOfTheViewAreTheBitsOfTheWords) {
    const BitView view = GetParam();
    Memory memory;
    // Bit 5 of word 0x10 written through the bit view is bit 5 of the word.
    ASSERT_EQ(memory.Write(view.bits, 0x105, 1, "80"), Access::Ok);
    uint16_t word = 0;
    ASSERT_TRUE(memory.GetWord(view.words, 0x10, word));
    EXPECT_EQ(word, 0x0020);
    // And a word written as a word shows through the view, bit 0 being the
    // least significant bit.
    ASSERT_EQ(memory.Write(view.words, 0x11, 1, "8001"), Access::Ok);
    std::string text;
    ASSERT_EQ(memory.Read(view.bits, 0x110, 16, text), Access::Ok);
    EXPECT_EQ(text, "8001"); // elements 0 and 15, first element in the top bit
    bool bit = false;
    ASSERT_TRUE(memory.GetBit(view.bits, 0x11F, bit));
    EXPECT_TRUE(bit);
    ASSERT_TRUE(memory.GetBit(view.bits, 0x11E, bit));
    EXPECT_FALSE(bit);
}

INSTANTIATE_TEST_SUITE_P(XYLM, BitViewTest,
                         ::testing::Values(BitView{kBitsOfX, kWordsX}, BitView{kBitsOfY, kWordsY},
                                           BitView{kBitsOfL, kWordsL}, BitView{kBitsOfM, kWordsM}));

TEST(MemoryTest, OwnBitAreasAreSeparateFromEveryWordArea) {
    Memory memory;
    for (uint8_t code : {kBitsR, kBitsT, kBitsDF, kBitsDN}) {
        ASSERT_EQ(memory.Write(code, 0x20, 1, "80"), Access::Ok) << int(code);
    }
    for (uint8_t words = kWordsX; words <= kWordsTC; ++words) {
        for (uint32_t address : {0x0u, 0x1u, 0x2u, 0x20u}) {
            uint16_t value = 1;
            ASSERT_TRUE(memory.GetWord(words, address, value));
            EXPECT_EQ(value, 0) << int(words) << " " << address;
        }
    }
    bool bit = false;
    ASSERT_TRUE(memory.GetBit(kBitsDN, 0x20, bit));
    EXPECT_TRUE(bit);
    ASSERT_TRUE(memory.GetBit(kBitsDN, 0x21, bit));
    EXPECT_FALSE(bit);
}

TEST(MemoryTest, BitBlockIsPackedFirstElementInTheTopBitAndKeepsBitsBeyondCount) {
    Memory memory;
    ASSERT_TRUE(memory.SetBit(kBitsR, 110, true)); // just past the 10 elements
    // 10 elements from 100: 1010 0101 11 -> A5 C0 on the line; the six
    // padding bits of the second byte are not stored even when set.
    ASSERT_EQ(memory.Write(kBitsR, 100, 10, "A5FF"), Access::Ok);
    const bool expected[] = {1, 0, 1, 0, 0, 1, 0, 1, 1, 1};
    for (uint32_t i = 0; i < 10; ++i) {
        bool bit = false;
        ASSERT_TRUE(memory.GetBit(kBitsR, 100 + i, bit));
        EXPECT_EQ(bit, expected[i]) << i;
    }
    bool untouched = false;
    ASSERT_TRUE(memory.GetBit(kBitsR, 110, untouched));
    EXPECT_TRUE(untouched);
    std::string text;
    ASSERT_EQ(memory.Read(kBitsR, 100, 10, text), Access::Ok);
    EXPECT_EQ(text, "A5C0");
    ASSERT_EQ(memory.Read(kBitsR, 100, 0, text), Access::Ok);
    EXPECT_EQ(text, "");
}

TEST(MemoryTest, WordsTravelAsFourUpperCaseDigitsEach) {
    Memory memory;
    ASSERT_EQ(memory.Write(kWordsTC, 0x30, 3, "00ffABCD1234"), Access::Ok);
    std::string text;
    ASSERT_EQ(memory.Read(kWordsTC, 0x30, 3, text), Access::Ok);
    EXPECT_EQ(text, "00FFABCD1234");
}

TEST(MemoryTest, AccessesOutsideTheModelAreRefusedAndStoreNothing) {
    struct Case {
        uint8_t code;
        uint32_t address;
        uint32_t count;
        const char *data;
        Access expected;
    };
    const Case cases[] = {
        {kWordsR, kWordsPerArea - 1, 2, "11112222", Access::OutOfRange},
        {kWordsR, kWordsPerArea, 1, "1111", Access::OutOfRange},
        {kBitsOfX, kWordsPerArea * 16 - 1, 2, "C0", Access::OutOfRange},
        {kBitsDF, kBitsPerArea, 1, "80", Access::OutOfRange},
        {0x06, 0, 1, "80", Access::UnknownMemory},
        {0x07, 0, 1, "1111", Access::UnknownMemory},
        {0x10, 0, 1, "1111", Access::UnknownMemory},
        {kWordsR, 0, 2, "111122", Access::BadData},
        {kWordsR, 0, 2, "1111222G", Access::BadData},
    };
    for (const Case &c : cases) {
        Memory memory;
        EXPECT_EQ(memory.Write(c.code, c.address, c.count, c.data), c.expected)
            << Hex(c.code, 2) << " " << Hex(c.address, 6) << " count " << c.count;
        EXPECT_EQ(memory.ImageLines(), "");
        if (c.expected != Access::BadData) {
            std::string text;
            EXPECT_EQ(memory.Read(c.code, c.address, c.count, text), c.expected);
        }
    }
    // The last element of an area is still inside.
    Memory memory;
    EXPECT_EQ(memory.Write(kWordsR, kWordsPerArea - 1, 1, "BEEF"), Access::Ok);
    EXPECT_EQ(memory.Write(kBitsDN, kBitsPerArea - 1, 1, "80"), Access::Ok);
}

const std::vector<StationAddress> kStations = {{0x01, 0x02, -1}, {0x01, 0x03, 0x05}};

TEST(ImageTest, RoundTripPerStationAndBitViewsLoadIntoWords) {
    std::vector<Memory> memories(2);
    std::string error;
    ASSERT_TRUE(LoadImageText("# comment\n\nWR 0010 1234\r\nTC 00FF abcd\nBR 00010 1\n"
                              "station 01:03:05\nBX 00105 1\nDN FFFFF 1\nstation 01:02\n"
                              "WM 0001 0002\n",
                              kStations, memories, error))
        << error;
    uint16_t word = 0;
    ASSERT_TRUE(memories[1].GetWord(kWordsX, 0x10, word));
    EXPECT_EQ(word, 0x20);
    ASSERT_TRUE(memories[0].GetWord(kWordsX, 0x10, word));
    EXPECT_EQ(word, 0);
    ASSERT_TRUE(memories[0].GetWord(kWordsM, 0x01, word));
    EXPECT_EQ(word, 2);
    const std::string text = ImageText(kStations, memories);
    EXPECT_EQ(text, "# htsim memory image: area, hex address, hex value\n"
                    "station 01:02\nWR 0010 1234\nWM 0001 0002\nTC 00FF ABCD\nBR 00010 1\n"
                    "station 01:03:05\nWX 0010 0020\nDN FFFFF 1\n");
    std::vector<Memory> copy(2);
    ASSERT_TRUE(LoadImageText(text, kStations, copy, error)) << error;
    EXPECT_EQ(ImageText(kStations, copy), text);
}

TEST(ImageTest, MalformedLinesAreNamed) {
    for (const char *line : {"WQ 0010 1234", "WR 0010", "WR 0010 12345", "WR 10000 1", "BR 00010 2",
                             "WR 0010 1234 extra", "WR 00G0 1234", "station 01:04", "station 01:03",
                             "station", "station 1:2"}) {
        std::vector<Memory> memories(2);
        std::string error;
        EXPECT_FALSE(
            LoadImageText(std::string("WR 0001 0001\n") + line + "\n", kStations, memories, error))
            << line;
        EXPECT_NE(error.find("line 2"), std::string::npos) << error;
    }
}

} // namespace
} // namespace htsim
