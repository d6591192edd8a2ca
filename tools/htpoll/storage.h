// The host's value storage behind IoRequest.data, as the driver reads and
// fills it, and the names and texts htpoll shows for its elements.
#pragma once

#include "options.h"

#include <cstdint>
#include <string>
#include <vector>

namespace htpoll {

// Bytes of a packed bit block: eight elements to a byte.
size_t Groups(int32_t count);

// The kind of value the driver stores for a request: a single gate by its
// host data type (6 is digital), a block by the width of its memory.
Kind KindOfRequest(bool block, int32_t gateType, int32_t width);

// Storage bytes of a request. A single gate is one 32-bit cell whatever its
// kind; blocks are packed bits, 16-bit units or 32-bit cells.
size_t StorageSize(bool block, Kind kind, int32_t count);

// Puts values (already range-checked) where the driver takes them from: a
// single bit or word in the second 16-bit unit of the cell (the first unit is
// left alone), a single double word in the whole cell, block elements one
// after another.
void StoreValues(bool block, Kind kind, const std::vector<int64_t> &values,
                 std::vector<uint8_t> &storage);

// Takes `count` values out of storage the driver filled (one for a single gate).
std::vector<uint32_t> LoadValues(bool block, Kind kind, int32_t count,
                                 const std::vector<uint8_t> &storage);

// The gate address text of element `index` of a block starting at `gate`:
// AWR00010 element 2 is AWR00012, ALR00020 element 1 is ALR00022. Where the
// text cannot say it (an address part that is not plain digits, an address
// beyond five digits), "GATE+index".
std::string ElementName(const std::string &gate, int32_t index);

// "0x1", "0x04D2" or "0x12345678": hex digits as wide as the kind.
std::string HexText(Kind kind, uint32_t value);

} // namespace htpoll
