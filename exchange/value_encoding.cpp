// Hexadecimal data sections: the values of a gate to and from the text that
// travels in read responses and write requests.
#include "exchange/value_encoding.h"

#include "config/fixed_width.h"
#include "platform/host_log.h"

#include <cstring>

namespace qor {
namespace {

enum class Kind { Digital, Word, DoubleWord };

constexpr int32_t kDigitalGateType = QOR_GATE_DIGITAL;
// Far beyond any message, yet small enough that the engine can add the frame
// overhead to it without overflow.
constexpr int64_t kLengthCap = 0x40000000;

// Bytes that hold n packed bits.
int64_t Groups(int64_t n) {
    return n / 8 + (n % 8 != 0 ? 1 : 0);
}

// A single gate is digital by its host data type, a block by its width.
Kind KindOf(const IoRequest &request, bool single) {
    const bool digital =
        single ? request.gateType == kDigitalGateType : request.gateAddress.width == 1;
    if (digital) {
        return Kind::Digital;
    }
    return request.gateAddress.width == 32 ? Kind::DoubleWord : Kind::Word;
}

// Elements of a block: bytes for bits, else values. A negative count has none.
uint32_t BlockElements(const IoRequest &request, Kind kind) {
    if (request.count <= 0) {
        return 0;
    }
    if (kind == Kind::Digital) {
        return static_cast<uint32_t>(Groups(request.count));
    }
    return static_cast<uint32_t>(request.count);
}

uint32_t DigitsOf(Kind kind) {
    switch (kind) {
    case Kind::Digital:
        return 2;
    case Kind::Word:
        return 4;
    case Kind::DoubleWord:
        break;
    }
    return 8;
}

// The controller sends a double word low half first.
uint32_t ExchangeHalves(uint32_t value) {
    return (value << 16) | (value >> 16);
}

// The host's storage is reached bytewise: its cells need not be aligned for
// this platform, and the 16-bit unit of a single cell sits at offset 2.
uint16_t LoadUnit(const void *data, uint32_t index) {
    uint16_t unit = 0;
    std::memcpy(&unit, static_cast<const unsigned char *>(data) + 2 * index, sizeof unit);
    return unit;
}
void StoreUnit(void *data, uint32_t index, uint16_t unit) {
    std::memcpy(static_cast<unsigned char *>(data) + 2 * index, &unit, sizeof unit);
}
uint32_t LoadCell(const void *data, uint32_t index) {
    uint32_t cell = 0;
    std::memcpy(&cell, static_cast<const unsigned char *>(data) + 4 * index, sizeof cell);
    return cell;
}
void StoreCell(void *data, uint32_t index, uint32_t cell) {
    std::memcpy(static_cast<unsigned char *>(data) + 4 * index, &cell, sizeof cell);
}
uint8_t LoadByte(const void *data, uint32_t index) {
    return static_cast<const unsigned char *>(data)[index];
}
void StoreByte(void *data, uint32_t index, uint8_t byte) {
    static_cast<unsigned char *>(data)[index] = byte;
}

// Each element is read from its own position, whatever the previous element
// consumed, and never past the end of the message.
ScanResult ScanField(const char *text, const char *end, uint32_t index, uint32_t digits) {
    const char *field = text + static_cast<size_t>(index) * digits;
    if (field > end) {
        field = end;
    }
    return ScanHex(field, end, digits);
}

int32_t StoreSingle(IoRequest *request, const char *text, const char *end) {
    switch (KindOf(*request, true)) {
    case Kind::Digital: {
        const ScanResult value = ScanField(text, end, 0, 2);
        if (!value.ok) {
            err(kLogProgress, "QOR%s> StoreData() illegal HEX data for digital gates", kDriverId);
            return 1;
        }
        StoreUnit(request->data, 1, static_cast<uint16_t>((value.value >> 7) & 1));
        return 0;
    }
    case Kind::DoubleWord: {
        const ScanResult value = ScanField(text, end, 0, 8);
        if (!value.ok) {
            err(kLogProgress, "QOR%s> StoreData() illegal HEX data", kDriverId);
            return 1;
        }
        err(kLogProgress, "QOR%s> StoreData() %08X", kDriverId, value.value);
        StoreCell(request->data, 0, ExchangeHalves(value.value));
        return 0;
    }
    case Kind::Word:
        break;
    }
    const ScanResult value = ScanField(text, end, 0, 4);
    if (!value.ok) {
        err(kLogProgress, "QOR%s> StoreData() illegal HEX data", kDriverId);
        return 1;
    }
    StoreUnit(request->data, 1, static_cast<uint16_t>(value.value));
    return 0;
}

int32_t StoreBlock(IoRequest *request, const char *text, const char *end) {
    const Kind kind = KindOf(*request, false);
    const uint32_t elements = BlockElements(*request, kind);
    const uint32_t digits = DigitsOf(kind);
    for (uint32_t i = 0; i < elements; ++i) {
        const ScanResult value = ScanField(text, end, i, digits);
        switch (kind) {
        case Kind::Digital:
            if (!value.ok) {
                err(kLogProgress, "QOR%s> StoreData() illegal HEX data in digital block",
                    kDriverId);
                return 1;
            }
            StoreByte(request->data, i, ReverseBits(value.value));
            break;
        case Kind::DoubleWord:
            if (!value.ok) {
                err(kLogProgress, "QOR%s> StoreData() illegal HEX data in block (long type)",
                    kDriverId);
                return 1;
            }
            err(kLogProgress, "QOR%s> StoreData() %08X", kDriverId, value.value);
            StoreCell(request->data, i, ExchangeHalves(value.value));
            break;
        case Kind::Word:
            if (!value.ok) {
                err(kLogProgress, "QOR%s> StoreData() illegal HEX data in block", kDriverId);
                return 1;
            }
            StoreUnit(request->data, i, static_cast<uint16_t>(value.value));
            break;
        }
    }
    return 0;
}

} // namespace

uint8_t ReverseBits(uint32_t value) {
    uint8_t reversed = 0;
    for (int i = 0; i < 8; ++i) {
        if ((value >> i) & 1) {
            reversed = static_cast<uint8_t>(reversed | (0x80 >> i));
        }
    }
    return reversed;
}

int32_t DataSectionLength(const IoRequest &request) {
    const int32_t width = request.gateAddress.width;
    if (request.count == 1) {
        if (request.gateType == kDigitalGateType) {
            return 2;
        }
        return width == 32 ? 8 : 4;
    }
    if (request.count <= 0) {
        return 0;
    }
    const int64_t count = request.count;
    int64_t length = 4 * count;
    if (width == 1) {
        length = 2 * Groups(count);
    } else if (width == 32) {
        length = 8 * count;
    }
    return static_cast<int32_t>(length < kLengthCap ? length : kLengthCap);
}

int32_t StoreData(IoRequest *request, const char *text, const char *end, int32_t mode) {
    if ((mode & 0xFF) == QOR_SINGLE_READ) {
        return StoreSingle(request, text, end);
    }
    return StoreBlock(request, text, end);
}

int32_t EncodeWriteData(const IoRequest *request, char *text, uint32_t capacity, int32_t mode) {
    if (capacity == 0) {
        return 0;
    }
    const bool single = (mode & 0xFF) == QOR_SINGLE_WRITE;
    const Kind kind = KindOf(*request, single);
    const uint32_t digits = DigitsOf(kind);
    const uint32_t elements = single ? 1 : BlockElements(*request, kind);
    // Whole elements only, and always room for the terminator.
    uint32_t written = 0;
    for (uint32_t i = 0; i < elements && written + digits < capacity; ++i) {
        char *out = text + written;
        switch (kind) {
        case Kind::Digital:
            if (single) {
                PutHex(out, ReverseBits(LoadUnit(request->data, 1) != 0 ? 1 : 0), 2);
            } else {
                PutHex(out, ReverseBits(LoadByte(request->data, i)), 2);
            }
            break;
        case Kind::DoubleWord: {
            const uint32_t cell = LoadCell(request->data, i);
            PutHex(out, ExchangeHalves(cell), 8);
            if (!single) {
                err(kLogProgress, "QOR%s> BuildWriteRequest() write value %08X", kDriverId, cell);
            }
            break;
        }
        case Kind::Word:
            PutHex(out, LoadUnit(request->data, single ? 1 : i), 4);
            break;
        }
        written += digits;
    }
    text[written] = '\0';
    return static_cast<int32_t>(written);
}

} // namespace qor
