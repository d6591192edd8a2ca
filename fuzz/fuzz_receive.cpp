// Controller bytes of any kind through the reception of whole messages.
#include "link/frames.h"
#include "tests/support/fake_platform.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    testing_support::ResetLine();
    auto &line = testing_support::Line();
    platform::PortHandle port = platform::OpenPort("COM1");
    for (size_t i = 0; i < size; ++i) {
        line.input.push_back(data[i]);
    }
    // Guard bytes around the buffer show any write past its end.
    struct {
        char before[16];
        char buffer[QOR_BUFFER_SIZE];
        char after[16];
    } guarded;
    std::memset(&guarded, 0x5A, sizeof guarded);
    int32_t length = -1;
    while (qor::Receive(guarded.buffer, &length, port) != 2) {
        if (length > QOR_BUFFER_SIZE) {
            std::abort();
        }
    }
    for (char c : guarded.after) {
        if (c != 0x5A) {
            std::abort();
        }
    }
    return 0;
}
