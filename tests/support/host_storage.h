// Host value storage in the host's byte order, built from typed values.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace testing_support {

inline std::vector<uint8_t> Units(const std::vector<uint16_t> &units) {
    std::vector<uint8_t> bytes(units.size() * 2);
    std::memcpy(bytes.data(), units.data(), bytes.size());
    return bytes;
}

inline std::vector<uint8_t> Cells(const std::vector<uint32_t> &cells) {
    std::vector<uint8_t> bytes(cells.size() * 4);
    std::memcpy(bytes.data(), cells.data(), bytes.size());
    return bytes;
}

} // namespace testing_support
