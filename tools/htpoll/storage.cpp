#include "storage.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace htpoll {

size_t Groups(int32_t count) {
    if (count <= 0) {
        return 0;
    }
    return static_cast<size_t>(count) / 8 + (count % 8 != 0 ? 1 : 0);
}

Kind KindOfRequest(bool block, int32_t gateType, int32_t width) {
    if (block ? width == 1 : gateType == kGateTypeBit) {
        return Kind::Bit;
    }
    return width == 32 ? Kind::Dword : Kind::Word;
}

size_t StorageSize(bool block, Kind kind, int32_t count) {
    if (!block) {
        return 4;
    }
    size_t elements = count > 0 ? static_cast<size_t>(count) : 0;
    switch (kind) {
    case Kind::Bit:
        return Groups(count);
    case Kind::Dword:
        return 4 * elements;
    case Kind::Word:
        break;
    }
    return 2 * elements;
}

namespace {

void PutUnit(std::vector<uint8_t> &storage, size_t offset, uint16_t value) {
    std::memcpy(storage.data() + offset, &value, sizeof value);
}

void PutCell(std::vector<uint8_t> &storage, size_t offset, uint32_t value) {
    std::memcpy(storage.data() + offset, &value, sizeof value);
}

uint16_t GetUnit(const std::vector<uint8_t> &storage, size_t offset) {
    uint16_t value = 0;
    std::memcpy(&value, storage.data() + offset, sizeof value);
    return value;
}

uint32_t GetCell(const std::vector<uint8_t> &storage, size_t offset) {
    uint32_t value = 0;
    std::memcpy(&value, storage.data() + offset, sizeof value);
    return value;
}

} // namespace

void StoreValues(bool block, Kind kind, const std::vector<int64_t> &values,
                 std::vector<uint8_t> &storage) {
    if (!block) {
        if (values.empty()) {
            return;
        }
        if (kind == Kind::Dword) {
            PutCell(storage, 0, static_cast<uint32_t>(values[0]));
        } else {
            PutUnit(storage, 2, static_cast<uint16_t>(values[0]));
        }
        return;
    }
    for (size_t i = 0; i < values.size(); ++i) {
        switch (kind) {
        case Kind::Bit: {
            uint8_t mask = static_cast<uint8_t>(1u << (i % 8));
            uint8_t &byte = storage[i / 8];
            byte = values[i] != 0 ? static_cast<uint8_t>(byte | mask)
                                  : static_cast<uint8_t>(byte & ~mask);
            break;
        }
        case Kind::Dword:
            PutCell(storage, 4 * i, static_cast<uint32_t>(values[i]));
            break;
        case Kind::Word:
            PutUnit(storage, 2 * i, static_cast<uint16_t>(values[i]));
            break;
        }
    }
}

std::vector<uint32_t> LoadValues(bool block, Kind kind, int32_t count,
                                 const std::vector<uint8_t> &storage) {
    std::vector<uint32_t> values;
    if (!block) {
        values.push_back(kind == Kind::Dword ? GetCell(storage, 0) : GetUnit(storage, 2));
        return values;
    }
    for (size_t i = 0; count > 0 && i < static_cast<size_t>(count); ++i) {
        switch (kind) {
        case Kind::Bit:
            values.push_back((storage[i / 8] >> (i % 8)) & 1u);
            break;
        case Kind::Dword:
            values.push_back(GetCell(storage, 4 * i));
            break;
        case Kind::Word:
            values.push_back(GetUnit(storage, 2 * i));
            break;
        }
    }
    return values;
}

namespace {

bool AllDigits(const std::string &text, int base) {
    for (char c : text) {
        bool ok = base == 16 ? std::isxdigit(static_cast<unsigned char>(c)) != 0
                             : std::isdigit(static_cast<unsigned char>(c)) != 0;
        if (!ok) {
            return false;
        }
    }
    return !text.empty();
}

} // namespace

std::string ElementName(const std::string &gate, int32_t index) {
    std::string upper = gate;
    for (char &c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (index == 0) {
        return upper;
    }
    std::string fallback = upper + "+" + std::to_string(index);
    if (upper.size() != 8 || index < 0) {
        return fallback;
    }
    std::string type = upper.substr(1, 2);
    std::string digits = upper.substr(3);
    std::string head = upper.substr(0, 3);
    char text[16];
    if (type == "DF" || type == "DN") {
        // Three hex digits of the byte, two decimal digits of the bit in it.
        std::string hexPart = digits.substr(0, 3);
        std::string decPart = digits.substr(3);
        if (!AllDigits(hexPart, 16) || !AllDigits(decPart, 10)) {
            return fallback;
        }
        unsigned long address = std::stoul(hexPart, nullptr, 16) * 256 + std::stoul(decPart) +
                                static_cast<unsigned long>(index);
        unsigned long high = address / 256;
        unsigned long low = address % 256;
        if (low > 99 || high > 0xFFF) {
            return fallback;
        }
        std::snprintf(text, sizeof text, "%03lX%02lu", high, low);
        return head + text;
    }
    bool decimal = type == "BT" || type == "TC";
    bool hexadecimal = type == "BR" || type[0] == 'W' || type[0] == 'L';
    if (!decimal && !hexadecimal) {
        return fallback; // bit-in-word gates never form blocks
    }
    if (!AllDigits(digits, decimal ? 10 : 16)) {
        return fallback;
    }
    unsigned long step = type[0] == 'L' ? 2 : 1;
    unsigned long address =
        std::stoul(digits, nullptr, decimal ? 10 : 16) + step * static_cast<unsigned long>(index);
    if (address > (decimal ? 99999ul : 0xFFFFFul)) {
        return fallback;
    }
    std::snprintf(text, sizeof text, decimal ? "%05lu" : "%05lX", address);
    return head + text;
}

std::string HexText(Kind kind, uint32_t value) {
    char text[16];
    int width = kind == Kind::Bit ? 1 : kind == Kind::Word ? 4 : 8;
    std::snprintf(text, sizeof text, "0x%0*X", width, value);
    return text;
}

} // namespace htpoll
