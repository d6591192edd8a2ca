#include "image.h"

#include "hex.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace htsim {
namespace {

bool ParseByte(std::string_view text, uint8_t &value) {
    uint32_t parsed;
    if (text.size() != 2 || !ParseHex(text, parsed)) {
        return false;
    }
    value = static_cast<uint8_t>(parsed);
    return true;
}

} // namespace

bool ParseStationText(std::string_view text, StationAddress &station) {
    if ((text.size() != 5 && text.size() != 8) || text[2] != ':' ||
        (text.size() == 8 && text[5] != ':')) {
        return false;
    }
    StationAddress parsed;
    if (!ParseByte(text.substr(0, 2), parsed.loop) || !ParseByte(text.substr(3, 2), parsed.unit)) {
        return false;
    }
    if (text.size() == 8) {
        uint8_t office;
        if (!ParseByte(text.substr(6, 2), office)) {
            return false;
        }
        parsed.office = office;
    }
    station = parsed;
    return true;
}

std::string StationText(const StationAddress &station) {
    std::string out = Hex(station.loop, 2) + ":" + Hex(station.unit, 2);
    if (station.office >= 0) {
        out += ":" + Hex(static_cast<uint32_t>(station.office), 2);
    }
    return out;
}

bool LoadImageText(std::string_view text, const std::vector<StationAddress> &stations,
                   std::vector<Memory> &memories, std::string &error) {
    std::istringstream in{std::string(text)};
    std::string line;
    size_t current = 0;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        std::istringstream fields(line);
        std::string keyword, station, rest;
        if ((fields >> keyword) && keyword == "station") {
            StationAddress address;
            bool found = false;
            if ((fields >> station) && !(fields >> rest) && ParseStationText(station, address)) {
                for (size_t i = 0; i < stations.size() && !found; ++i) {
                    if (stations[i] == address) {
                        current = i;
                        found = true;
                    }
                }
            }
            if (!found) {
                error = "line " + std::to_string(number) + ": \"" + line +
                        "\" names no station given with --station";
                return false;
            }
            continue;
        }
        if (current >= memories.size() || !memories[current].ApplyImageLine(line)) {
            error = "line " + std::to_string(number) + ": expected e.g. \"WR 0010 1234\", " +
                    "\"BR 00010 1\" or \"station 01:02\", got \"" + line + "\"";
            return false;
        }
    }
    return true;
}

std::string ImageText(const std::vector<StationAddress> &stations,
                      const std::vector<Memory> &memories) {
    std::string out = "# htsim memory image: area, hex address, hex value\n";
    for (size_t i = 0; i < stations.size() && i < memories.size(); ++i) {
        out += "station " + StationText(stations[i]) + "\n" + memories[i].ImageLines();
    }
    return out;
}

bool LoadImageFile(const std::string &path, const std::vector<StationAddress> &stations,
                   std::vector<Memory> &memories, std::string &error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    std::stringstream content;
    content << in.rdbuf();
    if (!LoadImageText(content.str(), stations, memories, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

bool SaveImageFile(const std::string &path, const std::vector<StationAddress> &stations,
                   const std::vector<Memory> &memories, std::string &error) {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << ImageText(stations, memories);
        out.flush();
        if (!out) {
            error = "cannot write " + temporary;
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = "cannot replace " + path;
        return false;
    }
    return true;
}

} // namespace htsim
