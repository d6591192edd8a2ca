// The stations of an INT file, as far as htpoll needs them: to start the
// simulator with a controller behind every station the driver will address.
// The driver reads the file itself; this reading only has to agree with it on
// which lines define stations.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace htpoll {

struct SimStation {
    unsigned loop = 0xFF;
    unsigned unit = 0xFF;
    unsigned office = 0xFF; // 0xFF: no office number, the short frame header
    bool operator==(const SimStation &other) const {
        return loop == other.loop && unit == other.unit && office == other.office;
    }
};

// The distinct network addresses of the stations that the file defines, in
// the order of their station characters. Later lines for the same station
// override earlier ones; a line without office keeps an earlier office, as in
// the driver's station table.
std::vector<SimStation> ReadIntStations(std::FILE *file);

// The names under which the driver looks for an instance's INT file, in the
// order it tries them.
std::vector<std::string> IntFileNames(uint32_t instance);

// The simulator's --station argument: "LL:UU" or "LL:UU:OO", hex.
std::string SimStationArgument(const SimStation &station);

} // namespace htpoll
