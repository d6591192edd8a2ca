// Request telegrams: the read request, the write request with its data
// section, and the three occupation requests, built into txBuffer.
#include "exchange/telegrams.h"

#include "config/fixed_width.h"
#include "exchange/value_encoding.h"
#include "link/frames.h"

namespace qor {
namespace {

constexpr uint32_t kReadCommand = 0x40;
constexpr uint32_t kReadCommandNoOccupation = 0xA0;
constexpr uint32_t kWriteCommand = 0x42;
constexpr uint32_t kWriteCommandNoOccupation = 0xA2;
// The word areas start at memory code 8; a bit-in-word or double-word gate is
// addressed through the bit or word area of the same letter.
constexpr uint32_t kWordAreaOffset = 8;
// Checksum (2) and CR behind the body, then the NUL.
constexpr uint32_t kTrailerSize = 3;

uint32_t PutField(char *buffer, uint32_t at, uint32_t value, unsigned digits) {
    PutHex(buffer + at, value, digits);
    return at + digits;
}

uint32_t PutText(char *buffer, uint32_t at, const char *text) {
    while (*text != '\0') {
        buffer[at++] = *text++;
    }
    return at;
}

// STX "0" [office] loop unit "0000": 10 characters, 12 with an office.
uint32_t PutHeader(const DriverRequest *request, char *buffer) {
    const StationEntry &station = StationOf(request);
    uint32_t at = 0;
    buffer[at++] = kStx;
    buffer[at++] = '0';
    if (station.office != kNoOffice) {
        at = PutField(buffer, at, station.office, 2);
    }
    at = PutField(buffer, at, station.loop, 2);
    at = PutField(buffer, at, station.unit, 2);
    return PutText(buffer, at, "0000");
}

// Command, memory code, address and count: 12 characters. Fields are written
// at their fixed widths, so the layout holds whatever the gate address says.
uint32_t PutAccessBody(const DriverRequest *request, char *buffer, uint32_t at, uint32_t command) {
    const auto *io = static_cast<const IoRequest *>(request->params);
    const GateAddress &gate = io->gateAddress;
    uint32_t memoryCode = static_cast<uint32_t>(gate.memoryType);
    uint32_t address = static_cast<uint32_t>(gate.address);
    uint32_t count = static_cast<uint32_t>(io->count);
    if (gate.bit != -1) {
        memoryCode -= kWordAreaOffset;
        address = address * 16 + static_cast<uint32_t>(gate.bit);
    } else if (gate.width == 32) {
        memoryCode -= kWordAreaOffset;
        address *= 2;
        count *= 2;
    }
    at = PutField(buffer, at, command, 2);
    at = PutField(buffer, at, memoryCode, 2);
    at = PutField(buffer, at, address, 6);
    return PutField(buffer, at, count, 2);
}

const char *OccupationBody(int32_t task) {
    switch (task) {
    case QOR_READ_OCCUPATION:
        return "1601";
    case QOR_RELEASE_OCCUPATION:
        return "1600";
    case QOR_FORCED_RELEASE:
        return "1701";
    default:
        // No such task: the telegram goes out with an empty body.
        return "";
    }
}

// Checksum over everything behind the STX, then CR and the NUL.
void Finish(char *buffer, uint32_t at, int32_t *length) {
    at = PutField(buffer, at, Checksum(buffer + 1, at - 1), 2);
    buffer[at++] = kCr;
    buffer[at] = '\0';
    *length = static_cast<int32_t>(at);
}

} // namespace

void BuildReadRequest(DriverRequest *request, char *buffer, int32_t *length) {
    const auto *io = static_cast<const IoRequest *>(request->params);
    uint32_t at = PutHeader(request, buffer);
    if (io->gateAddress.memoryType < QOR_READ_OCCUPATION) {
        const uint32_t command =
            request->context->occupationEnabled != 0 ? kReadCommand : kReadCommandNoOccupation;
        at = PutAccessBody(request, buffer, at, command);
    } else {
        at = PutText(buffer, at, OccupationBody(io->gateAddress.memoryType));
    }
    Finish(buffer, at, length);
}

void BuildWriteRequest(DriverRequest *request, char *buffer, int32_t *length, int32_t mode) {
    const auto *io = static_cast<const IoRequest *>(request->params);
    uint32_t at = PutHeader(request, buffer);
    const uint32_t command =
        request->context->occupationEnabled != 0 ? kWriteCommand : kWriteCommandNoOccupation;
    at = PutAccessBody(request, buffer, at, command);
    // The data section stops where the checksum, CR and NUL would no longer
    // fit, whatever count the host handed over.
    at += static_cast<uint32_t>(
        EncodeWriteData(io, buffer + at, QOR_BUFFER_SIZE - at - kTrailerSize, mode));
    Finish(buffer, at, length);
}

} // namespace qor
