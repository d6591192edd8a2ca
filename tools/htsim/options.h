// htsim's command line.
#pragma once

#include "faults.h"
#include "frames.h"
#include "line.h"
#include "sim_time.h"

#include <string>
#include <vector>

namespace htsim {

struct Options {
    std::vector<StationAddress> stations;
    std::string device; // empty: a new pseudo-terminal
    LineFormat format;
    Micros scanTime = 0;
    std::string image;
    bool trace = false;
    bool stdinEofExits = false;
    FaultRates faults;
};

enum class ParseOutcome { Run, Help, BadUsage };

// On BadUsage `message` holds one line saying what is wrong.
ParseOutcome ParseOptions(const std::vector<std::string> &arguments, Options &options,
                          std::string &message);
std::string HelpText();

} // namespace htsim
