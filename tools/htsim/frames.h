// The controller's side of the link: assembling what the host sends into
// frames, checking request telegrams, and building the controller's answers.
//
// Host to controller:
//   telegram  STX "0" [office] loop unit "0000" body checksum CR
//   poll      ENQ "0" [office] "1" CR
//   reject    NAK "0" [office] code CR
// Controller to host (no "0" after the control character):
//   ACK [office] CR, EOT [office] CR, NAK [office] code CR, and the response
//   STX "0" [office] loop unit "000" code command [data] checksum CR,
//   whose response code stands at position 9, or 11 with an office.
// Every number is two upper-case hex digits (address six); the checksum is
// the sum of the characters between STX and checksum, modulo 256.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace htsim {

constexpr char kStx = 0x02;
constexpr char kEot = 0x04;
constexpr char kEnq = 0x05;
constexpr char kAck = 0x06;
constexpr char kNak = 0x15;
constexpr char kCr = 0x0D;

// NAK codes of the controller.
constexpr uint8_t kNakChecksum = 0x02;
constexpr uint8_t kNakFraming = 0x03;
constexpr uint8_t kNakProtocol = 0x05;

// The longest frame taken in; a host telegram is at most 507 characters.
constexpr size_t kMaxFrame = 600;

uint8_t Checksum(std::string_view text);
// Control characters named (<STX>, <CR>, ...), other non-printables as <XX>.
std::string Visible(std::string_view bytes);

struct StationAddress {
    uint8_t loop = 0;
    uint8_t unit = 0;
    int office = -1; // -1: no office number, short headers
    bool operator==(const StationAddress &other) const {
        return loop == other.loop && unit == other.unit && office == other.office;
    }
};

enum class FrameKind {
    Telegram, // STX ... CR
    Enq,      // ENQ ... CR
    Nak,      // NAK ... CR
    Noise,    // bytes outside a frame, or a frame cut short by a new one
    Overlong, // kMaxFrame characters without CR; the rest up to the next
              // frame start is discarded
};

struct Frame {
    FrameKind kind;
    std::string bytes;
};

// Turns the byte stream from the host into frames. A frame starts at STX,
// ENQ or NAK and ends at CR.
class FrameAssembler {
public:
    explicit FrameAssembler(size_t limit = kMaxFrame) : limit_(limit) {}
    // Takes one byte; returns a frame when this byte completes one (or cuts
    // one short). A start character that cuts a frame short returns the
    // unfinished frame as Noise and begins the new one.
    std::optional<Frame> Push(char byte);

private:
    size_t limit_;
    std::string current_;
    bool discarding_ = false;
};

// True when the telegram's header (STX to "0000") names this station.
bool AddressedTo(std::string_view telegram, const StationAddress &station);
// Header length of a station's telegrams: 10 without office, 12 with.
size_t TelegramHeaderLength(const StationAddress &station);

enum class RequestKind { Read, Write, ForcedRelease, ReadOccupation, ReleaseOccupation };

struct Request {
    RequestKind kind = RequestKind::Read;
    uint8_t command = 0; // the command byte, echoed in the response
    uint8_t memory = 0;
    uint32_t address = 0;
    uint32_t count = 0;
    std::string data; // write data section
};

enum class TelegramFault { None, Checksum, Framing, UnknownCommand };

// Checks a telegram already known to be addressed to `station` and decodes
// its body. Order of the checks: checksum (NAK 02), structure (NAK 03: a
// field that is not hex, a body of the wrong length, write data that does
// not match the count), command (NAK 05).
TelegramFault ParseTelegram(std::string_view telegram, const StationAddress &station,
                            Request &request);

// The office an ENQ or a host NAK names (-1 for none); nullopt when the
// frame does not have the form of one.
std::optional<int> EnqOffice(std::string_view frame);
std::optional<int> HostNakOffice(std::string_view frame);

std::string BuildAck(const StationAddress &station);
std::string BuildEot(const StationAddress &station);
std::string BuildNak(const StationAddress &station, uint8_t code);
std::string BuildResponse(const StationAddress &station, uint8_t responseCode, uint8_t command,
                          std::string_view data);

} // namespace htsim
