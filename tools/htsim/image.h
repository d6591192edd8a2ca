// Image files: the memories of all simulated stations in one text file.
//
//   # comment
//   station 01:02          values below belong to this station
//   WR 0010 1234           word area, hex word address, hex value
//   BR 00010 1             bit view, hex bit address, 0 or 1
//   station 01:03:05
//   TC 0064 0100
//
// Values before the first station line belong to the first station given on
// the command line. Word areas WX WY WR WL WM TC; bit views BX BY BL BM (bits
// of the X, Y, L and M words, bit address = word * 16 + bit) and the bit
// areas BR BT DF DN. Addresses are those of the telegrams, in hex (TC and
// BT too). Saving writes every station's nonzero words and bits.
#pragma once

#include "frames.h"
#include "memory.h"

#include <string>
#include <string_view>
#include <vector>

namespace htsim {

// `memories` has one entry per station, in the order of `stations`.
bool LoadImageText(std::string_view text, const std::vector<StationAddress> &stations,
                   std::vector<Memory> &memories, std::string &error);
std::string ImageText(const std::vector<StationAddress> &stations,
                      const std::vector<Memory> &memories);

bool LoadImageFile(const std::string &path, const std::vector<StationAddress> &stations,
                   std::vector<Memory> &memories, std::string &error);
// Written beside the target and renamed over it, so that a crash while
// saving never leaves half an image behind.
bool SaveImageFile(const std::string &path, const std::vector<StationAddress> &stations,
                   const std::vector<Memory> &memories, std::string &error);

// "LL:UU" or "LL:UU:OO", two hex digits each.
bool ParseStationText(std::string_view text, StationAddress &station);
std::string StationText(const StationAddress &station);

} // namespace htsim
