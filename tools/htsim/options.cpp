#include "options.h"

#include "hex.h"
#include "image.h"

#include <cerrno>
#include <cstdlib>

namespace htsim {
namespace {

bool ParseInteger(const std::string &text, long long low, long long high, long long &value) {
    if (text.empty() || text[0] == ' ' || text[0] == '+') {
        return false;
    }
    errno = 0;
    char *end = nullptr;
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed < low || parsed > high) {
        return false;
    }
    value = parsed;
    return true;
}

bool ParseProbability(const std::string &text, double &value) {
    if (text.empty() || text[0] == ' ') {
        return false;
    }
    errno = 0;
    char *end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    // The negated comparison also refuses NaN.
    if (errno != 0 || *end != '\0' || !(parsed >= 0.0 && parsed <= 1.0)) {
        return false;
    }
    value = parsed;
    return true;
}

struct FaultOption {
    const char *name;
    Fault fault;
};

constexpr FaultOption kFaultOptions[] = {
    {"--drop", Fault::Drop},
    {"--corrupt", Fault::Corrupt},
    {"--garbage", Fault::Garbage},
    {"--split", Fault::Split},
    {"--silence", Fault::Silence},
    {"--late", Fault::Late},
    {"--nak", Fault::Nak},
    {"--busy", Fault::Busy},
    {"--extra-eot", Fault::ExtraEot},
    {"--overlong", Fault::Overlong},
};

} // namespace

ParseOutcome ParseOptions(const std::vector<std::string> &arguments, Options &options,
                          std::string &message) {
    bool baudGiven = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        std::string value;
        bool inlineValue = false;
        if (name.rfind("--", 0) == 0) {
            const size_t equals = name.find('=');
            if (equals != std::string::npos) {
                value = name.substr(equals + 1);
                name = name.substr(0, equals);
                inlineValue = true;
            }
        }
        auto flag = [&]() {
            if (inlineValue) {
                message = "option " + name + " takes no value";
                return false;
            }
            return true;
        };
        auto take = [&]() {
            if (inlineValue) {
                return true;
            }
            if (i + 1 >= arguments.size()) {
                message = "option " + name + " needs a value";
                return false;
            }
            value = arguments[++i];
            return true;
        };
        auto bad = [&](const char *expected) {
            message = "bad value '" + value + "' for " + name + " (expected " + expected + ")";
            return ParseOutcome::BadUsage;
        };
        long long number = 0;
        if (name == "--help" || name == "-h") {
            return ParseOutcome::Help;
        } else if (name == "--trace") {
            if (!flag()) {
                return ParseOutcome::BadUsage;
            }
            options.trace = true;
        } else if (name == "--stdin-eof-exits") {
            if (!flag()) {
                return ParseOutcome::BadUsage;
            }
            options.stdinEofExits = true;
        } else if (name == "--station") {
            StationAddress station;
            if (!take()) {
                return ParseOutcome::BadUsage;
            }
            if (!ParseStationText(value, station)) {
                return bad("LL:UU or LL:UU:OO, two hex digits each");
            }
            options.stations.push_back(station);
        } else if (name == "--device" || name == "--image") {
            if (!take()) {
                return ParseOutcome::BadUsage;
            }
            if (value.empty()) {
                return bad("a path");
            }
            (name == "--device" ? options.device : options.image) = value;
        } else if (name == "--baud") {
            if (!take()) {
                return ParseOutcome::BadUsage;
            }
            if (!ParseInteger(value, 1, 4000000, number)) {
                return bad("a rate from 1 to 4000000");
            }
            options.format.baud = static_cast<long>(number);
            baudGiven = true;
        } else if (name == "--data-bits") {
            if (!take()) {
                return ParseOutcome::BadUsage;
            }
            if (!ParseInteger(value, 5, 8, number)) {
                return bad("5 to 8");
            }
            options.format.dataBits = static_cast<int>(number);
        } else if (name == "--stop-bits") {
            if (!take()) {
                return ParseOutcome::BadUsage;
            }
            if (!ParseInteger(value, 1, 2, number)) {
                return bad("1 or 2");
            }
            options.format.stopBits = static_cast<int>(number);
        } else if (name == "--parity") {
            if (!take()) {
                return ParseOutcome::BadUsage;
            }
            static const std::pair<const char *, char> kParities[] = {
                {"none", 'N'}, {"odd", 'O'}, {"even", 'E'}, {"mark", 'M'}, {"space", 'S'}};
            bool known = false;
            for (const auto &parity : kParities) {
                if (value == parity.first) {
                    options.format.parity = parity.second;
                    known = true;
                }
            }
            if (!known) {
                return bad("none, odd, even, mark or space");
            }
        } else if (name == "--scan-ms" || name == "--split-ms" || name == "--late-ms") {
            if (!take()) {
                return ParseOutcome::BadUsage;
            }
            if (!ParseInteger(value, 0, 600000, number)) {
                return bad("milliseconds from 0 to 600000");
            }
            Micros &target = name == "--scan-ms"    ? options.scanTime
                             : name == "--split-ms" ? options.faults.split
                                                    : options.faults.late;
            target = number * kMillisecond;
        } else if (name == "--seed") {
            if (!take()) {
                return ParseOutcome::BadUsage;
            }
            errno = 0;
            char *end = nullptr;
            const unsigned long long seed = std::strtoull(value.c_str(), &end, 10);
            if (value.empty() || value[0] < '0' || value[0] > '9' || errno != 0 || *end != '\0') {
                return bad("a non-negative integer");
            }
            options.faults.seed = seed;
        } else {
            const FaultOption *fault = nullptr;
            for (const FaultOption &candidate : kFaultOptions) {
                if (name == candidate.name) {
                    fault = &candidate;
                }
            }
            if (fault == nullptr) {
                message = "unknown option '" + arguments[i] + "'";
                return ParseOutcome::BadUsage;
            }
            if (!take()) {
                return ParseOutcome::BadUsage;
            }
            double p = 0;
            if (!ParseProbability(value, p)) {
                return bad("a probability from 0 to 1");
            }
            options.faults[fault->fault] = p;
        }
    }
    if (options.stations.empty()) {
        message = "no station given (e.g. --station 01:02)";
        return ParseOutcome::BadUsage;
    }
    // A real device paces itself; only a pseudo-terminal needs htsim's
    // pacing, and only when a rate is asked for.
    if (!options.device.empty() && !baudGiven) {
        options.format.baud = 19200;
    }
    return ParseOutcome::Run;
}

std::string HelpText() {
    return R"(usage: htsim --station LL:UU[:OO] [--station ...] [options]

Simulates H-series controller stations on a serial line. Without --device it
creates a pseudo-terminal and prints its path as the first line of standard
output; the host opens that path.

Stations and line:
  --station LL:UU[:OO]  a station by loop, unit and optional office, two hex
                        digits each (repeatable; at least one)
  --device PATH         serve a real serial device instead of a pseudo-terminal
  --baud N              line speed; on a pseudo-terminal every character then
                        takes its real line time (default: no pacing; a
                        device runs at 19200)
  --data-bits N         5 to 8 (default 7)
  --parity P            none, odd, even, mark or space (default even)
  --stop-bits N         1 or 2 (default 1)
  --scan-ms N           controller turnaround: polls get EOT for N ms after
                        a request is accepted (default 0)
  --image FILE          load memory values from FILE at start, save them on
                        exit; lines "WR 0010 1234" or "BR 00010 1"
  --trace               every frame in and out on standard error
  --stdin-eof-exits     exit when standard input reaches end of file
  --help                this text

Faults (probability per frame, 0 to 1; default 0):
  --drop P         one character of a frame lost
  --corrupt P      one character of a frame changed (never with a drop)
  --garbage P      junk characters before a frame
  --split P        a pause of --split-ms N (default 50) inside a frame
  --silence P      a telegram or poll goes unanswered
  --late P         a frame held back --late-ms N (default 1500); dropped if
                   the host speaks first
  --nak P          a good telegram refused with a NAK
  --busy P         response code 05 instead of executing the request
  --extra-eot P    1 to 3 EOTs before a ready answer
  --overlong P     600 characters without CR instead of the answer
  --seed N         seed of the fault generator (default 1)

Exit status: 0 after SIGTERM, SIGINT or (with --stdin-eof-exits) end of
input; 1 when the line or the image cannot be used; 2 for bad usage.

Example:
  htsim --station 01:02 --station 01:03:05 --baud 19200 --trace \
        --corrupt 0.05 --seed 7 --image plc.img
)";
}

} // namespace htsim
