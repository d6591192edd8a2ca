// Fixed-width hexadecimal text, the number format of every protocol field.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace htsim {

// Appends `value` as exactly `digits` upper-case hex digits (high digits
// beyond `digits` are dropped).
void AppendHex(std::string &out, uint32_t value, int digits);
std::string Hex(uint32_t value, int digits);
// Strict: every character a hex digit (either case), 1 to 8 of them.
bool ParseHex(std::string_view text, uint32_t &value);

} // namespace htsim
