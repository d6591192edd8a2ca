#include "faults.h"

namespace htsim {
namespace {

char PrintableOtherThan(Faults &faults, char original) {
    char c;
    do {
        c = static_cast<char>(0x21 + faults.Below(0x7F - 0x21));
    } while (c == original);
    return c;
}

} // namespace

const char *FaultName(Fault fault) {
    static const char *const kNames[] = {"drop", "corrupt", "garbage", "split",     "silence",
                                         "late", "nak",     "busy",    "extra-eot", "overlong"};
    return kNames[static_cast<int>(fault)];
}

uint64_t Rng::Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double Rng::Uniform() {
    return static_cast<double>(Next() >> 11) * 0x1.0p-53;
}

uint32_t Rng::Below(uint32_t n) {
    return n == 0 ? 0 : static_cast<uint32_t>(Next() % n);
}

bool Faults::Roll(Fault fault) {
    const double p = rates_[fault];
    if (p <= 0.0) {
        return false;
    }
    return rng_.Uniform() < p;
}

void FaultySender::Send(const std::string &frame, Micros now) {
    std::string bytes = frame;
    if (faults_.Roll(Fault::Drop) && !bytes.empty()) {
        const uint32_t at = faults_.Below(static_cast<uint32_t>(bytes.size()));
        trace_.Note(now, "fault drop: character %u of the next frame lost", at);
        bytes.erase(at, 1);
    } else if (faults_.Roll(Fault::Corrupt) && !bytes.empty()) {
        const uint32_t at = faults_.Below(static_cast<uint32_t>(bytes.size()));
        bytes[at] = PrintableOtherThan(faults_, bytes[at]);
        trace_.Note(now, "fault corrupt: character %u of the next frame changed", at);
    }
    if (faults_.Roll(Fault::Garbage)) {
        std::string junk;
        const uint32_t length = 1 + faults_.Below(8);
        for (uint32_t i = 0; i < length; ++i) {
            junk.push_back(PrintableOtherThan(faults_, 0));
        }
        trace_.Note(now, "fault garbage: %u characters before the next frame", length);
        bytes = junk + bytes;
    }
    const uint64_t id = nextFrame_++;
    Chunk first{id, bytes, now, 0, false};
    if (faults_.Roll(Fault::Late)) {
        first.notBefore = now + faults_.rates().late;
        first.cancellable = true;
        trace_.Note(now, "fault late: next frame held back %lld ms",
                    static_cast<long long>(faults_.rates().late / kMillisecond));
    }
    if (faults_.Roll(Fault::Split) && bytes.size() >= 2) {
        const uint32_t at = 1 + faults_.Below(static_cast<uint32_t>(bytes.size() - 1));
        Chunk second{id, bytes.substr(at), 0, faults_.rates().split, first.cancellable};
        first.bytes.resize(at);
        trace_.Note(now, "fault split: pause of %lld ms after character %u",
                    static_cast<long long>(faults_.rates().split / kMillisecond), at);
        output_.Enqueue(first);
        output_.Enqueue(second);
        return;
    }
    output_.Enqueue(first);
}

} // namespace htsim
