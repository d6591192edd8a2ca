#include "int_stations.h"

#include <array>
#include <cctype>

namespace htpoll {

std::vector<SimStation> ReadIntStations(std::FILE *file) {
    std::array<SimStation, 256> table{};
    // Pieces of at most 255 characters, the LF included, as the driver reads.
    char line[256];
    bool ended = false;
    while (!ended && std::fgets(line, sizeof line, file) != nullptr) {
        for (char *p = line; *p != '\0'; ++p) {
            if (*p == 0x1A) { // the end of a text file
                *p = '\0';
                ended = true;
                break;
            }
        }
        char occupation[3];
        unsigned number = 0;
        if (std::sscanf(line, "OCCUPATION = %1c%1c%1c", &occupation[0], &occupation[1],
                        &occupation[2]) >= 2 ||
            std::sscanf(line, "IFG= %u", &number) == 1 ||
            std::sscanf(line, "IFG = %u", &number) == 1) {
            continue;
        }
        char station = 0;
        unsigned loop = 0;
        unsigned unit = 0;
        unsigned office = 0;
        int taken = std::sscanf(line, "%c : %2x %2x %2x", &station, &loop, &unit, &office);
        if (taken < 3 || station == '*') {
            continue;
        }
        SimStation &entry =
            table[static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(station)))];
        entry.loop = loop & 0xFF;
        entry.unit = unit & 0xFF;
        if (taken == 4) {
            entry.office = office & 0xFF;
        }
    }
    std::vector<SimStation> stations;
    for (const SimStation &entry : table) {
        bool defined = entry.loop != 0xFF || entry.office != 0xFF;
        bool known = false;
        for (const SimStation &seen : stations) {
            known = known || seen == entry;
        }
        if (defined && !known) {
            stations.push_back(entry);
        }
    }
    return stations;
}

std::vector<std::string> IntFileNames(uint32_t instance) {
    char padded[32];
    char plain[32];
    std::snprintf(padded, sizeof padded, "QORHT%02u.INT", static_cast<unsigned>(instance));
    std::snprintf(plain, sizeof plain, "QORHT%u.INT", static_cast<unsigned>(instance));
    return {padded, plain, "QORHT.INT"};
}

std::string SimStationArgument(const SimStation &station) {
    char text[16];
    if (station.office == 0xFF) {
        std::snprintf(text, sizeof text, "%02X:%02X", station.loop, station.unit);
    } else {
        std::snprintf(text, sizeof text, "%02X:%02X:%02X", station.loop, station.unit,
                      station.office);
    }
    return text;
}

} // namespace htpoll
