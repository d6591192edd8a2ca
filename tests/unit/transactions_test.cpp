// The read and write engines against a scripted controller on the fake line.
#include "exchange/transactions.h"
#include "host/driver.h"
#include "tests/support/fake_platform.h"
#include "tests/support/log_capture.h"
#include "tests/support/scripted_controller.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <numeric>
#include <ostream>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

constexpr int64_t kStartSecond = 1'700'000'000;

// Station A: loop 1, unit 2, no office. Station B: office 5, loop 0, unit 3.
// Both already occupied, so that no preamble runs.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetLine();
        ClearLog();
        qor::driverEnded = 0;
        ResetEngineContext(context_);
        context_.stations['A'] = {0x02, 0x01, 0xFF, 1};
        context_.stations['B'] = {0x03, 0x00, 0x05, 1};
        UseStation('A');
        io_.gateAddress = {'A', 10, 0x10, -1, 16}; // WR 0010
        io_.gateType = 0;
        io_.count = 1;
        std::memset(storage_, 0xEE, sizeof storage_);
        io_.data = storage_;
        request_.context = &context_;
        request_.params = &io_;
    }

    void UseStation(char station) {
        io_.gateAddress.station = station;
        bool office = context_.stations[static_cast<unsigned char>(station)].office != 0xFF;
        controller_ = std::make_unique<ScriptedController>(office ? 11 : 9, office);
    }

    int32_t Run(bool read) {
        request_.command = read ? QOR_SINGLE_READ : QOR_SINGLE_WRITE;
        return read ? qor::DoRead(&request_, QOR_SINGLE_READ)
                    : qor::DoWrite(&request_, QOR_SINGLE_WRITE);
    }

    static std::string Body(bool read) { return read ? "400A00001001" : "420A000010011234"; }

    void SetWordValue(uint16_t value) { std::memcpy(storage_ + 2, &value, sizeof value); }
    uint16_t WordValue() const {
        uint16_t value;
        std::memcpy(&value, storage_ + 2, sizeof value);
        return value;
    }

    int Frames(char first) const {
        int n = 0;
        for (const std::string &frame : Line().frames) {
            n += !frame.empty() && frame[0] == first ? 1 : 0;
        }
        return n;
    }

    DriverContext context_;
    IoRequest io_{};
    DriverRequest request_{};
    unsigned char storage_[480]; // the largest block: 120 words or 60 double words
    std::unique_ptr<ScriptedController> controller_;
};

std::string Replace(std::string text, const std::string &from, const std::string &to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
        text.replace(at, from.size(), to);
        at += to.size();
    }
    return text;
}

// --- Every row of the failure table, for reads and writes ------------------

enum class Fail { kNone, kTelegram, kEnq };

struct FailureRow {
    const char *name;
    Exchange exchange;
    Fail fail;
    // One attempt's trace: {F} is the engine, {A} the attempt number.
    std::vector<std::string> trace;
    std::vector<std::string> writeTrace; // when a write logs otherwise
    int32_t readResult;
    int32_t writeResult;
};

Exchange Answers(std::string ack, std::vector<std::string> polls) {
    Exchange exchange;
    exchange.ack = std::move(ack);
    exchange.polls = std::move(polls);
    return exchange;
}

std::vector<FailureRow> FailureRows() {
    const std::string ok = ResponseFrame(false, "00", "40", "1234");
    std::vector<std::string> incompleteEot;
    for (int poll = 1; poll <= 10; ++poll) {
        incompleteEot.push_back("<NAK>");
        incompleteEot.push_back("QORHT> {F}() Read response/EOT #" + std::to_string(poll) +
                                " error, retry {A}");
    }
    incompleteEot.push_back("<NAK>");
    incompleteEot.push_back("QORHT> {F}() received > 10 EOT, retry {A}");
    return {
        {"TelegramNotSent",
         Answers(AckMessage(), {ok}),
         Fail::kTelegram,
         {"QORHT> {F}() Send task code error, retry {A}"},
         {},
         2,
         2},
        {"NoAck",
         Answers("", {}),
         Fail::kNone,
         {"QORHT> {F}() Read task code ACK error, retry {A}"},
         {},
         2,
         2},
        {"IncompleteAck",
         Answers("\x06", {}),
         Fail::kNone,
         {"QORHT> {F}() Read task code ACK error, retry {A}"},
         {},
         1,
         1},
        {"NakUnreadableInsteadOfAck",
         Answers(NakMessage("ZZ"), {}),
         Fail::kNone,
         {"QORHT> {F}() NAK received, error reading NAK code, retry {A}"},
         {},
         2,
         1},
        {"NakInsteadOfAck",
         Answers(NakMessage("02"), {}),
         Fail::kNone,
         {"QORHT> {F}() NAK received, sum check error, retry {A}"},
         {},
         2,
         1},
        {"LongNakInsteadOfAck",
         Answers(NakMessage("0503"), {}),
         Fail::kNone,
         {"QORHT> {F}() NAK received, framing error, retry {A}"},
         {},
         2,
         1},
        {"EotInsteadOfAck",
         Answers(EotMessage(), {}),
         Fail::kNone,
         {"QORHT> {F}() received illegal msg i.s.o. ACK, retry {A}", "<NAK>"},
         {},
         2,
         1},
        {"StrayCharInsteadOfAck",
         Answers("A", {}),
         Fail::kNone,
         {"QORHT> {F}() received illegal msg i.s.o. ACK, retry {A}", "<NAK>"},
         {},
         2,
         1},
        {"EnqNotSent",
         Answers(AckMessage(), {ok}),
         Fail::kEnq,
         {"<NAK>", "QORHT> {F}() error sending ENQ #1, retry {A}"},
         {},
         2,
         2},
        {"NoAnswerToEnq",
         Answers(AckMessage(), {}),
         Fail::kNone,
         {"<NAK>", "QORHT> {F}() Read response/EOT #1 error, retry {A}"},
         {},
         2,
         2},
        {"BadChecksumAfterEnq",
         Answers(AckMessage(), {"\x02"
                                "0000000000401234FF\r"}),
         Fail::kNone,
         {"<NAK>", "QORHT> {F}() Read response/EOT #1 error, retry {A}"},
         {},
         1,
         1},
        {"TenEot",
         Answers(AckMessage(), {EotMessage()}),
         Fail::kNone,
         {"<NAK>", "QORHT> {F}() received > 10 EOT, retry {A}"},
         {},
         1,
         1},
        {"IncompleteEotPollsOn",
         Answers(AckMessage(), {"\x04"}),
         Fail::kNone,
         incompleteEot,
         {},
         1,
         1},
        {"NakUnreadableAfterEnq",
         Answers(AckMessage(), {NakMessage("Z1")}),
         Fail::kNone,
         {"QORHT> {F}() NAK received after ENQ, error reading NAK code, retry {A}"},
         {},
         2,
         2},
        {"NakAfterEnq",
         Answers(AckMessage(), {NakMessage("08")}),
         Fail::kNone,
         {"QORHT> {F}() NAK received after ENQ, RCV time-out, retry {A}"},
         {},
         2,
         2},
        {"UnknownNakCodeAfterEnq",
         Answers(AckMessage(), {NakMessage("0509")}),
         Fail::kNone,
         {"QORHT> {F}() NAK received after ENQ,  error nr. 9, retry {A}"},
         {},
         2,
         2},
        {"AckAfterEnq",
         Answers(AckMessage(), {AckMessage()}),
         Fail::kNone,
         {"QORHT> {F}() received illegal msg 06h i.s.o. STX, retry {A}", "<NAK>"},
         {"QORHT> {F}() received illegal msg i.s.o. STX, retry {A}", "<NAK>"},
         2,
         2},
        {"ResponseTooShort",
         Answers(AckMessage(), {DataFrame("00000000004")}),
         Fail::kNone,
         {"QORHT> {F}() response too short, retry {A}"},
         {},
         1,
         1},
        {"ResponseFieldsNotHex",
         Answers(AckMessage(), {ResponseFrame(false, "0G", "40", "12")}),
         Fail::kNone,
         {"QORHT> {F}() err reading response code, retry {A}"},
         {},
         1,
         1},
        {"WrongLength",
         Answers(AckMessage(), {ResponseFrame(false, "00", "40", "12")}),
         Fail::kNone,
         {"QORHT> {F}() wrong length of received data, retry {A}"},
         {"QORHT> {F}() wrong length of received telegram, retry {A}"},
         1,
         1},
    };
}

void PrintTo(const FailureRow &row, std::ostream *out) {
    *out << row.name;
}

class FailureTableTest : public EngineTest,
                         public ::testing::WithParamInterface<std::tuple<FailureRow, bool>> {};

TEST_P(FailureTableTest, TwelveAttemptsEachWithItsMessageNakAndResult) {
    const FailureRow &row = std::get<0>(GetParam());
    const bool read = std::get<1>(GetParam());
    SetWordValue(0x1234);
    controller_->Script(Body(read), {row.exchange});
    if (row.fail == Fail::kTelegram) {
        Line().failWrite = [](const std::string &frame) { return frame[0] == '\x02'; };
    } else if (row.fail == Fail::kEnq) {
        Line().failWrite = [](const std::string &frame) { return frame[0] == '\x05'; };
    }

    int32_t result = Run(read);

    EXPECT_EQ(result, read ? row.readResult : row.writeResult);
    EXPECT_EQ(Frames('\x02'), 12);
    EXPECT_EQ(Line().purges, 12);
    const std::vector<std::string> &attempt =
        !read && !row.writeTrace.empty() ? row.writeTrace : row.trace;
    std::vector<std::string> expected;
    for (int n = 1; n <= 12; ++n) {
        for (const std::string &line : attempt) {
            expected.push_back(Replace(Replace(line, "{F}", read ? "DoRead" : "DoWrite"), "{A}",
                                       std::to_string(n)));
        }
    }
    EXPECT_EQ(controller_->Trace(read ? "QORHT> DoRead()" : "QORHT> DoWrite()"), expected)
        << LogText();
    if (read) {
        EXPECT_EQ(WordValue(), 0x1234) << "a failed read leaves the host's value alone";
    }
    EXPECT_EQ(context_.stations['A'].occupied, 1);
}

INSTANTIATE_TEST_SUITE_P(Rows, FailureTableTest,
                         ::testing::Combine(::testing::ValuesIn(FailureRows()), ::testing::Bool()),
                         [](const auto &info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "_Read" : "_Write");
                         });

// --- Polling ---------------------------------------------------------------

TEST_F(EngineTest, NineEotThenTheResponseSucceedsAtTheTenthEnq) {
    std::vector<std::string> polls(9, EotMessage());
    polls.push_back(ResponseFrame(false, "00", "40", "12AB"));
    controller_->Script(Body(true), {Answers(AckMessage(), polls)});

    EXPECT_EQ(Run(true), 0) << LogText();
    EXPECT_EQ(controller_->Count(SeenFrame::kEnq), 10);
    EXPECT_EQ(controller_->Count(SeenFrame::kNak), 0);
    EXPECT_EQ(Frames('\x02'), 1);
    EXPECT_EQ(WordValue(), 0x12AB);
}

TEST_F(EngineTest, AnEnqThatCannotBeSentAfterAnEotKeepsThePollingGoing) {
    // ENQ 1 answered EOT, ENQ 2 fails on the line, ENQ 3 gets the response.
    int enqs = 0;
    Line().failWrite = [&enqs](const std::string &frame) {
        return frame[0] == '\x05' && ++enqs == 2;
    };
    controller_->Script(
        Body(true),
        {Answers(AckMessage(), {EotMessage(), ResponseFrame(false, "00", "40", "0001")})});

    EXPECT_EQ(Run(true), 0) << LogText();
    EXPECT_EQ(controller_->Trace("QORHT> DoRead()"),
              (std::vector<std::string>{"<NAK>", "QORHT> DoRead() error sending ENQ #2, retry 1"}));
    EXPECT_EQ(Frames('\x05'), 3);
    EXPECT_EQ(WordValue(), 1);
}

// The deadline is taken when the ACK arrives, at kStartSecond + 10 ms (the
// gap); an answer other than STX is late only when the calendar second is
// strictly past it.
struct DeadlineRow {
    int32_t timeout;
    int64_t answerAtMs; // after kStartSecond
    bool late;
};

void PrintTo(const DeadlineRow &row, std::ostream *out) {
    *out << "timeout " << row.timeout << ", answer at +" << row.answerAtMs << " ms";
}

class DeadlineTest : public EngineTest, public ::testing::WithParamInterface<DeadlineRow> {};

TEST_P(DeadlineTest, NakAnswerIsLateOnlyStrictlyAfterTheDeadline) {
    const DeadlineRow row = GetParam();
    context_.timeout = row.timeout;
    ASSERT_EQ(Line().nowMs, kStartSecond * 1000);
    Exchange late = Answers(AckMessage(), {NakMessage("02")});
    late.beforePoll = [&row](FakeLine &line, int) {
        line.nowMs = kStartSecond * 1000 + row.answerAtMs;
    };
    controller_->Script(Body(true),
                        {late, Answers(AckMessage(), {ResponseFrame(false, "00", "40", "0001")})});

    EXPECT_EQ(Run(true), 0);
    std::vector<std::string> expected =
        row.late ? std::vector<std::string>{"<NAK>",
                                            "QORHT> DoRead() timeout waiting for response, retry 1"}
                 : std::vector<std::string>{
                       "QORHT> DoRead() NAK received after ENQ, sum check error, retry 1"};
    EXPECT_EQ(controller_->Trace("QORHT> DoRead()"), expected) << LogText();
}

INSTANTIATE_TEST_SUITE_P(Timeouts, DeadlineTest,
                         ::testing::Values(DeadlineRow{0, 999, false}, DeadlineRow{0, 1000, true},
                                           DeadlineRow{1, 1999, false}, DeadlineRow{1, 2000, true},
                                           DeadlineRow{100, 1999, false},
                                           DeadlineRow{100, 2000, true},
                                           DeadlineRow{101, 2999, false},
                                           DeadlineRow{101, 3000, true}));

TEST_F(EngineTest, ResponseFrameAfterTheDeadlineIsStillTaken) {
    context_.timeout = 0;
    Exchange late = Answers(AckMessage(), {ResponseFrame(false, "00", "40", "0005")});
    late.beforePoll = [](FakeLine &line, int) { line.nowMs = (kStartSecond + 5) * 1000; };
    controller_->Script(Body(true), {late});
    EXPECT_EQ(Run(true), 0);
    EXPECT_EQ(controller_->Count(SeenFrame::kNak), 0);
    EXPECT_TRUE(Log().empty()) << LogText();
    EXPECT_EQ(WordValue(), 5);
}

TEST_F(EngineTest, LateEotIsReportedAndPolledOnUntilTheTenth) {
    context_.timeout = 0;
    Exchange late = Answers(AckMessage(), {EotMessage()});
    late.beforePoll = [](FakeLine &line, int poll) { line.nowMs = (kStartSecond + poll) * 1000; };
    controller_->Script(Body(false),
                        {late, Answers(AckMessage(), {ResponseFrame(false, "00", "42")})});
    SetWordValue(0x1234);

    EXPECT_EQ(Run(false), 0);
    std::vector<std::string> expected;
    for (int poll = 1; poll <= 10; ++poll) {
        expected.push_back("<NAK>");
        expected.push_back("QORHT> DoWrite() timeout waiting for response, retry 1");
    }
    expected.push_back("<NAK>");
    expected.push_back("QORHT> DoWrite() received > 10 EOT, retry 1");
    EXPECT_EQ(controller_->Trace("QORHT> DoWrite()"), expected);
    EXPECT_EQ(controller_->Count(SeenFrame::kEnq), 11); // 10 in attempt 1, 1 in attempt 2
}

// --- Response codes --------------------------------------------------------

struct ResponseCodeRow {
    const char *code;
    int32_t readResult;
    int readAttempts;
    int32_t writeResult;
    int writeAttempts;
};

void PrintTo(const ResponseCodeRow &row, std::ostream *out) {
    *out << "code " << row.code;
}

class ResponseCodeTest : public EngineTest,
                         public ::testing::WithParamInterface<std::tuple<ResponseCodeRow, bool>> {};

TEST_P(ResponseCodeTest, CodeDecidesBetweenRetryAndImmediateEnd) {
    const ResponseCodeRow row = std::get<0>(GetParam());
    const bool read = std::get<1>(GetParam());
    SetWordValue(0x1234);
    const char *command = read ? "40" : "42";
    controller_->Script(Body(read),
                        {Answers(AckMessage(), {ResponseFrame(false, row.code, command, "AB12")})});

    int32_t result = Run(read);

    const int attempts = read ? row.readAttempts : row.writeAttempts;
    EXPECT_EQ(result, read ? row.readResult : row.writeResult);
    EXPECT_EQ(Frames('\x02'), attempts);
    EXPECT_EQ(controller_->Count(SeenFrame::kNak), 0);
    std::vector<std::string> expected;
    for (int n = 1; n <= attempts; ++n) {
        char line[128];
        std::snprintf(line, sizeof line,
                      "QORHT> %s() command %sh, resp comm %sh, ret code ABh, retry %d",
                      read ? "DoRead" : "DoWrite", command, row.code, n);
        expected.push_back(line);
    }
    EXPECT_EQ(controller_->Trace(read ? "QORHT> DoRead()" : "QORHT> DoWrite()"), expected);
    const bool busyPause = read && std::string(row.code) == "05";
    const auto pauses = std::count(Line().sleeps.begin(), Line().sleeps.end(), 2000u);
    EXPECT_EQ(pauses, busyPause ? 12 : 0);
    EXPECT_EQ(WordValue(), 0x1234);
}

INSTANTIATE_TEST_SUITE_P(Codes, ResponseCodeTest,
                         ::testing::Combine(::testing::Values(ResponseCodeRow{"05", 1, 12, 2, 1},
                                                              ResponseCodeRow{"01", 1, 1, 1, 1},
                                                              ResponseCodeRow{"02", 2, 1, 2, 1},
                                                              ResponseCodeRow{"FF", 2, 1, 2, 1}),
                                            ::testing::Bool()));

TEST_F(EngineTest, BusyReadIsSentAgainAndSucceedsLater) {
    controller_->Script(Body(true),
                        {Answers(AckMessage(), {ResponseFrame(false, "05", "40", "0000")}),
                         Answers(AckMessage(), {ResponseFrame(false, "00", "40", "0042")})});
    EXPECT_EQ(Run(true), 0);
    EXPECT_EQ(controller_->Bodies(), (std::vector<std::string>{Body(true), Body(true)}));
    EXPECT_EQ(WordValue(), 0x42);
}

// --- Response position and lengths -----------------------------------------

TEST_F(EngineTest, ResponseCodeStandsAtNineWithoutOfficeAndElevenWithOne) {
    // Read from position 9 this frame carries response code 01; from
    // position 11 it carries code 00, command 40 and the data BEEF.
    const std::string frame = DataFrame("00000000"
                                        "01"
                                        "00"
                                        "40"
                                        "BEEF");
    for (char station : {'A', 'B'}) {
        SetUp();
        UseStation(station);
        controller_->Script("400A00001001", {Answers(AckMessage(), {frame})});
        const bool office = station == 'B';
        EXPECT_EQ(Run(true), office ? 0 : 1) << LogText();
        EXPECT_EQ(WordValue(), office ? 0xBEEF : 0xEEEE);
        EXPECT_EQ(Frames('\x02'), 1);
    }
}

TEST_F(EngineTest, WriteResponseMustHaveNoDataSection) {
    for (bool office : {false, true}) {
        SetUp();
        UseStation(office ? 'B' : 'A');
        SetWordValue(0x1234);
        controller_->Script(Body(false),
                            {Answers(AckMessage(), {ResponseFrame(office, "00", "42", "00")}),
                             Answers(AckMessage(), {ResponseFrame(office, "00", "42")})});
        EXPECT_EQ(Run(false), 0) << "office " << office << "\n" << LogText();
        EXPECT_EQ(controller_->Trace("QORHT> DoWrite()"),
                  std::vector<std::string>{
                      "QORHT> DoWrite() wrong length of received telegram, retry 1"});
        EXPECT_EQ(Frames('\x02'), 2);
    }
}

// --- Values reach the host's storage for every kind -------------------------

struct DecodeRow {
    const char *name;
    char station;
    GateAddress gate;
    int32_t gateType;
    int32_t count;
    bool block;
    const char *data;
    std::vector<unsigned char> bytes; // expected storage from its start
};

void PrintTo(const DecodeRow &row, std::ostream *out) {
    *out << row.name;
}

class DecodeTest : public EngineTest, public ::testing::WithParamInterface<DecodeRow> {};

TEST_P(DecodeTest, ResponseDataLandsInHostStorage) {
    const DecodeRow &row = GetParam();
    UseStation(row.station);
    io_.gateAddress = row.gate;
    io_.gateAddress.station = row.station;
    io_.gateType = row.gateType;
    io_.count = row.count;
    const bool office = row.station == 'B';
    Exchange answer = Answers(AckMessage(), {ResponseFrame(office, "00", "40", row.data)});
    // Whatever the read telegram's body is, it is the only telegram.
    controller_->onTelegram = [this, answer](const SeenFrame &frame) {
        controller_->Script(frame.body, {answer});
    };
    request_.command = row.block ? QOR_BLOCK_READ : QOR_SINGLE_READ;

    int32_t result = row.block ? qor::BlockRead(&request_) : qor::SingleRead(&request_);

    ASSERT_EQ(result, 0) << LogText();
    std::vector<unsigned char> stored(storage_, storage_ + row.bytes.size());
    EXPECT_EQ(stored, row.bytes);
    for (std::size_t i = row.bytes.size(); i < sizeof storage_; ++i) {
        ASSERT_EQ(storage_[i], 0xEE) << "byte " << i << " written past the values";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, DecodeTest,
    ::testing::Values(
        DecodeRow{
            "SingleDigital", 'A', {0, 2, 0x10, -1, 1}, 6, 1, false, "80", {0xEE, 0xEE, 0x01, 0x00}},
        DecodeRow{"SingleBitInWord",
                  'B',
                  {0, 8, 0x10, 5, 16},
                  6,
                  1,
                  false,
                  "7F",
                  {0xEE, 0xEE, 0x00, 0x00}},
        DecodeRow{
            "SingleWord", 'B', {0, 13, 100, -1, 16}, 1, 1, false, "12ab", {0xEE, 0xEE, 0xAB, 0x12}},
        DecodeRow{"SingleDoubleWord",
                  'A',
                  {0, 18, 0x10, -1, 32},
                  4,
                  1,
                  false,
                  "1A2B3C4D",
                  {0x2B, 0x1A, 0x4D, 0x3C}},
        DecodeRow{"DigitalBlock", 'B', {0, 14, 0x203, -1, 1}, 6, 10, true, "80C0", {0x01, 0x03}},
        DecodeRow{"WordBlock",
                  'A',
                  {0, 10, 0, -1, 16},
                  0,
                  3,
                  true,
                  "000100020003",
                  {0x01, 0x00, 0x02, 0x00, 0x03, 0x00}},
        DecodeRow{"DoubleWordBlock",
                  'B',
                  {0, 20, 0, -1, 32},
                  4,
                  2,
                  true,
                  "1A2B3C4D00010000",
                  {0x2B, 0x1A, 0x4D, 0x3C, 0x01, 0x00, 0x00, 0x00}}),
    [](const auto &info) { return std::string(info.param.name); });

// --- The four handlers ------------------------------------------------------

struct HandlerRow {
    const char *name;
    int32_t (*handler)(DriverRequest *);
    bool read;
    bool block;
    const char *failureMessage; // with result 1
};

const HandlerRow kHandlers[] = {
    {"SingleRead", qor::SingleRead, true, false, "QORHT> Single Read() , ret val is 1"},
    {"BlockRead", qor::BlockRead, true, true, "QORHT> BlockRead(), ret val is 1"},
    {"SingleWrite", qor::SingleWrite, false, false, "QORHT> SingleWrite() , ret val is 1"},
    {"BlockWrite", qor::BlockWrite, false, true, "QORHT> BlockWrite() , ret val is 1"},
};

TEST_F(EngineTest, HandlersReportOnlyAResultOtherThanZero) {
    for (const HandlerRow &handler : kHandlers) {
        SCOPED_TRACE(handler.name);
        for (const char *code : {"00", "01"}) {
            SetUp();
            SetWordValue(0x1234);
            io_.count = handler.block ? 2 : 1;
            std::string data = handler.read ? (handler.block ? "00010002" : "0001") : "";
            controller_->onTelegram = [this, code, data, &handler](const SeenFrame &frame) {
                controller_->Script(
                    frame.body,
                    {Answers(AckMessage(),
                             {ResponseFrame(false, code, handler.read ? "40" : "42", data)})});
            };
            int32_t result = handler.handler(&request_);
            if (std::string(code) == "00") {
                EXPECT_EQ(result, 0) << LogText();
                EXPECT_TRUE(Log().empty()) << LogText();
            } else {
                EXPECT_EQ(result, 1);
                EXPECT_EQ(Log().back(), (LogLine{8, handler.failureMessage})) << LogText();
            }
        }
    }
}

TEST_F(EngineTest, ReadWithDataThatIsNotHexReturnsOneFromTheHandler) {
    io_.count = 2;
    controller_->Script("400A00001002",
                        {Answers(AckMessage(), {ResponseFrame(false, "00", "40", "0001G002")})});
    EXPECT_EQ(qor::BlockRead(&request_), 1);
    EXPECT_EQ(Frames('\x02'), 1) << "a decoding failure is not retried";
    EXPECT_EQ(Log().back(), (LogLine{8, "QORHT> BlockRead(), ret val is 1"}));
}

TEST_F(EngineTest, SingleWriteSendsTheHostValueAndSucceeds) {
    SetWordValue(0xBEEF);
    controller_->Script("420A00001001BEEF",
                        {Answers(AckMessage(), {ResponseFrame(false, "00", "42")})});
    EXPECT_EQ(qor::SingleWrite(&request_), 0) << LogText();
    EXPECT_EQ(controller_->Bodies(), std::vector<std::string>{"420A00001001BEEF"});
}

// --- Requests the handlers refuse -------------------------------------------

struct RefusalRow {
    const char *name;
    void (*change)(IoRequest &, DriverRequest &);
    const char *message; // {F} is the handler's name
};

const RefusalRow kRefusals[] = {
    {"NegativeCount", [](IoRequest &io, DriverRequest &) { io.count = -1; },
     "QORHT> {F}() count -1 out of range"},
    {"DigitalCountAbove240",
     [](IoRequest &io, DriverRequest &) {
         io.gateAddress = {'A', 2, 0, -1, 1};
         io.count = 241;
     },
     "QORHT> {F}() count 241 out of range"},
    {"WordCountAbove120", [](IoRequest &io, DriverRequest &) { io.count = 121; },
     "QORHT> {F}() count 121 out of range"},
    {"DoubleWordCountAbove60",
     [](IoRequest &io, DriverRequest &) {
         io.gateAddress = {'A', 18, 0, -1, 32};
         io.count = 61;
     },
     "QORHT> {F}() count 61 out of range"},
    {"HugeCount", [](IoRequest &io, DriverRequest &) { io.count = INT32_MAX; },
     "QORHT> {F}() count 2147483647 out of range"},
    {"NegativeStation", [](IoRequest &io, DriverRequest &) { io.gateAddress.station = -1; },
     "QORHT> {F}() illegal gate address: station -1, memory type 10, address 16, bit -1, width "
     "16"},
    {"Station256", [](IoRequest &io, DriverRequest &) { io.gateAddress.station = 256; },
     "QORHT> {F}() illegal gate address: station 256, memory type 10, address 16, bit -1, width "
     "16"},
    {"BitTypeCode", [](IoRequest &io, DriverRequest &) { io.gateAddress.memoryType = 0; },
     "QORHT> {F}() illegal gate address: station 65, memory type 0, address 16, bit -1, width "
     "16"},
    {"UnusedCode6",
     [](IoRequest &io, DriverRequest &) {
         io.gateAddress = {'A', 6, 0, -1, 16};
     },
     "QORHT> {F}() illegal gate address: station 65, memory type 6, address 0, bit -1, width 16"},
    {"Code21",
     [](IoRequest &io, DriverRequest &) {
         io.gateAddress = {'A', 21, 0, -1, 32};
     },
     "QORHT> {F}() illegal gate address: station 65, memory type 21, address 0, bit -1, width "
     "32"},
    {"TaskCode", [](IoRequest &io, DriverRequest &) { io.gateAddress.memoryType = 252; },
     "QORHT> {F}() illegal gate address: station 65, memory type 252, address 16, bit -1, width "
     "16"},
    {"NegativeCode", [](IoRequest &io, DriverRequest &) { io.gateAddress.memoryType = -1; },
     "QORHT> {F}() illegal gate address: station 65, memory type -1, address 16, bit -1, width "
     "16"},
    {"WordWithWidth32", [](IoRequest &io, DriverRequest &) { io.gateAddress.width = 32; },
     "QORHT> {F}() illegal gate address: station 65, memory type 10, address 16, bit -1, width "
     "32"},
    {"OneBitWithWidth16",
     [](IoRequest &io, DriverRequest &) {
         io.gateAddress = {'A', 14, 0, -1, 16};
     },
     "QORHT> {F}() illegal gate address: station 65, memory type 14, address 0, bit -1, width "
     "16"},
    {"DoubleWordWithWidth16",
     [](IoRequest &io, DriverRequest &) {
         io.gateAddress = {'A', 16, 0, -1, 16};
     },
     "QORHT> {F}() illegal gate address: station 65, memory type 16, address 0, bit -1, width "
     "16"},
    {"Bit16",
     [](IoRequest &io, DriverRequest &) {
         io.gateAddress = {'A', 8, 0, 16, 16};
     },
     "QORHT> {F}() illegal gate address: station 65, memory type 8, address 0, bit 16, width 16"},
    {"BitBelowMinusOne",
     [](IoRequest &io, DriverRequest &) {
         io.gateAddress = {'A', 9, 0, -2, 16};
     },
     "QORHT> {F}() illegal gate address: station 65, memory type 9, address 0, bit -2, width 16"},
    {"BitOnWordType", [](IoRequest &io, DriverRequest &) { io.gateAddress.bit = 0; },
     "QORHT> {F}() illegal gate address: station 65, memory type 10, address 16, bit 0, width "
     "16"},
    {"BitOnOneBitType",
     [](IoRequest &io, DriverRequest &) {
         io.gateAddress = {'A', 2, 0, 3, 1};
     },
     "QORHT> {F}() illegal gate address: station 65, memory type 2, address 0, bit 3, width 1"},
    {"NegativeAddress", [](IoRequest &io, DriverRequest &) { io.gateAddress.address = -1; },
     "QORHT> {F}() illegal gate address: station 65, memory type 10, address -1, bit -1, width "
     "16"},
    {"WordAddressPastSixDigits",
     [](IoRequest &io, DriverRequest &) { io.gateAddress.address = 0x1000000; },
     "QORHT> {F}() illegal gate address: station 65, memory type 10, address 16777216, bit -1, "
     "width 16"},
    {"BitAddressPastSixDigits",
     [](IoRequest &io, DriverRequest &) {
         io.gateAddress = {'A', 11, 0x100000, 0, 16};
     },
     "QORHT> {F}() illegal gate address: station 65, memory type 11, address 1048576, bit 0, "
     "width 16"},
    {"DoubleWordAddressPastSixDigits",
     [](IoRequest &io, DriverRequest &) {
         io.gateAddress = {'A', 19, 0x800000, -1, 32};
     },
     "QORHT> {F}() illegal gate address: station 65, memory type 19, address 8388608, bit -1, "
     "width 32"},
    {"DoubleWordAddressThatWraps",
     [](IoRequest &io, DriverRequest &) {
         io.gateAddress = {'A', 19, INT32_MAX, -1, 32};
     },
     "QORHT> {F}() illegal gate address: station 65, memory type 19, address 2147483647, bit -1, "
     "width 32"},
    {"NoStorage", [](IoRequest &io, DriverRequest &) { io.data = nullptr; },
     "QORHT> {F}() no value storage"},
    {"NoParams", [](IoRequest &, DriverRequest &request) { request.params = nullptr; },
     "QORHT> {F}() no context or parameters"},
    {"NoContext", [](IoRequest &, DriverRequest &request) { request.context = nullptr; },
     "QORHT> {F}() no context or parameters"},
};

TEST_F(EngineTest, HandlersRefuseWhatTheyCannotServeBeforeSendingAnything) {
    for (const HandlerRow &handler : kHandlers) {
        for (const RefusalRow &row : kRefusals) {
            SCOPED_TRACE(std::string(handler.name) + " " + row.name);
            SetUp();
            context_.stations['A'].occupied = 0; // a preamble would send at once
            row.change(io_, request_);
            const IoRequest ioBefore = io_;
            unsigned char storageBefore[sizeof storage_];
            std::memcpy(storageBefore, storage_, sizeof storage_);

            EXPECT_EQ(handler.handler(&request_), 2);

            EXPECT_EQ(Log(),
                      (std::vector<LogLine>{{8, Replace(row.message, "{F}", handler.name)}}));
            EXPECT_TRUE(Line().frames.empty());
            EXPECT_EQ(Line().purges, 0);
            EXPECT_EQ(std::memcmp(&io_, &ioBefore, sizeof io_), 0);
            EXPECT_EQ(std::memcmp(storage_, storageBefore, sizeof storage_), 0);
            EXPECT_EQ(context_.stations['A'].occupied, 0);
        }
    }
}

TEST_F(EngineTest, HandlersServeTheLimitsThemselves) {
    struct Limit {
        GateAddress gate;
        int32_t count;
    };
    const Limit limits[] = {
        {{'A', 2, 0xFFFFFF, -1, 1}, 240},  {{'A', 13, 0xFFFFFF, -1, 16}, 120},
        {{'A', 20, 0x7FFFFF, -1, 32}, 60}, {{'A', 12, 0xFFFFF, 15, 16}, 0},
        {{255, 15, 0, -1, 1}, 0},
    };
    for (const HandlerRow &handler : kHandlers) {
        for (const Limit &limit : limits) {
            SetUp();
            context_.stations[255].occupied = 1;
            io_.gateAddress = limit.gate;
            io_.count = limit.count;
            handler.handler(&request_);
            EXPECT_EQ(Frames('\x02'), 12) << handler.name << " count " << limit.count << "\n"
                                          << LogText();
        }
    }
}

// --- Waiting -----------------------------------------------------------------

TEST_F(EngineTest, TransactionWaitsOnlyForGapsTimeOutsAndTheBusyPause) {
    context_.interFrameGap = 7;
    Line().timeoutMs = 300;
    controller_->Script(Body(true),
                        {Answers("", {}),
                         Answers(AckMessage(), {EotMessage(), EotMessage(),
                                                ResponseFrame(false, "05", "40", "0000")}),
                         Answers(AckMessage(), {ResponseFrame(false, "00", "40", "0007")})});
    const int64_t start = Line().nowMs;

    EXPECT_EQ(Run(true), 0) << LogText();

    // Frames: 3 telegrams and 4 ENQs, each after the gap; one pause of 2000 ms
    // after code 5; one silent ACK read costing one port time-out.
    std::vector<uint32_t> expected = {7, 7, 7, 7, 7, 2000, 7, 7};
    EXPECT_EQ(Line().sleeps, expected);
    const int64_t slept = std::accumulate(Line().sleeps.begin(), Line().sleeps.end(), int64_t{0});
    EXPECT_EQ(Line().nowMs - start, slept + 300);
    EXPECT_EQ(WordValue(), 7);
}

} // namespace
