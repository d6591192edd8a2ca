#include "tests/support/scripted_controller.h"

#include <cstring>

#include "tests/support/log_capture.h"

#include <algorithm>
#include <cstdio>

namespace testing_support {

std::string AckMessage() {
    return "\x06\r";
}
std::string EotMessage() {
    return "\x04\r";
}
std::string NakMessage(const std::string &code) {
    return "\x15" + code + "\r";
}

std::string DataFrame(const std::string &text) {
    unsigned sum = 0;
    for (unsigned char c : text) {
        sum += c;
    }
    char checksum[3];
    std::snprintf(checksum, sizeof checksum, "%02X", sum & 0xFF);
    return "\x02" + text + checksum + "\r";
}

std::string ResponseFrame(bool withOffice, const std::string &code, const std::string &command,
                          const std::string &data) {
    return DataFrame(std::string(withOffice ? 10 : 8, '0') + code + command + data);
}

ScriptedController::ScriptedController(std::size_t headerLength, bool withOffice)
    : headerLength_(headerLength), withOffice_(withOffice) {
    Line().onWrite = [this](FakeLine &line, const std::string &frame) { OnWrite(line, frame); };
}

void ScriptedController::Script(const std::string &key, std::vector<Exchange> exchanges) {
    scripts_[key] = std::move(exchanges);
    sent_[key] = 0;
}

Exchange ScriptedController::Next(const SeenFrame &telegram) {
    for (const std::string &key : {telegram.content, telegram.body}) {
        auto found = scripts_.find(key);
        if (found == scripts_.end() || found->second.empty()) {
            continue;
        }
        std::size_t n = sent_[key]++;
        return found->second[std::min(n, found->second.size() - 1)];
    }
    Exchange exchange;
    if (telegram.body == "1701" || telegram.body == "1601" || telegram.body == "1600") {
        exchange.polls = {ResponseFrame(withOffice_, "00", telegram.body.substr(0, 2))};
    } else {
        exchange.ack.clear();
    }
    return exchange;
}

void ScriptedController::OnWrite(FakeLine &line, const std::string &frame) {
    SeenFrame seen{SeenFrame::kOther, frame, "", "", Log().size()};
    if (frame.empty()) {
        frames.push_back(seen);
        return;
    }
    switch (frame[0]) {
    case '\x02':
        seen.kind = SeenFrame::kTelegram;
        if (frame.size() >= 4) {
            seen.content = frame.substr(1, frame.size() - 4);
            seen.body =
                seen.content.size() > headerLength_ ? seen.content.substr(headerLength_) : "";
        }
        frames.push_back(seen);
        if (onTelegram) {
            onTelegram(seen);
        }
        current_ = Next(seen);
        answering_ = !current_.ack.empty();
        polls_ = 0;
        line.Feed(current_.ack);
        break;
    case '\x05':
        seen.kind = SeenFrame::kEnq;
        frames.push_back(seen);
        ++polls_;
        if (answering_ && !current_.polls.empty()) {
            if (current_.beforePoll) {
                current_.beforePoll(line, polls_);
            }
            std::size_t i = std::min<std::size_t>(polls_ - 1, current_.polls.size() - 1);
            line.Feed(current_.polls[i]);
        }
        break;
    case '\x15':
        seen.kind = SeenFrame::kNak;
        frames.push_back(seen);
        break;
    default:
        frames.push_back(seen);
        break;
    }
}

std::vector<std::string> ScriptedController::Bodies() const {
    std::vector<std::string> bodies;
    for (const SeenFrame &frame : frames) {
        if (frame.kind == SeenFrame::kTelegram) {
            bodies.push_back(frame.body);
        }
    }
    return bodies;
}

int ScriptedController::Count(SeenFrame::Kind kind) const {
    return static_cast<int>(std::count_if(frames.begin(), frames.end(),
                                          [kind](const SeenFrame &f) { return f.kind == kind; }));
}

std::vector<std::string> ScriptedController::Trace(const std::string &prefix) const {
    std::vector<std::string> trace;
    auto naksAt = [&](std::size_t mark) {
        for (const SeenFrame &frame : frames) {
            if (frame.kind == SeenFrame::kNak && frame.logMark == mark) {
                trace.push_back("<NAK>");
            }
        }
    };
    const auto &log = Log();
    for (std::size_t i = 0; i < log.size(); ++i) {
        naksAt(i);
        if (log[i].text.compare(0, prefix.size(), prefix) == 0) {
            trace.push_back(log[i].text);
        }
    }
    naksAt(log.size());
    return trace;
}

void ResetEngineContext(DriverContext &context) {
    std::memset(&context, 0, sizeof context);
    for (StationEntry &entry : context.stations) {
        entry = {0xFF, 0xFF, 0xFF, 0};
    }
    context.timeout = 100;
    context.interFrameGap = 10;
    context.occupationEnabled = 1;
    context.portHandle = platform::OpenPort("COM1");
    Line().timeoutMs = 1000;
}

} // namespace testing_support
