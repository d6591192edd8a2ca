#include "config/fixed_width.h"

namespace qor {
namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int DigitValue(char c, unsigned base) {
    int v = -1;
    if (c >= '0' && c <= '9') {
        v = c - '0';
    } else if (c >= 'a' && c <= 'f') {
        v = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
        v = c - 'A' + 10;
    }
    return (v >= 0 && static_cast<unsigned>(v) < base) ? v : -1;
}

} // namespace

ScanResult ScanNumber(const char *text, const char *end, unsigned base, unsigned width) {
    const char *p = text;
    while (p < end && IsSpace(*p)) {
        ++p;
    }
    unsigned left = width;
    bool negative = false;
    if (left > 0 && p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
        --left;
    }
    // The prefix counts only when a hex digit follows it; a lone "0x" is the
    // digit 0 followed by an 'x' that ends the number.
    if (base == 16 && left > 0 && end - p >= 3 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') &&
        DigitValue(p[2], 16) >= 0) {
        p += 2;
    }
    uint32_t value = 0;
    unsigned digits = 0;
    while (left > 0 && p < end) {
        int d = DigitValue(*p, base);
        if (d < 0) {
            break;
        }
        value = value * base + static_cast<uint32_t>(d);
        ++p;
        --left;
        ++digits;
    }
    if (digits == 0) {
        return {false, 0, text};
    }
    return {true, negative ? 0u - value : value, p};
}

void PutHex(char *out, uint32_t value, unsigned digits) {
    static const char kDigits[] = "0123456789ABCDEF";
    for (unsigned i = digits; i-- > 0;) {
        out[i] = kDigits[value & 0xF];
        value >>= 4;
    }
}

} // namespace qor
