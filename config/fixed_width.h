// The one conversion of numbers out of text, used for INT file lines, gate
// addresses, data sections and the response, checksum and NAK fields.
//
// A conversion with a maximum field width skips leading white space, takes
// one optional sign (counted toward the width; a minus negates modulo 2^32),
// for base 16 an optional 0x/0X prefix (not counted), then at most the width's
// worth of digits of its base. It stops at the first other character or at
// `end`, and fails only when it read no digit. Deliberately not sscanf: C
// libraries differ in widths, signs and prefixes.
#pragma once

#include <cstdint>

namespace qor {

struct ScanResult {
    bool ok;
    uint32_t value;
    const char *next; // first character not consumed
};

ScanResult ScanNumber(const char *text, const char *end, unsigned base, unsigned width);

inline ScanResult ScanHex(const char *text, const char *end, unsigned width) {
    return ScanNumber(text, end, 16, width);
}
inline ScanResult ScanDecimal(const char *text, const char *end, unsigned width) {
    return ScanNumber(text, end, 10, width);
}

// Upper-case hexadecimal, zero-padded to `digits` (1 to 8), no terminator.
void PutHex(char *out, uint32_t value, unsigned digits);

} // namespace qor
