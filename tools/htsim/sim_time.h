// Time in the simulator: microseconds on the monotonic clock. Every part
// takes the current time as an argument, so the protocol logic can be driven
// by tests without waiting.
#pragma once

#include <cstdint>

namespace htsim {

using Micros = std::int64_t;

constexpr Micros kMillisecond = 1000;

Micros MonotonicNow();

} // namespace htsim
