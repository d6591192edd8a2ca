#include "sim_time.h"

#include <ctime>

namespace htsim {

Micros MonotonicNow() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<Micros>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

} // namespace htsim
