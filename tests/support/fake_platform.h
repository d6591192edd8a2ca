// A scripted serial line and a fake clock in place of the platform layer.
//
// Reads are served from `input`; a kPause element makes the read that meets it
// stop there, as when the controller goes silent. A read that delivers fewer
// bytes than asked advances the clock by the port's time-out, so time-outs and
// deadlines are tested without waiting. Sleeps advance the clock too. Every
// write is recorded as one frame and then handed to `onWrite`, which plays the
// controller by feeding its answer. Purge discards pending input, as a real
// port does.
#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace testing_support {

constexpr int kPause = -1;

struct FakeLine {
    std::set<std::string> devices{"COM1", "COM2"};
    std::map<platform::PortHandle, std::string> openPorts;
    platform::PortHandle nextHandle = 100;

    std::deque<int> input;
    std::vector<std::string> frames; // one entry per write call
    std::function<void(FakeLine &, const std::string &frame)> onWrite;
    // When it returns true for a frame, that write fails (-1) and is not
    // passed to onWrite.
    std::function<bool(const std::string &frame)> failWrite;

    platform::LineSettings settings{};
    uint32_t inputQueue = 0, outputQueue = 0;
    uint32_t timeoutMs = 0;
    int purges = 0;
    int reads = 0;

    int64_t nowMs = 1'700'000'000'000;
    std::vector<uint32_t> sleeps;

    void Feed(const std::string &bytes);
    void FeedPause();
    std::string Written() const; // all frames, concatenated
};

FakeLine &Line();
void ResetLine();

} // namespace testing_support
