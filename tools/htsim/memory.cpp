#include "memory.h"

#include "hex.h"

#include <sstream>

namespace htsim {
namespace {

struct AreaName {
    const char *name;
    uint8_t code;
};

// Names used in image files; the bit views of word areas (BX, BY, BL, BM)
// are accepted when loading but never written, their words carry them.
constexpr AreaName kAreaNames[] = {
    {"WX", kWordsX},  {"WY", kWordsY},  {"WR", kWordsR},  {"WL", kWordsL},  {"WM", kWordsM},
    {"TC", kWordsTC}, {"BR", kBitsR},   {"BT", kBitsT},   {"DF", kBitsDF},  {"DN", kBitsDN},
    {"BX", kBitsOfX}, {"BY", kBitsOfY}, {"BL", kBitsOfL}, {"BM", kBitsOfM},
};

// The word area behind a bit view of words (00, 01, 03, 04), or 0.
uint8_t WordsBehindBitView(uint8_t code) {
    switch (code) {
    case kBitsOfX:
        return kWordsX;
    case kBitsOfY:
        return kWordsY;
    case kBitsOfL:
        return kWordsL;
    case kBitsOfM:
        return kWordsM;
    default:
        return 0;
    }
}

int OwnBitIndex(uint8_t code) {
    switch (code) {
    case kBitsR:
        return 0;
    case kBitsT:
        return 1;
    case kBitsDF:
        return 2;
    case kBitsDN:
        return 3;
    default:
        return -1;
    }
}

bool IsWordCode(uint8_t code) {
    return code >= kWordsX && code <= kWordsTC;
}

} // namespace

bool IsKnownMemory(uint8_t code) {
    return IsWordCode(code) || WordsBehindBitView(code) != 0 || OwnBitIndex(code) >= 0;
}

bool IsBitMemory(uint8_t code) {
    return WordsBehindBitView(code) != 0 || OwnBitIndex(code) >= 0;
}

size_t DataLength(uint8_t code, uint32_t count) {
    if (IsBitMemory(code)) {
        return 2 * ((static_cast<size_t>(count) + 7) / 8);
    }
    return 4 * static_cast<size_t>(count);
}

Memory::Memory() {
    for (auto &area : words_) {
        area.assign(kWordsPerArea, 0);
    }
    for (auto &area : bits_) {
        area.assign(kBitsPerArea / 8, 0);
    }
}

std::vector<uint16_t> *Memory::WordArea(uint8_t code) {
    return IsWordCode(code) ? &words_[code - kWordsX] : nullptr;
}

const std::vector<uint16_t> *Memory::WordArea(uint8_t code) const {
    return IsWordCode(code) ? &words_[code - kWordsX] : nullptr;
}

std::vector<uint8_t> *Memory::BitArea(uint8_t code) {
    int index = OwnBitIndex(code);
    return index >= 0 ? &bits_[index] : nullptr;
}

const std::vector<uint8_t> *Memory::BitArea(uint8_t code) const {
    int index = OwnBitIndex(code);
    return index >= 0 ? &bits_[index] : nullptr;
}

uint32_t Memory::Elements(uint8_t code) const {
    if (IsWordCode(code)) {
        return kWordsPerArea;
    }
    if (WordsBehindBitView(code) != 0) {
        return kWordsPerArea * 16;
    }
    return OwnBitIndex(code) >= 0 ? kBitsPerArea : 0;
}

bool Memory::GetWord(uint8_t code, uint32_t address, uint16_t &value) const {
    const std::vector<uint16_t> *area = WordArea(code);
    if (area == nullptr || address >= area->size()) {
        return false;
    }
    value = (*area)[address];
    return true;
}

bool Memory::SetWord(uint8_t code, uint32_t address, uint16_t value) {
    std::vector<uint16_t> *area = WordArea(code);
    if (area == nullptr || address >= area->size()) {
        return false;
    }
    (*area)[address] = value;
    return true;
}

bool Memory::GetBit(uint8_t code, uint32_t address, bool &value) const {
    if (uint8_t words = WordsBehindBitView(code)) {
        uint16_t word;
        if (!GetWord(words, address / 16, word)) {
            return false;
        }
        value = (word >> (address % 16) & 1) != 0;
        return true;
    }
    const std::vector<uint8_t> *area = BitArea(code);
    if (area == nullptr || address >= kBitsPerArea) {
        return false;
    }
    value = ((*area)[address / 8] >> (address % 8) & 1) != 0;
    return true;
}

bool Memory::SetBit(uint8_t code, uint32_t address, bool value) {
    if (uint8_t words = WordsBehindBitView(code)) {
        uint16_t word;
        if (!GetWord(words, address / 16, word)) {
            return false;
        }
        const uint16_t mask = static_cast<uint16_t>(1u << (address % 16));
        return SetWord(words, address / 16,
                       static_cast<uint16_t>(value ? word | mask : word & ~mask));
    }
    std::vector<uint8_t> *area = BitArea(code);
    if (area == nullptr || address >= kBitsPerArea) {
        return false;
    }
    const uint8_t mask = static_cast<uint8_t>(1u << (address % 8));
    uint8_t &byte = (*area)[address / 8];
    byte = static_cast<uint8_t>(value ? byte | mask : byte & ~mask);
    return true;
}

Access Memory::Read(uint8_t code, uint32_t address, uint32_t count, std::string &text) const {
    if (!IsKnownMemory(code)) {
        return Access::UnknownMemory;
    }
    const uint32_t size = Elements(code);
    if (address > size || count > size - address) {
        return Access::OutOfRange;
    }
    text.clear();
    if (IsBitMemory(code)) {
        for (uint32_t first = 0; first < count; first += 8) {
            uint32_t byte = 0;
            for (uint32_t i = first; i < first + 8 && i < count; ++i) {
                bool bit = false;
                GetBit(code, address + i, bit);
                byte |= (bit ? 0x80u : 0u) >> (i - first);
            }
            AppendHex(text, byte, 2);
        }
    } else {
        for (uint32_t i = 0; i < count; ++i) {
            uint16_t word = 0;
            GetWord(code, address + i, word);
            AppendHex(text, word, 4);
        }
    }
    return Access::Ok;
}

Access Memory::Write(uint8_t code, uint32_t address, uint32_t count, std::string_view text) {
    if (!IsKnownMemory(code)) {
        return Access::UnknownMemory;
    }
    const uint32_t size = Elements(code);
    if (address > size || count > size - address) {
        return Access::OutOfRange;
    }
    if (text.size() != DataLength(code, count)) {
        return Access::BadData;
    }
    const size_t step = IsBitMemory(code) ? 2 : 4;
    std::vector<uint32_t> values;
    for (size_t at = 0; at < text.size(); at += step) {
        uint32_t value;
        if (!ParseHex(text.substr(at, step), value)) {
            return Access::BadData;
        }
        values.push_back(value);
    }
    if (IsBitMemory(code)) {
        for (uint32_t i = 0; i < count; ++i) {
            SetBit(code, address + i, (values[i / 8] & (0x80u >> (i % 8))) != 0);
        }
    } else {
        for (uint32_t i = 0; i < count; ++i) {
            SetWord(code, address + i, static_cast<uint16_t>(values[i]));
        }
    }
    return Access::Ok;
}

bool Memory::ApplyImageLine(std::string_view text) {
    std::string line(text);
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    std::istringstream fields(line);
    std::string name, address, value, rest;
    if (!(fields >> name) || name[0] == '#') {
        return true;
    }
    const AreaName *area = nullptr;
    for (const AreaName &candidate : kAreaNames) {
        if (name == candidate.name) {
            area = &candidate;
        }
    }
    uint32_t where = 0, what = 0;
    if (area == nullptr || !(fields >> address >> value) || (fields >> rest) ||
        !ParseHex(address, where) || !ParseHex(value, what)) {
        return false;
    }
    if (IsBitMemory(area->code)) {
        return what <= 1 && SetBit(area->code, where, what == 1);
    }
    return what <= 0xFFFF && SetWord(area->code, where, static_cast<uint16_t>(what));
}

std::string Memory::ImageLines() const {
    std::string out;
    for (const AreaName &area : kAreaNames) {
        if (IsWordCode(area.code)) {
            const std::vector<uint16_t> &words = *WordArea(area.code);
            for (uint32_t i = 0; i < words.size(); ++i) {
                if (words[i] != 0) {
                    out += std::string(area.name) + " " + Hex(i, 4) + " " + Hex(words[i], 4) + "\n";
                }
            }
        } else if (const std::vector<uint8_t> *bits = BitArea(area.code)) {
            for (uint32_t i = 0; i < kBitsPerArea; ++i) {
                if (((*bits)[i / 8] >> (i % 8) & 1) != 0) {
                    out += std::string(area.name) + " " + Hex(i, 5) + " 1\n";
                }
            }
        }
    }
    return out;
}

} // namespace htsim
