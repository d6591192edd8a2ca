// A scripted H-series controller on the fake line.
//
// It watches every frame the driver writes (FakeLine::onWrite): a telegram
// (STX ...) starts an exchange and is answered with the exchange's `ack`; each
// ENQ after it is answered with the next entry of `polls`; the driver's own NAK
// frames are only recorded. Exchanges are scripted per telegram: the n-th time
// a telegram is sent it gets the n-th exchange of its script, and the last
// exchange repeats for all later sends, so "fails in every attempt" is one
// entry. Occupation telegrams without a script are answered with success.
#pragma once

#include "host/records.h"
#include "tests/support/fake_platform.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace testing_support {

std::string AckMessage();                        // ACK CR
std::string EotMessage();                        // EOT CR
std::string NakMessage(const std::string &code); // NAK code CR
// STX, text, the additive checksum of text in two hex digits, CR.
std::string DataFrame(const std::string &text);
// A controller response frame: station header (8 characters, 10 with an
// office), response code, command field, data section.
std::string ResponseFrame(bool withOffice, const std::string &code, const std::string &command,
                          const std::string &data = "");

// A context as ColdStart leaves it with no INT file, its port the fake
// line's COM1: no station configured, timeout 100 (the port's read time-out
// 1000 ms), inter-frame gap 10, read occupation on.
void ResetEngineContext(DriverContext &context);

struct Exchange {
    std::string ack = AckMessage(); // answer to the telegram; empty: silence
    std::vector<std::string> polls; // answer to ENQ 1, 2, ...; the last repeats; empty: silence
    std::function<void(FakeLine &, int poll)> beforePoll; // runs before an ENQ is answered
};

struct SeenFrame {
    enum Kind { kTelegram, kEnq, kNak, kOther } kind;
    std::string text;
    std::string content; // telegram: everything between STX and the checksum
    std::string body;    // telegram: content behind the station header
    std::size_t logMark; // number of log lines captured when it was written
};

class ScriptedController {
public:
    // Attaches to Line(); `headerLength` is the length of a telegram's station
    // header behind STX (9 without office, 11 with).
    explicit ScriptedController(std::size_t headerLength = 9, bool withOffice = false);

    // Scripts a telegram, matched first by its whole content, then by its body.
    void Script(const std::string &key, std::vector<Exchange> exchanges);
    // Runs when a telegram arrives, before it is answered.
    std::function<void(const SeenFrame &)> onTelegram;

    std::vector<SeenFrame> frames;
    std::vector<std::string> Bodies() const;
    int Count(SeenFrame::Kind kind) const;
    // The log lines that start with `prefix`, with "<NAK>" placed where the
    // driver wrote a NAK frame: tells whether a NAK went before or after a
    // message.
    std::vector<std::string> Trace(const std::string &prefix) const;

private:
    void OnWrite(FakeLine &line, const std::string &frame);
    Exchange Next(const SeenFrame &telegram);

    std::size_t headerLength_;
    bool withOffice_;
    std::map<std::string, std::vector<Exchange>> scripts_;
    std::map<std::string, std::size_t> sent_;
    Exchange current_;
    bool answering_ = false;
    int polls_ = 0;
};

} // namespace testing_support
