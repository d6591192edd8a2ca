#include "link/frames.h"
#include "tests/support/fake_platform.h"
#include "tests/support/log_capture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

using testing_support::ClearLog;
using testing_support::Line;
using testing_support::Log;
using testing_support::LogLine;
using testing_support::LogText;
using testing_support::ResetLine;

namespace {

class FramesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetLine();
        ClearLog();
        std::memset(&context, 0, sizeof context);
        std::memset(context.stations, 0xFF, sizeof context.stations);
        context.portHandle = platform::OpenPort("COM1");
        ASSERT_NE(context.portHandle, 0u);
        context.interFrameGap = 10;
        Line().timeoutMs = 100;
        io.gateAddress.station = 'A';
        request.context = &context;
        request.params = &io;
    }

    std::string RemainingInput() const {
        std::string rest;
        for (int c : Line().input) {
            rest += c == testing_support::kPause ? '|' : static_cast<char>(c);
        }
        return rest;
    }

    DriverContext context{};
    IoRequest io{};
    DriverRequest request{};
};

// STX, body, checksum of the body, CR.
std::string DataFrame(const std::string &body) {
    char sum[3] = {};
    const uint8_t value = qor::Checksum(body.data(), static_cast<uint32_t>(body.size()));
    const char *digits = "0123456789ABCDEF";
    sum[0] = digits[value >> 4];
    sum[1] = digits[value & 0xF];
    return "\x02" + body + sum + "\r";
}

TEST(ChecksumTest, AddsCharacterCodesModulo256) {
    EXPECT_EQ(qor::Checksum("ZZ", 2), 0xB4);
    EXPECT_EQ(qor::Checksum("", 0), 0);
    const std::string telegram = "001020000400A00001001";
    EXPECT_EQ(qor::Checksum(telegram.data(), static_cast<uint32_t>(telegram.size())), 0x0A);
    EXPECT_EQ(qor::Checksum("\xFF\xFF", 2), 0xFE);
}

TEST_F(FramesTest, EnqAndNakFramesCarryTheOfficeOnlyWhenConfigured) {
    struct Case {
        const char *name;
        int32_t station;
        uint8_t office;
        bool enq;
        uint32_t code;
        std::string frame;
    };
    const std::vector<Case> cases = {
        {"enq short", 'A', 0xFF, true, 0, std::string("\x05") + "01\r"},
        {"enq long", 'A', 0x05, true, 0, std::string("\x05") + "0051\r"},
        {"nak short", 'A', 0xFF, false, 0xFF, std::string("\x15") + "0FF\r"},
        {"nak long", 'A', 0x12, false, 0xFF, std::string("\x15") + "012FF\r"},
        {"nak low eight bits", 'A', 0xFF, false, 0x10A, std::string("\x15") + "00A\r"},
        {"station beyond table", 300, 0xFF, true, 0, std::string("\x05") + "01\r"},
        {"negative station", -1, 0xFF, false, 0xFF, std::string("\x15") + "0FF\r"},
    };
    // A telegram in txBuffer must survive every ENQ and NAK untouched.
    std::memset(context.txBuffer, 'T', sizeof context.txBuffer);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Line().frames.clear();
        Line().sleeps.clear();
        context.stations['A'].office = c.office;
        io.gateAddress.station = c.station;
        const int32_t result = c.enq ? qor::SendEnq(&request) : qor::SendNak(&request, c.code);
        EXPECT_EQ(result, 0);
        ASSERT_EQ(Line().frames.size(), 1u);
        EXPECT_EQ(Line().frames[0], c.frame);
        EXPECT_EQ(Line().sleeps, std::vector<uint32_t>{10});
    }
    EXPECT_EQ(std::string(context.txBuffer, sizeof context.txBuffer),
              std::string(sizeof context.txBuffer, 'T'));
    EXPECT_TRUE(Log().empty()) << LogText();
}

TEST_F(FramesTest, GapIsSleptBeforeTheOneWriteAndSkippedWhenZero) {
    std::vector<size_t> sleepsAtWrite;
    Line().onWrite = [&](testing_support::FakeLine &line, const std::string &) {
        sleepsAtWrite.push_back(line.sleeps.size());
    };
    context.interFrameGap = 250;
    ASSERT_EQ(qor::SendFrame("\x02"
                             "abc\r",
                             5, &context),
              0);
    EXPECT_EQ(Line().sleeps, std::vector<uint32_t>{250});
    EXPECT_EQ(sleepsAtWrite, std::vector<size_t>{1});

    context.interFrameGap = 0;
    ASSERT_EQ(qor::SendFrame("xy", 2, &context), 0);
    EXPECT_EQ(Line().sleeps, std::vector<uint32_t>{250});
    EXPECT_EQ(Line().frames, (std::vector<std::string>{"\x02"
                                                       "abc\r",
                                                       "xy"}));
}

TEST_F(FramesTest, FailedWriteGivesTwo) {
    Line().failWrite = [](const std::string &) { return true; };
    EXPECT_EQ(qor::SendFrame("abc", 3, &context), 2);
    EXPECT_EQ(qor::SendEnq(&request), 2);
    EXPECT_EQ(qor::SendNak(&request, 0xFF), 2);

    Line().failWrite = nullptr;
    context.portHandle = 0; // no port open
    EXPECT_EQ(qor::SendFrame("abc", 3, &context), 2);
    EXPECT_EQ(qor::SendEnq(&request), 2);
    EXPECT_TRUE(Log().empty()) << LogText();
}

TEST_F(FramesTest, ReadByteTakesExactlyOneCharacter) {
    Line().Feed("xy");
    char place = 0;
    EXPECT_EQ(qor::ReadByte(&place, context.portHandle), 0);
    EXPECT_EQ(place, 'x');
    EXPECT_EQ(RemainingInput(), "y");
    Line().input.clear();
    place = 'q';
    EXPECT_EQ(qor::ReadByte(&place, context.portHandle), 1);
    EXPECT_EQ(place, 'q');
}

constexpr int32_t kUnchanged = -77;

TEST_F(FramesTest, ReceiveTakesInOneMessageOfEveryForm) {
    struct Case {
        const char *name;
        std::string bytes; // what the controller sends before it falls silent
        bool silent;       // the line goes quiet after `bytes`
        int32_t result;
        int32_t length; // kUnchanged: the caller's value stays
        std::string message;
    };
    const std::string stx = "\x02", ack = "\x06", eot = "\x04", nak = "\x15";
    const std::vector<Case> cases = {
        // Accepted forms.
        {"data frame, lower-case sum", stx + "ZZb4\r", false, 0, 6, ""},
        {"data frame, empty body", stx + "00\r", false, 0, 4, ""},
        {"request-sized frame", stx + "001020000400A00001001" + "0A\r", false, 0, 25, ""},
        {"ack cr", ack + "\r", false, 0, 2, ""},
        {"ack long form, last not cr", ack + "01x", false, 0, 4, ""},
        {"ack long form", ack + "01\r", false, 0, 4, ""},
        {"eot cr", eot + "\r", false, 0, 2, ""},
        {"eot long form", eot + "0FF", false, 0, 4, ""},
        {"nak short form", nak + "02\r", false, 0, 4, ""},
        {"nak long form", nak + "0503\r", false, 0, 6, ""},
        {"nak long form, last not cr", nak + "05031", false, 0, 6, ""},
        // Out of any message: taken, reported, length left alone.
        {"stray letter", "A", false, 0, kUnchanged,
         "QORHT> Receive() received char 41h out of msg"},
        {"stray high byte", "\xFF", false, 0, kUnchanged,
         "QORHT> Receive() received char FFh out of msg"},
        // Failures.
        {"nothing at all", "", true, 2, kUnchanged, ""},
        {"stx cr", stx + "\r", false, 1, kUnchanged, "QORHT> Receive() error reading sum check"},
        {"one char before cr", stx + "x\r", false, 1, kUnchanged,
         "QORHT> Receive() error reading sum check"},
        {"sum not hex", stx + "ZZzz\r", false, 1, kUnchanged,
         "QORHT> Receive() error reading sum check"},
        {"sum off by one", stx + "ZZB5\r", false, 1, kUnchanged,
         "QORHT> Receive() sum check error"},
        {"data frame cut off", stx + "ZZB4", true, 1, kUnchanged, ""},
        {"ack alone", ack, true, 1, kUnchanged, "QORHT> Receive() error in rcv ACK msg"},
        {"ack one of three", ack + "0", true, 1, kUnchanged,
         "QORHT> Receive() error in rcv ACK msg"},
        {"ack two of three", ack + "01", true, 1, kUnchanged,
         "QORHT> Receive() error in rcv ACK msg"},
        {"eot alone", eot, true, 1, kUnchanged, "QORHT> Receive() error in rcv EOT msg"},
        {"eot two of three", eot + "01", true, 1, kUnchanged,
         "QORHT> Receive() error in rcv EOT msg"},
        {"nak two of three", nak + "02", true, 1, kUnchanged,
         "QORHT> Receive() error in rcv NAK msg"},
        {"nak four of five", nak + "0503", true, 1, kUnchanged,
         "QORHT> Receive() error in rcv NAK msg"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ResetLine();
        ClearLog();
        context.portHandle = platform::OpenPort("COM1");
        Line().timeoutMs = 100;
        Line().Feed(c.bytes);
        if (c.silent) {
            Line().FeedPause();
        }
        Line().Feed("#"); // the next message: never touched by this reception
        std::memset(context.rxBuffer, '.', sizeof context.rxBuffer);
        int32_t length = kUnchanged;

        EXPECT_EQ(qor::Receive(context.rxBuffer, &length, context.portHandle), c.result);
        EXPECT_EQ(length, c.length);
        EXPECT_EQ(RemainingInput(), "#");
        // Exactly the characters read, then the buffer as it was: no clearing
        // and no terminator.
        const std::string buffer(context.rxBuffer, sizeof context.rxBuffer);
        EXPECT_EQ(buffer.substr(0, c.bytes.size()), c.bytes);
        EXPECT_EQ(buffer.substr(c.bytes.size()),
                  std::string(sizeof context.rxBuffer - c.bytes.size(), '.'));
        std::vector<LogLine> expected;
        if (!c.message.empty()) {
            expected.push_back({8, c.message});
        }
        EXPECT_EQ(Log(), expected) << LogText();
    }
}

TEST_F(FramesTest, SilentLineKeepsThePreviousFirstCharacter) {
    // The engine looks at position 0 again after a poll that got no answer.
    Line().Feed("\x04\r");
    int32_t length = 0;
    ASSERT_EQ(qor::Receive(context.rxBuffer, &length, context.portHandle), 0);
    ASSERT_EQ(length, 2);
    const std::string before(context.rxBuffer, sizeof context.rxBuffer);

    EXPECT_EQ(qor::Receive(context.rxBuffer, &length, context.portHandle), 2);
    EXPECT_EQ(length, 2);
    EXPECT_EQ(context.rxBuffer[0], qor::kEot);
    EXPECT_EQ(std::string(context.rxBuffer, sizeof context.rxBuffer), before);
    EXPECT_TRUE(Log().empty()) << LogText();
}

TEST_F(FramesTest, ConsecutiveMessagesAreTakenOneAtATime) {
    const std::string response = DataFrame("0010200000001234");
    Line().Feed("\x06\r" + response + "\x04\r");
    int32_t length = 0;
    ASSERT_EQ(qor::Receive(context.rxBuffer, &length, context.portHandle), 0);
    EXPECT_EQ(length, 2);
    ASSERT_EQ(qor::Receive(context.rxBuffer, &length, context.portHandle), 0);
    EXPECT_EQ(std::string(context.rxBuffer, static_cast<size_t>(length)), response);
    ASSERT_EQ(qor::Receive(context.rxBuffer, &length, context.portHandle), 0);
    EXPECT_EQ(length, 2);
    EXPECT_EQ(context.rxBuffer[0], qor::kEot);
}

TEST_F(FramesTest, DataFrameFillingTheWholeBufferIsAccepted) {
    const std::string frame = DataFrame(std::string(QOR_BUFFER_SIZE - 4, 'A'));
    ASSERT_EQ(frame.size(), size_t{QOR_BUFFER_SIZE});
    Line().Feed(frame + "#");
    int32_t length = 0;
    ASSERT_EQ(qor::Receive(context.rxBuffer, &length, context.portHandle), 0) << LogText();
    EXPECT_EQ(length, QOR_BUFFER_SIZE);
    EXPECT_EQ(std::string(context.rxBuffer, sizeof context.rxBuffer), frame);
    EXPECT_EQ(RemainingInput(), "#");
}

TEST_F(FramesTest, DataFrameWithoutCrStopsAtTheEndOfTheBuffer) {
    const std::vector<StationEntry> stationsBefore(std::begin(context.stations),
                                                   std::end(context.stations));
    Line().Feed("\x02" + std::string(600, 'A'));
    int32_t length = kUnchanged;
    EXPECT_EQ(qor::Receive(context.rxBuffer, &length, context.portHandle), 1);
    EXPECT_EQ(length, kUnchanged);
    EXPECT_EQ(Log(), (std::vector<LogLine>{{8, "QORHT> Receive() message too long"}}));
    EXPECT_EQ(std::string(context.rxBuffer + 1, QOR_BUFFER_SIZE - 1),
              std::string(QOR_BUFFER_SIZE - 1, 'A'));
    // Not one character more was taken off the line than the buffer holds,
    // and nothing behind rxBuffer changed.
    EXPECT_EQ(Line().input.size(), 600u - (QOR_BUFFER_SIZE - 1));
    EXPECT_EQ(std::memcmp(context.stations, stationsBefore.data(), sizeof context.stations), 0);
}

TEST(NakCodeTextTest, KnownCodesAndNumberedRest) {
    const std::vector<std::pair<int32_t, std::string>> cases = {
        {0, "(dumy) no error"},
        {1, "parity error"},
        {2, "sum check error"},
        {3, "framing error"},
        {4, "overrun error"},
        {5, "protocol error"},
        {6, "ASCII error"},
        {7, "RCV buffer error"},
        {8, "RCV time-out"},
        {9, " error nr. 9"},
        {10, " error nr. 10"},
        {99, " error nr. 99"},
        {100, " error nr. 100"},
        {255, " error nr. 255"},
        {256, " error nr. 256"},
        {-1, " error nr. 4294967295"},
        {INT32_MAX, " error nr. 2147483647"},
    };
    for (const auto &c : cases) {
        EXPECT_STREQ(qor::NakCodeText(c.first), c.second.c_str()) << c.first;
    }
}

TEST(NakCodeTextTest, TwoDigitCodesKeepTheirOwnTexts) {
    std::vector<const char *> texts;
    for (int32_t code = 9; code <= 255; ++code) {
        texts.push_back(qor::NakCodeText(code));
    }
    // Later calls, from this thread and from another, change none of them.
    qor::NakCodeText(1000);
    std::thread other([] {
        for (int32_t code = 0; code < 300; ++code) {
            qor::NakCodeText(code);
        }
    });
    other.join();
    for (int32_t code = 9; code <= 255; ++code) {
        const char *text = texts[static_cast<size_t>(code - 9)];
        EXPECT_EQ(qor::NakCodeText(code), text);
        EXPECT_EQ(std::string(text), " error nr. " + std::to_string(code));
    }
}

TEST(NakCodeTextTest, FallbackTextBelongsToItsThread) {
    const char *mine = qor::NakCodeText(70000);
    std::string theirs;
    std::thread other([&] { theirs = qor::NakCodeText(80000); });
    other.join();
    EXPECT_STREQ(mine, " error nr. 70000");
    EXPECT_EQ(theirs, " error nr. 80000");
}

} // namespace
