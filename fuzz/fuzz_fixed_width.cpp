// The one number conversion: never reads past its end, and what it reports
// consumed lies inside the text.
#include "config/fixed_width.h"

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) {
        return 0;
    }
    unsigned base = (data[0] & 1) ? 16 : 10;
    unsigned width = (data[0] >> 1) % 12;
    // An exact-size copy lets AddressSanitizer see a read past the end.
    std::vector<char> text(data + 1, data + size);
    const char *begin = text.data();
    const char *end = begin + text.size();
    qor::ScanResult result = qor::ScanNumber(begin, end, base, width);
    if (result.next < begin || result.next > end || (!result.ok && result.next != begin)) {
        std::abort();
    }
    return 0;
}
