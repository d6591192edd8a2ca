// INT files of any content: binary bytes, endless lines, 0x1A, CR-only ends.
#include "config/int_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

// The driver looks for the file in the working directory: work in a private
// directory made once per process.
void EnterScratchDirectory() {
    static bool entered = false;
    if (entered) {
        return;
    }
    char pattern[] = "/tmp/qorht-fuzz-XXXXXX";
    if (mkdtemp(pattern) == nullptr || chdir(pattern) != 0) {
        std::abort();
    }
    entered = true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    EnterScratchDirectory();
    std::FILE *file = std::fopen("QORHT.INT", "wb");
    if (file == nullptr) {
        std::abort();
    }
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    static DriverContext context;
    DriverRequest request{};
    request.context = &context;
    request.instance = 7;
    qor::ReadIntFile(&request);
    return 0;
}
