// The serial line: a pseudo-terminal or a real device, and the pacing that
// gives a pseudo-terminal the timing of a real line. With a character time
// set, every character sent takes that long on the line (it is written when
// its last bit would have left) and every character received counts as
// arrived only a character time after the one before it.
#pragma once

#include "output.h"
#include "sim_time.h"
#include "trace.h"

#include <deque>
#include <optional>
#include <string>

namespace htsim {

struct LineFormat {
    long baud = 0; // 0: no pacing
    int dataBits = 7;
    char parity = 'E'; // N, O, E, M, S
    int stopBits = 1;
};

// Start bit, data bits, parity bit, stop bits.
int BitsPerCharacter(const LineFormat &format);
// One character's time on the line; 0 without a baud rate.
Micros CharacterTime(const LineFormat &format);

struct Endpoint {
    int fd = -1;      // what htsim reads and writes
    int holdFd = -1;  // the pty slave, kept open so the line never hangs up
    std::string path; // the name the host opens
};

// A new pseudo-terminal in raw mode.
bool OpenPseudoTerminal(Endpoint &endpoint, std::string &error);
// A serial device in raw mode with the given format (19200 when no baud).
bool OpenDevice(const std::string &path, const LineFormat &format, Endpoint &endpoint,
                std::string &error);

class Line : public Output {
public:
    Line(int fd, Micros characterTime, Trace &trace)
        : fd_(fd), characterTime_(characterTime), trace_(trace) {}

    // Output
    void Enqueue(Chunk chunk) override;
    void CancelHeld() override;

    // Reads what the descriptor has. False when the other side is gone for
    // now (a pseudo-terminal without any slave open).
    bool ReadAvailable(Micros now);
    // The next received character whose line time is over.
    std::optional<std::pair<char, Micros>> NextArrived(Micros now);
    // Writes every character whose time has come.
    void Flush(Micros now);
    // When something next falls due, if anything is waiting. While the
    // descriptor takes no more (Blocked) the output waits for it instead.
    std::optional<Micros> NextDue() const;
    // A write could not take everything: wait for the descriptor.
    bool Blocked() const { return blocked_; }
    bool Idle() const { return queue_.empty(); }

private:
    struct Queued {
        Chunk chunk;
        size_t sent = 0;
    };
    int fd_;
    Micros characterTime_;
    Trace &trace_;
    std::deque<Queued> queue_;
    Micros txFreeAt_ = 0; // when the last character sent has left
    std::deque<std::pair<char, Micros>> received_;
    Micros rxFreeAt_ = 0;
    uint64_t startedFrame_ = 0; // frame whose first character has gone out
    Micros lastSeen_ = 0;       // latest time handed in, for trace notes
    bool blocked_ = false;

    // When the next character of the front chunk is completely on the line.
    Micros FrontCompletion() const;
};

} // namespace htsim
