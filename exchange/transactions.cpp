// The read and write transaction engines and their four command handlers.
//
// One transaction: the occupation preamble for a station not yet occupied,
// the telegram built once, then up to 12 attempts of purge, telegram, ACK and
// ENQ polling until the response frame arrives and passes its checks. The two
// engines share one attempt loop; where reads and writes differ (results
// after a refused telegram, response code 5, the length check, the log texts)
// the engine's Texts and its `isRead` decide.
#include "exchange/transactions.h"

#include "config/fixed_width.h"
#include "exchange/telegrams.h"
#include "exchange/value_encoding.h"
#include "link/frames.h"
#include "platform/host_log.h"
#include "platform/platform.h"

#include <cstdint>

namespace qor {
namespace {

constexpr int32_t kAttempts = 12;
constexpr uint32_t kMaxPolls = 10;
constexpr uint32_t kDriverNakCode = 0xFF;
constexpr uint32_t kBusyPauseMs = 2000;
constexpr int32_t kResponseBusy = 5;
constexpr int32_t kResponseRefused = 1;
// The largest address the telegram's six hexadecimal address digits carry.
constexpr int64_t kMaxTelegramAddress = 0xFFFFFF;

// The log texts of one engine, in the order of its failure table.
struct Texts {
    const char *forcedReleaseFailed;
    const char *readOccupationFailed;
    const char *sendError;
    const char *ackError;
    const char *nakUnreadable;
    const char *nak;
    const char *illegalInsteadOfAck;
    const char *enqSendError;
    const char *pollReceiveError;
    const char *timeout;
    const char *tooManyEot;
    const char *nakAfterEnqUnreadable;
    const char *nakAfterEnq;
    const char *illegalInsteadOfStx; // reads name the byte, writes do not
    const char *tooShort;
    const char *fieldsUnreadable;
    const char *responseCode;
    const char *wrongLength;
};

constexpr Texts kReadTexts = {
    "QOR%s> DoRead() forced release failed for station '%c'",
    "QOR%s> DoRead() read occupation failed for station '%c'",
    "QOR%s> DoRead() Send task code error, retry %d",
    "QOR%s> DoRead() Read task code ACK error, retry %d",
    "QOR%s> DoRead() NAK received, error reading NAK code, retry %d",
    "QOR%s> DoRead() NAK received, %s, retry %d",
    "QOR%s> DoRead() received illegal msg i.s.o. ACK, retry %d",
    "QOR%s> DoRead() error sending ENQ #%u, retry %d",
    "QOR%s> DoRead() Read response/EOT #%u error, retry %d",
    "QOR%s> DoRead() timeout waiting for response, retry %d",
    "QOR%s> DoRead() received > 10 EOT, retry %d",
    "QOR%s> DoRead() NAK received after ENQ, error reading NAK code, retry %d",
    "QOR%s> DoRead() NAK received after ENQ, %s, retry %d",
    "QOR%s> DoRead() received illegal msg %02Xh i.s.o. STX, retry %d",
    "QOR%s> DoRead() response too short, retry %d",
    "QOR%s> DoRead() err reading response code, retry %d",
    "QOR%s> DoRead() command %02Xh, resp comm %02Xh, ret code %02Xh, retry %d",
    "QOR%s> DoRead() wrong length of received data, retry %d",
};

constexpr Texts kWriteTexts = {
    "QOR%s> DoWrite() forced release failed for station '%c'",
    "QOR%s> DoWrite() read occupation failed for station '%c'",
    "QOR%s> DoWrite() Send task code error, retry %d",
    "QOR%s> DoWrite() Read task code ACK error, retry %d",
    "QOR%s> DoWrite() NAK received, error reading NAK code, retry %d",
    "QOR%s> DoWrite() NAK received, %s, retry %d",
    "QOR%s> DoWrite() received illegal msg i.s.o. ACK, retry %d",
    "QOR%s> DoWrite() error sending ENQ #%u, retry %d",
    "QOR%s> DoWrite() Read response/EOT #%u error, retry %d",
    "QOR%s> DoWrite() timeout waiting for response, retry %d",
    "QOR%s> DoWrite() received > 10 EOT, retry %d",
    "QOR%s> DoWrite() NAK received after ENQ, error reading NAK code, retry %d",
    "QOR%s> DoWrite() NAK received after ENQ, %s, retry %d",
    "QOR%s> DoWrite() received illegal msg i.s.o. STX, retry %d",
    "QOR%s> DoWrite() response too short, retry %d",
    "QOR%s> DoWrite() err reading response code, retry %d",
    "QOR%s> DoWrite() command %02Xh, resp comm %02Xh, ret code %02Xh, retry %d",
    "QOR%s> DoWrite() wrong length of received telegram, retry %d",
};

struct Engine {
    bool isRead;
    const Texts &texts;
};

// What one transaction carries from attempt to attempt. Lives on the stack of
// the engine: a transaction allocates nothing.
struct Transaction {
    DriverRequest *request;
    DriverContext *context;
    IoRequest *io;
    const Engine &engine;
    uint32_t telegramLength;
    int32_t received; // length of the last message as Receive reported it
    int32_t position; // response position p
    int32_t attempt;
};

// How an attempt ended: `final` stops the transaction at once, whatever
// attempts are left (a response code that retrying cannot change).
struct Outcome {
    int32_t result;
    bool final;
};

bool IsTask(const IoRequest &io) {
    return io.gateAddress.memoryType >= QOR_READ_OCCUPATION;
}

uint8_t First(const Transaction &t) {
    return static_cast<uint8_t>(t.context->rxBuffer[0]);
}

bool IsNakMessage(const Transaction &t) {
    return First(t) == static_cast<uint8_t>(kNak) && (t.received == 4 || t.received == 6);
}

// The NAK code stands in the two characters in front of the last one; the
// scan never looks past the message as received.
bool ReadNakCode(const Transaction &t, int32_t *code) {
    const char *message = t.context->rxBuffer;
    ScanResult scan = ScanHex(message + t.received - 3, message + t.received, 2);
    if (!scan.ok) {
        return false;
    }
    *code = static_cast<int32_t>(scan.value & 0xFF);
    return true;
}

void LogNak(const Transaction &t, const char *unreadable, const char *withText) {
    int32_t code = 0;
    if (ReadNakCode(t, &code)) {
        err(kLogProgress, withText, kDriverId, NakCodeText(code), t.attempt);
    } else {
        err(kLogProgress, unreadable, kDriverId, t.attempt);
    }
}

void SendDriverNak(const Transaction &t) {
    SendNak(t.request, kDriverNakCode);
}

// A refused telegram costs a read 2 and a write 1.
int32_t RefusedTelegramResult(const Transaction &t) {
    return t.engine.isRead ? 2 : 1;
}

Outcome CheckResponse(Transaction &t) {
    const Texts &texts = t.engine.texts;
    const int32_t p = t.position;
    if (t.received < p + 7) {
        err(kLogProgress, texts.tooShort, kDriverId, t.attempt);
        return {1, false};
    }
    const char *end = t.context->rxBuffer + t.received;
    uint32_t fields[3] = {0, 0, 0};
    const char *at = t.context->rxBuffer + p;
    for (uint32_t &field : fields) {
        ScanResult scan = ScanHex(at, end, 2);
        if (!scan.ok) {
            err(kLogProgress, texts.fieldsUnreadable, kDriverId, t.attempt);
            return {1, false};
        }
        field = scan.value & 0xFF;
        at = scan.next;
    }
    const uint32_t responseCode = fields[0];
    const uint32_t command = fields[1];
    const uint32_t third = fields[2];
    if (responseCode != 0) {
        err(kLogProgress, texts.responseCode, kDriverId, command, responseCode, third, t.attempt);
        if (responseCode == kResponseBusy && t.engine.isRead) {
            // The controller is busy: give it time, then send the telegram again.
            platform::SleepMilliseconds(kBusyPauseMs);
            return {1, false};
        }
        return {responseCode == kResponseRefused ? 1 : 2, true};
    }
    if (t.engine.isRead && IsTask(*t.io)) {
        return {0, false};
    }
    int64_t expected = static_cast<int64_t>(p) + 7;
    if (t.engine.isRead) {
        expected += DataSectionLength(*t.io);
    }
    if (t.received != expected) {
        err(kLogProgress, texts.wrongLength, kDriverId, t.attempt);
        return {1, false};
    }
    return {0, false};
}

// The answer to an ENQ that ended its poll cycle in order.
Outcome EvaluateAnswer(Transaction &t) {
    const Texts &texts = t.engine.texts;
    if (First(t) == static_cast<uint8_t>(kStx)) {
        return CheckResponse(t);
    }
    if (IsNakMessage(t)) {
        LogNak(t, texts.nakAfterEnqUnreadable, texts.nakAfterEnq);
        return {2, false};
    }
    if (t.engine.isRead) {
        err(kLogProgress, texts.illegalInsteadOfStx, kDriverId, static_cast<unsigned>(First(t)),
            t.attempt);
    } else {
        err(kLogProgress, texts.illegalInsteadOfStx, kDriverId, t.attempt);
    }
    SendDriverNak(t);
    return {2, false};
}

Outcome Poll(Transaction &t) {
    const Texts &texts = t.engine.texts;
    DriverContext *context = t.context;
    // Whole seconds, a started second counting as a whole one; formed in 64
    // bits so that no host time-out can overflow it.
    const int64_t deadline =
        platform::CalendarSeconds() + (static_cast<int64_t>(context->timeout) + 99) / 100;
    uint32_t polls = 0;
    for (;;) {
        int32_t cycle = 0;
        ++polls;
        if (SendEnq(t.request) != 0) {
            SendDriverNak(t);
            err(kLogProgress, texts.enqSendError, kDriverId, polls, t.attempt);
            cycle = 2;
        } else {
            int32_t r = Receive(context->rxBuffer, &t.received, context->portHandle);
            if (r != 0) {
                SendDriverNak(t);
                err(kLogProgress, texts.pollReceiveError, kDriverId, polls, t.attempt);
                cycle = r;
            } else if (First(t) != static_cast<uint8_t>(kStx) &&
                       platform::CalendarSeconds() > deadline) {
                SendDriverNak(t);
                err(kLogProgress, texts.timeout, kDriverId, t.attempt);
                cycle = 1;
            }
        }
        // Decided on what the buffer shows, whatever the cycle's result: a
        // controller that still answers EOT is polled on, even after a
        // failed cycle or past the deadline.
        if (First(t) == static_cast<uint8_t>(kEot)) {
            if (polls < kMaxPolls) {
                continue;
            }
            SendDriverNak(t);
            err(kLogProgress, texts.tooManyEot, kDriverId, t.attempt);
            return {1, false};
        }
        if (cycle != 0) {
            return {cycle, false};
        }
        return EvaluateAnswer(t);
    }
}

Outcome Attempt(Transaction &t) {
    const Texts &texts = t.engine.texts;
    DriverContext *context = t.context;
    // Without a port there is nothing to purge; the send below fails anyway.
    if (context->portHandle != QOR_NO_PORT) {
        platform::Purge(context->portHandle);
    }
    if (SendFrame(context->txBuffer, t.telegramLength, context) != 0) {
        err(kLogProgress, texts.sendError, kDriverId, t.attempt);
        return {2, false};
    }
    int32_t r = Receive(context->rxBuffer, &t.received, context->portHandle);
    if (r != 0) {
        err(kLogProgress, texts.ackError, kDriverId, t.attempt);
        return {r, false};
    }
    if (First(t) == static_cast<uint8_t>(kAck)) {
        return Poll(t);
    }
    if (IsNakMessage(t)) {
        LogNak(t, texts.nakUnreadable, texts.nak);
        return {RefusedTelegramResult(t), false};
    }
    err(kLogProgress, texts.illegalInsteadOfAck, kDriverId, t.attempt);
    SendDriverNak(t);
    return {RefusedTelegramResult(t), false};
}

// Step 1 of both engines: forced release, then read occupation when it is
// used. The flag is set first so that the inner transactions skip this step.
// Returns 0 when the station may be served.
int32_t Preamble(DriverRequest *request, int32_t mode, const Texts &texts) {
    auto *io = static_cast<IoRequest *>(request->params);
    const int32_t station = io->gateAddress.station;
    StationEntry &entry = request->context->stations[station];
    if (entry.occupied != 0) {
        return 0;
    }
    const int32_t remembered = io->gateAddress.memoryType;
    entry.occupied = 1;
    io->gateAddress.memoryType = QOR_FORCED_RELEASE;
    int32_t result = DoRead(request, mode);
    if (result != 0) {
        io->gateAddress.memoryType = remembered;
        err(kLogProgress, texts.forcedReleaseFailed, kDriverId, station);
        entry.occupied = 0;
        return result;
    }
    if (request->context->occupationEnabled != 0) {
        io->gateAddress.memoryType = QOR_READ_OCCUPATION;
        result = DoRead(request, mode);
    }
    io->gateAddress.memoryType = remembered;
    if (result != 0) {
        err(kLogProgress, texts.readOccupationFailed, kDriverId, station);
        entry.occupied = 0;
    }
    return result;
}

int32_t Run(DriverRequest *request, int32_t mode, const Engine &engine) {
    int32_t result = Preamble(request, mode, engine.texts);
    if (result != 0) {
        return result;
    }
    DriverContext *context = request->context;
    auto *io = static_cast<IoRequest *>(request->params);
    int32_t length = 0;
    if (engine.isRead) {
        BuildReadRequest(request, context->txBuffer, &length);
    } else {
        BuildWriteRequest(request, context->txBuffer, &length, mode);
    }
    const bool noOffice = context->stations[io->gateAddress.station].office == kNoOffice;
    Transaction t{request, context, io, engine, static_cast<uint32_t>(length), 0, 0, 0};
    t.position = noOffice ? 9 : 11;
    for (t.attempt = 1; t.attempt <= kAttempts; ++t.attempt) {
        Outcome outcome = Attempt(t);
        result = outcome.result;
        if (outcome.final || result == 0) {
            break;
        }
    }
    if (result != 0 || !engine.isRead || IsTask(*io)) {
        return result;
    }
    return StoreData(io, context->rxBuffer + t.position + 4, context->rxBuffer + t.received, mode);
}

// --- Refusal of requests the engines cannot serve safely -------------------

// The block limit of a gate's width, which also bounds a single gate's count.
int32_t CountLimit(int32_t width) {
    switch (width) {
    case 1:
        return 240;
    case 16:
        return 120;
    default:
        return 60;
    }
}

// The width the parser gives each memory-type code it can produce; 0 for
// codes it never produces.
int32_t WidthOfMemoryType(int32_t memoryType) {
    if (memoryType == 2 || memoryType == 5 || memoryType == 14 || memoryType == 15) {
        return 1;
    }
    if (memoryType >= 8 && memoryType <= 13) {
        return 16;
    }
    if (memoryType >= 16 && memoryType <= 20) {
        return 32;
    }
    return 0;
}

// Only the word types that stand for bit types (WX, WY, WL, WM) carry a bit.
bool CarriesBit(int32_t memoryType) {
    return memoryType == 8 || memoryType == 9 || memoryType == 11 || memoryType == 12;
}

// True when the gate address is one the parser can have produced and its
// address fits the telegram's six address digits.
bool GateAddressServable(const GateAddress &gate) {
    if (gate.station < 0 || gate.station >= QOR_STATION_COUNT) {
        return false;
    }
    const int32_t width = WidthOfMemoryType(gate.memoryType);
    if (width == 0 || gate.width != width) {
        return false;
    }
    int64_t address = gate.address;
    if (gate.bit != -1) {
        if (!CarriesBit(gate.memoryType) || gate.bit < 0 || gate.bit > 15) {
            return false;
        }
        address = address * 16 + gate.bit;
    } else if (width == 32) {
        address *= 2;
    }
    return gate.address >= 0 && address <= kMaxTelegramAddress;
}

// Checks everything a handler needs before it lets an engine run; logs one
// message and returns false when the request is refused.
bool Servable(DriverRequest *request, const char *function) {
    if (request == nullptr || request->context == nullptr || request->params == nullptr) {
        err(kLogProgress, "QOR%s> %s() no context or parameters", kDriverId, function);
        return false;
    }
    const auto *io = static_cast<const IoRequest *>(request->params);
    const GateAddress &gate = io->gateAddress;
    if (!GateAddressServable(gate)) {
        err(kLogProgress,
            "QOR%s> %s() illegal gate address: station %d, memory type %d, address %d, bit %d, "
            "width %d",
            kDriverId, function, gate.station, gate.memoryType, gate.address, gate.bit, gate.width);
        return false;
    }
    if (io->count < 0 || io->count > CountLimit(gate.width)) {
        err(kLogProgress, "QOR%s> %s() count %d out of range", kDriverId, function, io->count);
        return false;
    }
    if (io->data == nullptr) {
        err(kLogProgress, "QOR%s> %s() no value storage", kDriverId, function);
        return false;
    }
    return true;
}

const Engine kRead{true, kReadTexts};
const Engine kWrite{false, kWriteTexts};

} // namespace

int32_t DoRead(DriverRequest *request, int32_t mode) {
    return Run(request, mode, kRead);
}

int32_t DoWrite(DriverRequest *request, int32_t mode) {
    return Run(request, mode, kWrite);
}

int32_t SingleRead(DriverRequest *request) {
    if (!Servable(request, "SingleRead")) {
        return 2;
    }
    int32_t result = DoRead(request, QOR_SINGLE_READ);
    if (result != 0) {
        err(kLogProgress, "QOR%s> Single Read() , ret val is %d", kDriverId, result);
    }
    return result;
}

int32_t BlockRead(DriverRequest *request) {
    if (!Servable(request, "BlockRead")) {
        return 2;
    }
    int32_t result = DoRead(request, QOR_BLOCK_READ);
    if (result != 0) {
        err(kLogProgress, "QOR%s> BlockRead(), ret val is %d", kDriverId, result);
    }
    return result;
}

int32_t SingleWrite(DriverRequest *request) {
    if (!Servable(request, "SingleWrite")) {
        return 2;
    }
    int32_t result = DoWrite(request, QOR_SINGLE_WRITE);
    if (result != 0) {
        err(kLogProgress, "QOR%s> SingleWrite() , ret val is %d", kDriverId, result);
    }
    return result;
}

int32_t BlockWrite(DriverRequest *request) {
    if (!Servable(request, "BlockWrite")) {
        return 2;
    }
    int32_t result = DoWrite(request, QOR_BLOCK_WRITE);
    if (result != 0) {
        err(kLogProgress, "QOR%s> BlockWrite() , ret val is %d", kDriverId, result);
    }
    return result;
}

} // namespace qor
