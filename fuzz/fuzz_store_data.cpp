// Data sections of any content decoded into host storage of every kind.
#include "exchange/value_encoding.h"

#include <algorithm>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 3) {
        return 0;
    }
    static const int32_t kWidths[] = {1, 16, 32};
    IoRequest request{};
    request.gateAddress.width = kWidths[data[0] % 3];
    request.gateAddress.bit = -1;
    request.gateType = data[1] % 8;
    int32_t mode = (data[2] & 1) ? 5 : 6;
    // The engine checks the response length before it decodes; the counts
    // it lets through stay within the block limit of the width.
    static const int32_t kLimits[] = {240, 120, 60};
    request.count = (data[2] >> 1) % (kLimits[data[0] % 3] + 1);
    // The length rule decides by count, the decoding by mode and width, so a
    // single value or a block of one may be read from up to 8 characters
    // whatever the rule gave; in the driver those lie inside rxBuffer, behind
    // the data section (checksum, CR, older bytes).
    size_t expected = std::max<size_t>(static_cast<size_t>(qor::DataSectionLength(request)), 8);
    if (expected > size - 3) {
        return 0;
    }
    // Nothing behind the text: AddressSanitizer sees any read past it.
    std::vector<char> text(data + 3, data + 3 + expected);
    uint32_t storage[64];
    request.data = storage;
    qor::StoreData(&request, text.data(), text.data() + text.size(), mode);
    return 0;
}
