// The controller's memory: six word areas (X, Y, R, L, M and TC) and four
// bit areas of their own (R, T, DF and DN). The bit views 00, 01, 03 and 04
// are not areas of their own: they address the bits of the X, Y, L and M
// words (bit address = word * 16 + bit, bit 0 the least significant), so a
// bit written through one view shows in the other, as in the real machine.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace htsim {

constexpr uint32_t kWordsPerArea = 0x10000;
constexpr uint32_t kBitsPerArea = 0x100000;

// Memory codes as the request telegrams carry them.
enum MemoryCode : uint8_t {
    kBitsOfX = 0x00,
    kBitsOfY = 0x01,
    kBitsR = 0x02,
    kBitsOfL = 0x03,
    kBitsOfM = 0x04,
    kBitsT = 0x05,
    kWordsX = 0x08,
    kWordsY = 0x09,
    kWordsR = 0x0A,
    kWordsL = 0x0B,
    kWordsM = 0x0C,
    kWordsTC = 0x0D,
    kBitsDF = 0x0E,
    kBitsDN = 0x0F,
};

enum class Access { Ok, UnknownMemory, OutOfRange, BadData };

// True for the codes this controller has.
bool IsKnownMemory(uint8_t code);
// True for the codes whose elements are single bits.
bool IsBitMemory(uint8_t code);
// Characters of data on the line for `count` elements of `code`: two hex
// digits per started group of eight bits, four per word.
size_t DataLength(uint8_t code, uint32_t count);

class Memory {
public:
    Memory();

    // The data section for `count` elements from `address`: bits packed
    // into bytes with the first element in the most significant bit, words
    // as four upper-case hex digits each.
    Access Read(uint8_t code, uint32_t address, uint32_t count, std::string &text) const;
    // Stores a data section of exactly DataLength(code, count) hex digits.
    // Bits of the last byte beyond `count` are not stored. Nothing is
    // stored unless the whole access is valid.
    Access Write(uint8_t code, uint32_t address, uint32_t count, std::string_view text);

    // Direct element access, `code` as in the telegrams; false when the
    // code or the address lies outside the model.
    bool GetWord(uint8_t code, uint32_t address, uint16_t &value) const;
    bool SetWord(uint8_t code, uint32_t address, uint16_t value);
    bool GetBit(uint8_t code, uint32_t address, bool &value) const;
    bool SetBit(uint8_t code, uint32_t address, bool value);

    // One line of an image file: "WR 0010 1234" (word area, hex word
    // address, hex value) or "BR 00010 1" (bit view, hex bit address, 0 or
    // 1); blank lines and lines starting with '#' change nothing. False when
    // the line is none of these.
    bool ApplyImageLine(std::string_view line);
    // Image lines for every nonzero word and own-area bit.
    std::string ImageLines() const;

private:
    std::vector<uint16_t> words_[6];
    std::vector<uint8_t> bits_[4]; // packed, bit n in byte n / 8, mask 1 << n % 8

    std::vector<uint16_t> *WordArea(uint8_t code);
    const std::vector<uint16_t> *WordArea(uint8_t code) const;
    std::vector<uint8_t> *BitArea(uint8_t code);
    const std::vector<uint8_t> *BitArea(uint8_t code) const;
    uint32_t Elements(uint8_t code) const;
};

} // namespace htsim
