// The controller's side of the protocol for one or more stations sharing a
// line.
//
// A telegram addressed to one of the stations is checked and answered with
// ACK (accepted) or NAK (02 checksum, 03 framing, 05 unknown command). An
// accepted request is executed at once and its answer becomes ready one
// scan time later; until then every ENQ of the host gets EOT. ENQ and host
// NAK frames carry no loop and unit, so they concern the station whose
// telegram was acknowledged last, provided the office they name matches.
// A NAK from the host, or a new telegram, drops an answer not yet sent.
//
// Response codes: 00 done; 02 memory code unknown or address range outside
// the memory; 04 a command with occupation (40, 42) while the station's
// read occupation is not held; 05 busy (injected), nothing executed.
// Occupation: 1701 releases every occupation, 1601 takes read occupation,
// 1600 gives it back. Commands A0 and A2 work without occupation.
#pragma once

#include "faults.h"
#include "frames.h"
#include "memory.h"
#include "sim_time.h"
#include "trace.h"

#include <optional>
#include <string>
#include <vector>

namespace htsim {

constexpr uint8_t kResponseOk = 0x00;
constexpr uint8_t kResponseBadAddress = 0x02;
constexpr uint8_t kResponseNotOccupied = 0x04;
constexpr uint8_t kResponseBusy = 0x05;

class Controller {
public:
    // `memories` holds one memory per station, in the order of `stations`:
    // every station is a controller of its own.
    Controller(std::vector<StationAddress> stations, std::vector<Memory> &memories, Faults &faults,
               Sender &sender, Trace &trace, Micros scanTime);

    void OnFrame(const Frame &frame, Micros now);

    bool ReadOccupied(size_t station) const { return stations_[station].readOccupied; }

private:
    struct Station {
        StationAddress address;
        bool readOccupied = false;
    };
    struct Pending {
        size_t station = 0;
        std::string response;
        Micros readyAt = 0;
        uint32_t extraEots = 0;
    };

    std::vector<Station> stations_;
    std::vector<Memory> &memories_;
    Faults &faults_;
    Sender &sender_;
    Trace &trace_;
    Micros scanTime_;
    std::optional<size_t> lastAcknowledged_;
    std::optional<Pending> pending_;

    void OnTelegram(const std::string &bytes, Micros now);
    void OnEnq(const std::string &bytes, Micros now);
    void OnHostNak(const std::string &bytes, Micros now);
    // Runs an accepted request; returns the response frame.
    std::string Execute(size_t station, const Request &request, Micros now);
    // The last acknowledged station when `office` matches it.
    std::optional<size_t> PolledStation(int office) const;
};

} // namespace htsim
