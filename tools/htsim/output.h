// What the controller hands to the line: chunks of bytes with the earliest
// moment they may start and a pause before them. A frame split by a pause is
// two chunks of one frame; a late answer is a cancellable chunk.
#pragma once

#include "sim_time.h"

#include <cstdint>
#include <string>

namespace htsim {

struct Chunk {
    uint64_t frame = 0; // chunks of one frame share the number
    std::string bytes;
    Micros notBefore = 0;     // absolute earliest start
    Micros pauseBefore = 0;   // idle line time after the previous chunk
    bool cancellable = false; // a held-back answer the host may overtake
};

class Output {
public:
    virtual ~Output() = default;
    virtual void Enqueue(Chunk chunk) = 0;
    // Drops every cancellable frame none of whose bytes has gone out yet.
    virtual void CancelHeld() = 0;
};

} // namespace htsim
