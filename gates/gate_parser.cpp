// Gate address texts: parsing into a GateAddress and the single and block
// checks of the address parser commands.
#include "gates/gate_parser.h"

#include "config/fixed_width.h"
#include "platform/host_log.h"

namespace qor {

// The two "?" entries hold the places of codes 6 and 7 in the controller's
// numbering; being one character long they never equal a two-character type.
const char *const memoryTypeNames[kMemoryTypeCount + 1] = {
    "BX", "BY", "BR", "BL", "BM", "BT", "?",  "?",  "WX", "WY", "WR",
    "WL", "WM", "TC", "DF", "DN", "LX", "LY", "LR", "LL", "LM", ""};

namespace {

constexpr int kTextLength = 8;

// How the five address characters are read and what they give.
enum class Rule {
    BitOfWordHexDec, // "%03x%02u": word h, bit d (d >= 16 runs into later words)
    OneBitHex,       // "%05x": bit address v
    BitOfWordHex,    // "%05x": bit address v, its last digit the bit in the word
    OneBitDec,       // "%05u": v
    WordHex,         // "%05x": v
    WordDec,         // "%05u": v
    OneBitHexDec,    // "%03x%02u": h * 256 + d
    DoubleWordHex,   // "%05x": even word address v, stored halved
    Never,           // the "?" places
};

constexpr Rule kRules[kMemoryTypeCount] = {
    Rule::BitOfWordHexDec, Rule::BitOfWordHexDec, Rule::OneBitHex,     Rule::BitOfWordHex,
    Rule::BitOfWordHex,    Rule::OneBitDec,       Rule::Never,         Rule::Never,
    Rule::WordHex,         Rule::WordHex,         Rule::WordHex,       Rule::WordHex,
    Rule::WordHex,         Rule::WordDec,         Rule::OneBitHexDec,  Rule::OneBitHexDec,
    Rule::DoubleWordHex,   Rule::DoubleWordHex,   Rule::DoubleWordHex, Rule::DoubleWordHex,
    Rule::DoubleWordHex,
};

// Compares the two type characters with a table entry as a two-character
// string comparison does: an entry shorter than two characters would need the
// text to end with it.
bool TypeEquals(const char *type, const char *entry) {
    for (int i = 0; i < 2; ++i) {
        if (type[i] != entry[i]) {
            return false;
        }
        if (entry[i] == '\0') {
            return true;
        }
    }
    return true;
}

// Counts at most one character past the valid length, so a text of any size
// costs nine reads.
int BoundedLength(const char *text) {
    int length = 0;
    while (length <= kTextLength && text[length] != '\0') {
        ++length;
    }
    return length;
}

} // namespace

int32_t Parse(DriverRequest *request) {
    auto *params = request != nullptr ? static_cast<ParseRequest *>(request->params) : nullptr;
    if (params == nullptr || params->addressText == nullptr) {
        err(kLogProgress, "QOR%s> Parse() no gate address text", kDriverId);
        return 1;
    }
    if (request->context == nullptr) {
        err(kLogProgress, "QOR%s> Parse() no driver context", kDriverId);
        return 1;
    }
    const char *original = params->addressText;
    if (BoundedLength(original) != kTextLength) {
        err(kLogProgress, "QOR%s> Parse() illegal length gate addr string '%s'", kDriverId,
            original);
        return 1;
    }

    char text[kTextLength + 1];
    for (int i = 0; i < kTextLength; ++i) {
        char c = original[i];
        text[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    text[kTextLength] = '\0';

    GateAddress &gate = params->gateAddress;
    unsigned station = static_cast<unsigned char>(text[0]);
    gate.station = static_cast<int32_t>(station);
    if (text[0] != '*') {
        const StationEntry &entry = request->context->stations[station];
        if (entry.loop == 0xFF && entry.office == 0xFF) {
            err(kLogProgress, "QOR%s> Parse(), Station '%c' not defined in init file, '%s'",
                kDriverId, static_cast<int>(station), text);
            return 1;
        }
    }

    int code = 0;
    while (memoryTypeNames[code][0] != '\0' && !TypeEquals(text + 1, memoryTypeNames[code])) {
        ++code;
    }
    if (memoryTypeNames[code][0] == '\0') {
        err(kLogProgress, "QOR%s> Parse() illegal memory type gate '%s'", kDriverId, text);
        return 1;
    }
    gate.memoryType = code;

    const char *address = text + 3;
    const char *end = text + kTextLength;
    Rule rule = kRules[code];
    uint32_t first = 0;  // h of "%03x%02u", else v
    uint32_t second = 0; // d of "%03x%02u"
    ScanResult scanned{false, 0, address};
    switch (rule) {
    case Rule::BitOfWordHexDec:
    case Rule::OneBitHexDec:
        scanned = ScanHex(address, end, 3);
        if (scanned.ok) {
            first = scanned.value;
            scanned = ScanDecimal(scanned.next, end, 2);
            second = scanned.value;
        }
        break;
    case Rule::OneBitDec:
    case Rule::WordDec:
        scanned = ScanDecimal(address, end, 5);
        first = scanned.value;
        break;
    case Rule::Never:
        break;
    default:
        scanned = ScanHex(address, end, 5);
        first = scanned.value;
        break;
    }
    if (!scanned.ok) {
        err(kLogProgress, "QOR%s> Parse() illegal address gate '%s'", kDriverId, text);
        return 1;
    }

    // All arithmetic is unsigned and wraps at 32 bits.
    uint32_t wordAddress = first;
    int32_t bit = -1;
    int32_t width = 16;
    switch (rule) {
    case Rule::BitOfWordHexDec:
        wordAddress = first * 16u + second / 16u;
        bit = static_cast<int32_t>(second % 16u);
        gate.memoryType = code + 8;
        break;
    case Rule::BitOfWordHex:
        wordAddress = first / 16u;
        bit = static_cast<int32_t>(first % 16u);
        gate.memoryType = code + 8;
        break;
    case Rule::OneBitHex:
    case Rule::OneBitDec:
        width = 1;
        break;
    case Rule::OneBitHexDec:
        wordAddress = first * 256u + second;
        width = 1;
        break;
    case Rule::DoubleWordHex:
        if (first % 2u != 0) {
            err(kLogFailure, "QOR%s> Parse() error address gate must be even '%s'", kDriverId,
                text);
            return 1;
        }
        wordAddress = first / 2u;
        width = 32;
        break;
    default:
        break;
    }
    gate.address = static_cast<int32_t>(wordAddress);
    gate.bit = bit;
    gate.width = width;
    return 0;
}

int32_t SingleParse(DriverRequest *request) {
    int32_t result = Parse(request);
    if (result != 0) {
        return result;
    }
    const auto *params = static_cast<const ParseRequest *>(request->params);
    const GateAddress &gate = params->gateAddress;
    int32_t type = params->gateType;
    if (gate.bit != -1 || gate.width == 1) {
        if (type != QOR_GATE_DIGITAL) {
            err(kLogProgress, "QOR%s> SingleParse() Gate type should be digital", kDriverId);
            return 1;
        }
    } else if (gate.width == 32) {
        if (type != QOR_GATE_ANALOG32_4 && type != QOR_GATE_ANALOG32_5) {
            err(kLogFailure, "QOR%s> SingleParse() Gate:%s type should be 32-bit analog", kDriverId,
                params->addressText);
            return 1;
        }
    } else if (type != QOR_GATE_ANALOG16_0 && type != QOR_GATE_ANALOG16_1 &&
               type != QOR_GATE_ANALOG16_2) {
        err(kLogProgress, "QOR%s> SingleParse() Gate type should be 16-bit analog", kDriverId);
        return 1;
    }
    return 0;
}

int32_t BlockParse(DriverRequest *request) {
    int32_t result = Parse(request);
    if (result != 0) {
        return result;
    }
    const auto *params = static_cast<const ParseRequest *>(request->params);
    const GateAddress &gate = params->gateAddress;
    if (gate.bit != -1) {
        err(kLogProgress, "QOR%s> BlockParse() not allowed for this digital gate", kDriverId);
        err(kLogProgress, "QOR%s>    define block of analog gates", kDriverId);
        return 1;
    }
    // These limits keep a block's data section within 480 hexadecimal
    // characters and its element count within two hexadecimal digits.
    if (gate.width == 1) {
        if (params->blockSize > 240) {
            err(kLogProgress, "QOR%s> BlockParse() blocksioze > 240 for digital gates", kDriverId);
            return 1;
        }
    } else if (gate.width == 32) {
        if (params->blockSize > 60) {
            err(kLogProgress, "QOR%s> BlockParse() blocksioze > 60 for double word analog gates",
                kDriverId);
            return 1;
        }
    } else if (params->blockSize > 120) {
        err(kLogProgress, "QOR%s> BlockParse() blocksioze > 120 for word analog gates", kDriverId);
        return 1;
    }
    return 0;
}

} // namespace qor
