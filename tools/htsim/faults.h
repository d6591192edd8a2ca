// Fault injection. Every probability is per frame and drawn from one
// seeded generator, so a run with the same options and the same traffic
// makes the same faults.
#pragma once

#include "output.h"
#include "sim_time.h"
#include "trace.h"

#include <cstdint>
#include <string>

namespace htsim {

enum class Fault {
    Drop,     // one character of a frame sent is lost
    Corrupt,  // one character of a frame sent is changed (never with Drop)
    Garbage,  // printable junk before a frame sent
    Split,    // a frame sent pauses in the middle
    Silence,  // a frame received goes unanswered
    Late,     // a frame sent is held back
    Nak,      // a good telegram is refused with a NAK
    Busy,     // a request is answered with response code 05, not executed
    ExtraEot, // the host's polls get EOTs even though the answer is ready
    Overlong, // the answer is replaced by 600 characters without CR
    Count
};

const char *FaultName(Fault fault);

struct FaultRates {
    double probability[static_cast<int>(Fault::Count)] = {};
    Micros split = 50 * kMillisecond;
    Micros late = 1500 * kMillisecond;
    uint64_t seed = 1;

    double &operator[](Fault fault) { return probability[static_cast<int>(fault)]; }
    double operator[](Fault fault) const { return probability[static_cast<int>(fault)]; }
};

// splitmix64: small, fast and the same on every platform, unlike the
// standard library's distributions.
class Rng {
public:
    explicit Rng(uint64_t seed) : state_(seed) {}
    uint64_t Next();
    double Uniform(); // [0, 1)
    uint32_t Below(uint32_t n);

private:
    uint64_t state_;
};

class Faults {
public:
    explicit Faults(const FaultRates &rates) : rates_(rates), rng_(rates.seed) {}
    // Draws only for a fault that is switched on, so a run without faults
    // never touches the generator.
    bool Roll(Fault fault);
    uint32_t Below(uint32_t n) { return rng_.Below(n); }
    const FaultRates &rates() const { return rates_; }

private:
    FaultRates rates_;
    Rng rng_;
};

// How the controller sends: every frame passes the character-level faults
// (garbage, drop, corrupt, split, late) on its way to the line.
class Sender {
public:
    virtual ~Sender() = default;
    virtual void Send(const std::string &frame, Micros now) = 0;
    // The host has spoken again: held-back answers are not sent any more.
    virtual void Abandon() = 0;
};

class FaultySender : public Sender {
public:
    FaultySender(Output &output, Faults &faults, Trace &trace)
        : output_(output), faults_(faults), trace_(trace) {}
    void Send(const std::string &frame, Micros now) override;
    void Abandon() override { output_.CancelHeld(); }

private:
    Output &output_;
    Faults &faults_;
    Trace &trace_;
    uint64_t nextFrame_ = 1;
};

} // namespace htsim
