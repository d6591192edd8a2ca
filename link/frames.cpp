// Link level: the ENQ and NAK frames, sending after the inter-frame gap, the
// reception of one controller message and the NAK code texts.
#include "link/frames.h"

#include "config/fixed_width.h"
#include "platform/host_log.h"

namespace qor {
namespace {

// ENQ and NAK frames are at most seven characters; one more for the NUL.
constexpr uint32_t kShortFrameSize = 8;

// Station codes are 0..255; anything else sees a never-configured station.
constexpr StationEntry kUnconfiguredStation{0xFF, 0xFF, 0xFF, 0};

// Writes `value` in decimal at `out` and a NUL behind it; returns the number
// of digits. `out` must hold 11 characters.
constexpr uint32_t PutDecimal(char *out, uint32_t value) {
    char digits[10] = {};
    uint32_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (uint32_t i = 0; i < count; ++i) {
        out[i] = digits[count - 1 - i];
    }
    out[count] = '\0';
    return count;
}

constexpr char kErrorNumberPrefix[] = " error nr. ";
constexpr uint32_t kErrorNumberPrefixLength = sizeof kErrorNumberPrefix - 1;
// Prefix, up to ten digits and the NUL.
constexpr uint32_t kErrorNumberSize = kErrorNumberPrefixLength + 10 + 1;

constexpr uint32_t FormatErrorNumber(char *out, uint32_t code) {
    for (uint32_t i = 0; i < kErrorNumberPrefixLength; ++i) {
        out[i] = kErrorNumberPrefix[i];
    }
    return kErrorNumberPrefixLength + PutDecimal(out + kErrorNumberPrefixLength, code);
}

// Every code a two-digit NAK field can carry has its own constant text, so
// the texts handed out for them are never rewritten, whichever thread asks.
struct ErrorNumberTexts {
    char text[256][kErrorNumberSize];
};

constexpr ErrorNumberTexts MakeErrorNumberTexts() {
    ErrorNumberTexts texts{};
    for (uint32_t code = 0; code < 256; ++code) {
        FormatErrorNumber(texts.text[code], code);
    }
    return texts;
}

constexpr ErrorNumberTexts kErrorNumberTexts = MakeErrorNumberTexts();

constexpr const char *kNakTexts[] = {
    "(dumy) no error", "parity error", "sum check error",  "framing error", "overrun error",
    "protocol error",  "ASCII error",  "RCV buffer error", "RCV time-out",
};
constexpr int32_t kNakTextCount = sizeof kNakTexts / sizeof kNakTexts[0];

// Builds "<first> 0 [office]" into `frame` and returns the count written.
uint32_t ShortFrameHeader(char *frame, char first, uint8_t office) {
    uint32_t n = 0;
    frame[n++] = first;
    frame[n++] = '0';
    if (office != kNoOffice) {
        PutHex(frame + n, office, 2);
        n += 2;
    }
    return n;
}

// Takes in the rest of an ACK or EOT message behind its first character:
// CR alone, or three characters of which the first is not CR.
int32_t ReceiveShortAnswer(char *buffer, int32_t *length, platform::PortHandle port,
                           const char *failure) {
    if (ReadByte(buffer + 1, port) != 0) {
        err(kLogProgress, failure, kDriverId);
        return 1;
    }
    if (buffer[1] == kCr) {
        *length = 2;
        return 0;
    }
    if (platform::ReadPort(port, buffer + 2, 2) != 2) {
        err(kLogProgress, failure, kDriverId);
        return 1;
    }
    *length = 4;
    return 0;
}

int32_t ReceiveNak(char *buffer, int32_t *length, platform::PortHandle port) {
    static const char kFailure[] = "QOR%s> Receive() error in rcv NAK msg";
    if (platform::ReadPort(port, buffer + 1, 3) != 3) {
        err(kLogProgress, kFailure, kDriverId);
        return 1;
    }
    if (buffer[3] == kCr) {
        *length = 4;
        return 0;
    }
    if (platform::ReadPort(port, buffer + 4, 2) != 2) {
        err(kLogProgress, kFailure, kDriverId);
        return 1;
    }
    *length = 6;
    return 0;
}

int32_t ReceiveDataFrame(char *buffer, int32_t *length, platform::PortHandle port) {
    // The frame ends at its first CR. A line that never sends one must not
    // carry reception past the end of the buffer.
    uint32_t last = 1;
    for (;; ++last) {
        if (last == QOR_BUFFER_SIZE) {
            err(kLogProgress, "QOR%s> Receive() message too long", kDriverId);
            return 1;
        }
        if (ReadByte(buffer + last, port) != 0) {
            return 1;
        }
        if (buffer[last] == kCr) {
            break;
        }
    }
    const uint32_t count = last + 1;
    if (count < 4) {
        err(kLogProgress, "QOR%s> Receive() error reading sum check", kDriverId);
        return 1;
    }
    // The checksum is the two characters in front of the CR, and nothing else.
    const ScanResult sum = ScanHex(buffer + count - 3, buffer + count - 1, 2);
    if (!sum.ok) {
        err(kLogProgress, "QOR%s> Receive() error reading sum check", kDriverId);
        return 1;
    }
    if (sum.value != Checksum(buffer + 1, count - 4)) {
        err(kLogProgress, "QOR%s> Receive() sum check error", kDriverId);
        return 1;
    }
    *length = static_cast<int32_t>(count);
    return 0;
}

} // namespace

uint8_t Checksum(const char *text, uint32_t count) {
    uint32_t sum = 0;
    for (uint32_t i = 0; i < count; ++i) {
        sum += static_cast<unsigned char>(text[i]);
    }
    return static_cast<uint8_t>(sum);
}

const StationEntry &StationOf(const DriverRequest *request) {
    const auto *io = static_cast<const IoRequest *>(request->params);
    const int32_t station = io->gateAddress.station;
    if (station < 0 || station >= QOR_STATION_COUNT) {
        return kUnconfiguredStation;
    }
    return request->context->stations[station];
}

int32_t SendFrame(const char *text, uint32_t length, DriverContext *context) {
    if (context->interFrameGap != 0) {
        platform::SleepMilliseconds(context->interFrameGap);
    }
    const int32_t written = platform::WritePort(context->portHandle, text, length);
    return (written >= 0 && static_cast<uint32_t>(written) == length) ? 0 : 2;
}

int32_t SendEnq(DriverRequest *request) {
    // Built apart from txBuffer: the request telegram there is sent again on
    // the next attempt.
    char frame[kShortFrameSize];
    uint32_t n = ShortFrameHeader(frame, kEnq, StationOf(request).office);
    frame[n++] = '1';
    frame[n++] = kCr;
    frame[n] = '\0';
    return SendFrame(frame, n, request->context) == 0 ? 0 : 2;
}

int32_t SendNak(DriverRequest *request, uint32_t code) {
    char frame[kShortFrameSize];
    uint32_t n = ShortFrameHeader(frame, kNak, StationOf(request).office);
    PutHex(frame + n, code & 0xFF, 2);
    n += 2;
    frame[n++] = kCr;
    frame[n] = '\0';
    return SendFrame(frame, n, request->context);
}

int32_t ReadByte(char *place, platform::PortHandle port) {
    return platform::ReadPort(port, place, 1) == 1 ? 0 : 1;
}

int32_t Receive(char *buffer, int32_t *length, platform::PortHandle port) {
    // The first character goes through a local so that a silent line leaves
    // position 0 as the previous message left it: the transaction engine
    // looks at it again after a failed poll.
    char first = 0;
    if (ReadByte(&first, port) != 0) {
        return 2;
    }
    buffer[0] = first;
    switch (first) {
    case kStx:
        return ReceiveDataFrame(buffer, length, port);
    case kAck:
        return ReceiveShortAnswer(buffer, length, port, "QOR%s> Receive() error in rcv ACK msg");
    case kEot:
        return ReceiveShortAnswer(buffer, length, port, "QOR%s> Receive() error in rcv EOT msg");
    case kNak:
        return ReceiveNak(buffer, length, port);
    default:
        // The engine classifies this by its first character alone, so the
        // length is left as it was.
        err(kLogProgress, "QOR%s> Receive() received char %02Xh out of msg", kDriverId,
            static_cast<unsigned>(static_cast<unsigned char>(first)));
        return 0;
    }
}

const char *NakCodeText(int32_t code) {
    if (code >= 0 && code < kNakTextCount) {
        return kNakTexts[code];
    }
    if (code >= 0 && code < 256) {
        return kErrorNumberTexts.text[code];
    }
    // Only a caller outside the two-digit range gets here; the text is its
    // thread's own and lasts until that thread's next such call.
    thread_local char fallback[kErrorNumberSize];
    FormatErrorNumber(fallback, static_cast<uint32_t>(code));
    return fallback;
}

} // namespace qor
