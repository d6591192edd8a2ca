#include "controller.h"

#include "hex.h"

namespace htsim {
namespace {

uint8_t ResponseCodeOf(Access access) {
    return access == Access::Ok ? kResponseOk : kResponseBadAddress;
}

std::string OverlongFrame(Faults &faults) {
    std::string out(1, kStx);
    while (out.size() < kMaxFrame) {
        out += Hex(faults.Below(16), 1);
    }
    return out;
}

} // namespace

Controller::Controller(std::vector<StationAddress> stations, std::vector<Memory> &memories,
                       Faults &faults, Sender &sender, Trace &trace, Micros scanTime)
    : memories_(memories), faults_(faults), sender_(sender), trace_(trace), scanTime_(scanTime) {
    for (const StationAddress &address : stations) {
        stations_.push_back(Station{address, false});
    }
    memories_.resize(stations_.size());
}

void Controller::OnFrame(const Frame &frame, Micros now) {
    trace_.Frame(now, "in", frame.bytes);
    switch (frame.kind) {
    case FrameKind::Telegram:
        OnTelegram(frame.bytes, now);
        break;
    case FrameKind::Enq:
        OnEnq(frame.bytes, now);
        break;
    case FrameKind::Nak:
        OnHostNak(frame.bytes, now);
        break;
    case FrameKind::Noise:
        trace_.Note(now, "not a frame, ignored");
        break;
    case FrameKind::Overlong:
        trace_.Note(now, "frame without CR within %zu characters, discarded", kMaxFrame);
        break;
    }
}

void Controller::OnTelegram(const std::string &bytes, Micros now) {
    // Whatever the host says next, an answer still held back is stale.
    sender_.Abandon();
    // The long header of office 01, loop 02, unit 00 begins like the short
    // header of loop 01, unit 02; a short telegram can never continue like
    // a long one (its command byte is never 00), so long headers go first.
    std::optional<size_t> station;
    for (bool withOffice : {true, false}) {
        for (size_t i = 0; i < stations_.size() && !station; ++i) {
            const StationAddress &address = stations_[i].address;
            if ((address.office >= 0) == withOffice && AddressedTo(bytes, address)) {
                station = i;
            }
        }
    }
    if (!station) {
        trace_.Note(now, "telegram for another station, silent");
        return;
    }
    if (faults_.Roll(Fault::Silence)) {
        trace_.Note(now, "fault silence: telegram not heard");
        return;
    }
    const StationAddress &address = stations_[*station].address;
    pending_.reset();
    Request request;
    switch (ParseTelegram(bytes, address, request)) {
    case TelegramFault::Checksum:
        sender_.Send(BuildNak(address, kNakChecksum), now);
        return;
    case TelegramFault::Framing:
        sender_.Send(BuildNak(address, kNakFraming), now);
        return;
    case TelegramFault::UnknownCommand:
        sender_.Send(BuildNak(address, kNakProtocol), now);
        return;
    case TelegramFault::None:
        break;
    }
    if (faults_.Roll(Fault::Nak)) {
        const uint8_t code = static_cast<uint8_t>(1 + faults_.Below(8));
        trace_.Note(now, "fault nak: good telegram refused with code %02X", code);
        sender_.Send(BuildNak(address, code), now);
        return;
    }
    Pending pending;
    pending.station = *station;
    pending.response = Execute(*station, request, now);
    pending.readyAt = now + scanTime_;
    if (faults_.Roll(Fault::ExtraEot)) {
        pending.extraEots = 1 + faults_.Below(3);
        trace_.Note(now, "fault extra-eot: %u EOT before the answer", pending.extraEots);
    }
    pending_ = pending;
    lastAcknowledged_ = *station;
    sender_.Send(BuildAck(address), now);
}

std::string Controller::Execute(size_t index, const Request &request, Micros now) {
    Station &station = stations_[index];
    if (faults_.Roll(Fault::Busy)) {
        trace_.Note(now, "fault busy: request not executed");
        return BuildResponse(station.address, kResponseBusy, request.command, "");
    }
    switch (request.kind) {
    case RequestKind::ForcedRelease:
    case RequestKind::ReleaseOccupation:
        station.readOccupied = false;
        return BuildResponse(station.address, kResponseOk, request.command, "");
    case RequestKind::ReadOccupation:
        station.readOccupied = true;
        return BuildResponse(station.address, kResponseOk, request.command, "");
    case RequestKind::Read:
    case RequestKind::Write:
        break;
    }
    const bool withOccupation = request.command == 0x40 || request.command == 0x42;
    if (withOccupation && !station.readOccupied) {
        trace_.Note(now, "command %02X without read occupation", request.command);
        return BuildResponse(station.address, kResponseNotOccupied, request.command, "");
    }
    if (request.kind == RequestKind::Read) {
        std::string data;
        const Access access =
            memories_[index].Read(request.memory, request.address, request.count, data);
        if (access != Access::Ok) {
            trace_.Note(now, "read outside the memory: code %02X address %06X count %u",
                        request.memory, request.address, request.count);
            return BuildResponse(station.address, ResponseCodeOf(access), request.command, "");
        }
        return BuildResponse(station.address, kResponseOk, request.command, data);
    }
    const Access access =
        memories_[index].Write(request.memory, request.address, request.count, request.data);
    if (access != Access::Ok) {
        trace_.Note(now, "write outside the memory: code %02X address %06X count %u",
                    request.memory, request.address, request.count);
    }
    return BuildResponse(station.address, ResponseCodeOf(access), request.command, "");
}

std::optional<size_t> Controller::PolledStation(int office) const {
    if (lastAcknowledged_ && stations_[*lastAcknowledged_].address.office == office) {
        return lastAcknowledged_;
    }
    return std::nullopt;
}

void Controller::OnEnq(const std::string &bytes, Micros now) {
    std::optional<int> office = EnqOffice(bytes);
    std::optional<size_t> station = office ? PolledStation(*office) : std::nullopt;
    if (!station) {
        trace_.Note(now, "poll not for the station acknowledged last, silent");
        return;
    }
    if (faults_.Roll(Fault::Silence)) {
        trace_.Note(now, "fault silence: poll not heard");
        return;
    }
    const StationAddress &address = stations_[*station].address;
    if (!pending_ || pending_->station != *station) {
        // Nothing accepted to answer for: the host polls out of turn.
        sender_.Send(BuildNak(address, kNakProtocol), now);
        return;
    }
    if (now < pending_->readyAt || pending_->extraEots > 0) {
        if (now >= pending_->readyAt) {
            --pending_->extraEots;
        }
        sender_.Send(BuildEot(address), now);
        return;
    }
    std::string response = pending_->response;
    pending_.reset();
    if (faults_.Roll(Fault::Overlong)) {
        trace_.Note(now, "fault overlong: %zu characters without CR instead of the answer",
                    kMaxFrame);
        response = OverlongFrame(faults_);
    }
    sender_.Send(response, now);
}

void Controller::OnHostNak(const std::string &bytes, Micros now) {
    std::optional<int> office = HostNakOffice(bytes);
    std::optional<size_t> station = office ? PolledStation(*office) : std::nullopt;
    if (!station) {
        trace_.Note(now, "NAK not for the station acknowledged last, ignored");
        return;
    }
    sender_.Abandon();
    if (pending_) {
        trace_.Note(now, "answer dropped on the host's NAK");
        pending_.reset();
    }
}

} // namespace htsim
