#include "hex.h"

namespace htsim {

void AppendHex(std::string &out, uint32_t value, int digits) {
    static const char kDigits[] = "0123456789ABCDEF";
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
        out.push_back(kDigits[(value >> shift) & 0xF]);
    }
}

std::string Hex(uint32_t value, int digits) {
    std::string out;
    AppendHex(out, value, digits);
    return out;
}

bool ParseHex(std::string_view text, uint32_t &value) {
    if (text.empty() || text.size() > 8) {
        return false;
    }
    uint32_t result = 0;
    for (char c : text) {
        uint32_t digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<uint32_t>(c - '0');
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<uint32_t>(c - 'A' + 10);
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<uint32_t>(c - 'a' + 10);
        } else {
            return false;
        }
        result = result << 4 | digit;
    }
    value = result;
    return true;
}

} // namespace htsim
