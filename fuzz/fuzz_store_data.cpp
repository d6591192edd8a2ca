// Data sections of any content decoded into host storage of every kind.
#include "exchange/value_encoding.h"

#include <cstdlib>
#include <cstring>

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
    // The engine hands StoreData a data section of exactly the expected
    // length; make the count fit what the input carries.
    request.count = (data[2] >> 1) % 121;
    int32_t expected = qor::DataSectionLength(request);
    if (expected < 0 || static_cast<size_t>(expected) > size - 3) {
        return 0;
    }
    char text[QOR_BUFFER_SIZE];
    std::memcpy(text, data + 3, static_cast<size_t>(expected));
    uint32_t storage[QOR_BUFFER_SIZE / 4 + 1];
    request.data = storage;
    qor::StoreData(&request, text, mode);
    return 0;
}
