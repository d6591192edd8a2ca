#include "frames.h"

#include "hex.h"
#include "memory.h"

namespace htsim {
namespace {

bool IsFrameStart(char c) {
    return c == kStx || c == kEnq || c == kNak;
}

FrameKind KindOf(char start) {
    switch (start) {
    case kStx:
        return FrameKind::Telegram;
    case kEnq:
        return FrameKind::Enq;
    default:
        return FrameKind::Nak;
    }
}

// "0" [office] loop unit: the part of the host's header that names the
// station.
std::string StationPart(const StationAddress &station) {
    std::string out = "0";
    if (station.office >= 0) {
        AppendHex(out, static_cast<uint32_t>(station.office), 2);
    }
    AppendHex(out, station.loop, 2);
    AppendHex(out, station.unit, 2);
    return out;
}

std::string ShortFrame(char control, const StationAddress &station) {
    std::string out(1, control);
    if (station.office >= 0) {
        AppendHex(out, static_cast<uint32_t>(station.office), 2);
    }
    return out;
}

// Office named by a frame of the form control "0" [office] tail CR, where
// the tail has `tailLength` characters.
std::optional<int> OfficeOf(std::string_view frame, char control, size_t tailLength,
                            std::string_view literalTail) {
    const size_t shortLength = 3 + tailLength;
    if (frame.size() != shortLength && frame.size() != shortLength + 2) {
        return std::nullopt;
    }
    if (frame[0] != control || frame[1] != '0' || frame.back() != kCr) {
        return std::nullopt;
    }
    std::string_view tail = frame.substr(frame.size() - 1 - tailLength, tailLength);
    uint32_t value;
    if (literalTail.empty() ? !ParseHex(tail, value) : tail != literalTail) {
        return std::nullopt;
    }
    if (frame.size() == shortLength) {
        return -1;
    }
    uint32_t office;
    if (!ParseHex(frame.substr(2, 2), office)) {
        return std::nullopt;
    }
    return static_cast<int>(office);
}

} // namespace

uint8_t Checksum(std::string_view text) {
    unsigned sum = 0;
    for (char c : text) {
        sum += static_cast<unsigned char>(c);
    }
    return static_cast<uint8_t>(sum);
}

std::string Visible(std::string_view bytes) {
    std::string out;
    for (char c : bytes) {
        switch (c) {
        case kStx:
            out += "<STX>";
            break;
        case kEot:
            out += "<EOT>";
            break;
        case kEnq:
            out += "<ENQ>";
            break;
        case kAck:
            out += "<ACK>";
            break;
        case kNak:
            out += "<NAK>";
            break;
        case kCr:
            out += "<CR>";
            break;
        default:
            if (c >= 0x20 && c < 0x7F) {
                out.push_back(c);
            } else {
                out += "<" + Hex(static_cast<unsigned char>(c), 2) + ">";
            }
        }
    }
    return out;
}

std::optional<Frame> FrameAssembler::Push(char byte) {
    if (IsFrameStart(byte)) {
        discarding_ = false;
        std::optional<Frame> cut;
        if (!current_.empty()) {
            cut = Frame{FrameKind::Noise, current_};
        }
        current_.assign(1, byte);
        return cut;
    }
    if (discarding_) {
        return std::nullopt;
    }
    if (current_.empty()) {
        return Frame{FrameKind::Noise, std::string(1, byte)};
    }
    current_.push_back(byte);
    if (byte == kCr) {
        Frame frame{KindOf(current_[0]), current_};
        current_.clear();
        return frame;
    }
    if (current_.size() >= limit_) {
        Frame frame{FrameKind::Overlong, current_};
        current_.clear();
        discarding_ = true;
        return frame;
    }
    return std::nullopt;
}

size_t TelegramHeaderLength(const StationAddress &station) {
    return station.office >= 0 ? 12 : 10;
}

bool AddressedTo(std::string_view telegram, const StationAddress &station) {
    const std::string header = std::string(1, kStx) + StationPart(station) + "0000";
    return telegram.substr(0, header.size()) == header;
}

TelegramFault ParseTelegram(std::string_view telegram, const StationAddress &station,
                            Request &request) {
    const size_t header = TelegramHeaderLength(station);
    const size_t n = telegram.size();
    uint32_t sum;
    if (n < header + 3 || telegram[n - 1] != kCr || !ParseHex(telegram.substr(n - 3, 2), sum) ||
        sum != Checksum(telegram.substr(1, n - 4))) {
        return TelegramFault::Checksum;
    }
    std::string_view body = telegram.substr(header, n - 3 - header);
    uint32_t command;
    if (body.size() < 2 || !ParseHex(body.substr(0, 2), command)) {
        return TelegramFault::Framing;
    }
    request = Request{};
    request.command = static_cast<uint8_t>(command);
    switch (command) {
    case 0x16:
    case 0x17:
        if (body.size() != 4) {
            return TelegramFault::Framing;
        }
        if (body == "1701") {
            request.kind = RequestKind::ForcedRelease;
        } else if (body == "1601") {
            request.kind = RequestKind::ReadOccupation;
        } else if (body == "1600") {
            request.kind = RequestKind::ReleaseOccupation;
        } else {
            return TelegramFault::UnknownCommand;
        }
        return TelegramFault::None;
    case 0x40:
    case 0xA0:
    case 0x42:
    case 0xA2: {
        const bool write = command == 0x42 || command == 0xA2;
        uint32_t memory, address, count;
        if (body.size() < 12 || !ParseHex(body.substr(2, 2), memory) ||
            !ParseHex(body.substr(4, 6), address) || !ParseHex(body.substr(10, 2), count)) {
            return TelegramFault::Framing;
        }
        request.kind = write ? RequestKind::Write : RequestKind::Read;
        request.memory = static_cast<uint8_t>(memory);
        request.address = address;
        request.count = count;
        std::string_view data = body.substr(12);
        if (!write) {
            return data.empty() ? TelegramFault::None : TelegramFault::Framing;
        }
        // Data of a memory the controller does not have cannot be measured;
        // the command is taken and refused by its response code.
        if (IsKnownMemory(request.memory) && data.size() != DataLength(request.memory, count)) {
            return TelegramFault::Framing;
        }
        for (char c : data) {
            uint32_t digit;
            if (!ParseHex(std::string_view(&c, 1), digit)) {
                return TelegramFault::Framing;
            }
        }
        request.data = std::string(data);
        return TelegramFault::None;
    }
    default:
        return TelegramFault::UnknownCommand;
    }
}

std::optional<int> EnqOffice(std::string_view frame) {
    return OfficeOf(frame, kEnq, 1, "1");
}

std::optional<int> HostNakOffice(std::string_view frame) {
    return OfficeOf(frame, kNak, 2, "");
}

std::string BuildAck(const StationAddress &station) {
    return ShortFrame(kAck, station) + kCr;
}

std::string BuildEot(const StationAddress &station) {
    return ShortFrame(kEot, station) + kCr;
}

std::string BuildNak(const StationAddress &station, uint8_t code) {
    return ShortFrame(kNak, station) + Hex(code, 2) + kCr;
}

std::string BuildResponse(const StationAddress &station, uint8_t responseCode, uint8_t command,
                          std::string_view data) {
    std::string body = StationPart(station) + "000";
    AppendHex(body, responseCode, 2);
    AppendHex(body, command, 2);
    body += data;
    return std::string(1, kStx) + body + Hex(Checksum(body), 2) + kCr;
}

} // namespace htsim
