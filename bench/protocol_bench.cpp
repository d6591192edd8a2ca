// CPU cost of the protocol work that runs per transaction, without the line:
// building telegrams, receiving a response, decoding the values.
#include "exchange/telegrams.h"
#include "exchange/value_encoding.h"
#include "link/frames.h"
#include "tests/support/fake_platform.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

namespace {

DriverContext &Context() {
    static DriverContext context = [] {
        DriverContext c{};
        std::memset(c.stations, 0xFF, sizeof c.stations);
        c.stations['A'].loop = 1;
        c.stations['A'].unit = 2;
        c.occupationEnabled = 1;
        return c;
    }();
    return context;
}

void BuildBlockWrite(benchmark::State &state) {
    static uint32_t cells[60];
    IoRequest io{};
    io.gateAddress = {'A', 18, 0, -1, 32};
    io.gateType = 4;
    io.count = 60;
    io.data = cells;
    DriverRequest request{};
    request.context = &Context();
    request.params = &io;
    int32_t length = 0;
    for (auto _ : state) {
        qor::BuildWriteRequest(&request, Context().txBuffer, &length, QOR_BLOCK_WRITE);
        benchmark::DoNotOptimize(length);
    }
}
BENCHMARK(BuildBlockWrite);

void ReceiveAndDecodeWordBlock(benchmark::State &state) {
    std::string frame = "\x02"
                        "0010200000040";
    frame += std::string(480, '1');
    uint8_t sum = qor::Checksum(frame.data() + 1, static_cast<uint32_t>(frame.size() - 1));
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", sum);
    frame += hex;
    frame += '\r';
    testing_support::ResetLine();
    platform::PortHandle port = platform::OpenPort("COM1");
    static uint16_t words[120];
    IoRequest io{};
    io.gateAddress = {'A', 10, 0, -1, 16};
    io.count = 120;
    io.data = words;
    for (auto _ : state) {
        testing_support::Line().Feed(frame);
        int32_t length = 0;
        qor::Receive(Context().rxBuffer, &length, port);
        qor::StoreData(&io, Context().rxBuffer + 13, Context().rxBuffer + length, QOR_BLOCK_READ);
        benchmark::DoNotOptimize(words[0]);
    }
}
BENCHMARK(ReceiveAndDecodeWordBlock);

} // namespace

BENCHMARK_MAIN();
