// Link level of the controller protocol: control characters, the ENQ and NAK
// frames, sending after the inter-frame gap and the reception of one message.
#pragma once

#include "host/records.h"
#include "platform/platform.h"

#include <cstdint>

namespace qor {

constexpr char kStx = 0x02;
constexpr char kEot = 0x04;
constexpr char kEnq = 0x05;
constexpr char kAck = 0x06;
constexpr char kNak = 0x15;
constexpr char kCr = 0x0D;
constexpr uint8_t kNoOffice = 0xFF;

// Sum of the character codes of text[0..count) modulo 256.
uint8_t Checksum(const char *text, uint32_t count);

// The station table entry of the request's IoRequest station. A station code
// outside 0..255 cannot index the table and gets an unconfigured entry (all
// 0xFF), so a bad code never reads outside the context.
const StationEntry &StationOf(const DriverRequest *request);

// Sleeps interFrameGap ms, then writes `length` characters in one write.
// 0 when every character was written, else 2.
int32_t SendFrame(const char *text, uint32_t length, DriverContext *context);
// ENQ poll for the station of the request's IoRequest; 0 sent, 2 not sent.
int32_t SendEnq(DriverRequest *request);
// NAK frame with the low eight bits of `code`; result of SendFrame.
int32_t SendNak(DriverRequest *request, uint32_t code);
// One character into *place; 0 when exactly one arrived, else 1.
int32_t ReadByte(char *place, platform::PortHandle port);
// One whole controller message into `buffer` (rxBuffer, QOR_BUFFER_SIZE
// bytes); 0 taken in, 1 incomplete or malformed (a data frame that fills the
// buffer without its CR included), 2 nothing arrived, `buffer` unchanged.
int32_t Receive(char *buffer, int32_t *length, platform::PortHandle port);
// Text of a NAK error code, for log messages. Codes 0 to 255 have constant
// texts of their own; any other value gets a text of the calling thread that
// lasts until that thread's next such call.
const char *NakCodeText(int32_t code);

} // namespace qor
