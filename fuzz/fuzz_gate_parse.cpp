// Gate address texts of any content and length through both address parsers.
#include "gates/gate_parser.h"

#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static DriverContext context;
    std::memset(context.stations, 0xFF, sizeof context.stations);
    context.stations[static_cast<unsigned char>('A')].loop = 1;
    context.stations[static_cast<unsigned char>('B')].office = 5;
    if (size < 8) {
        return 0;
    }
    ParseRequest parse{};
    std::memcpy(&parse.gateType, data, 4);
    std::memcpy(&parse.blockSize, data + 4, 4);
    std::string text(reinterpret_cast<const char *>(data + 8), size - 8);
    parse.addressText = text.c_str();
    DriverRequest request{};
    request.context = &context;
    request.params = &parse;
    qor::SingleParse(&request);
    qor::BlockParse(&request);
    return 0;
}
