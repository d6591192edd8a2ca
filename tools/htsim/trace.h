// The --trace log on standard error: every frame in and out with a
// millisecond time stamp since start-up, and a note for every injected fault
// and every frame the controller passes over. Standard output stays clean.
#pragma once

#include "sim_time.h"

#include <cstdio>
#include <string_view>

namespace htsim {

class Trace {
public:
    Trace(bool enabled, std::FILE *out, Micros start)
        : enabled_(enabled), out_(out), start_(start) {}
    bool enabled() const { return enabled_; }
    // direction "in" (from the host) or "out" (to the host)
    void Frame(Micros at, const char *direction, std::string_view bytes);
    void Note(Micros at, const char *format, ...) __attribute__((format(printf, 3, 4)));

private:
    bool enabled_;
    std::FILE *out_;
    Micros start_;
};

} // namespace htsim
