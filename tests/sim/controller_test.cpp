// The simulated controller's protocol behaviour, driven frame by frame with
// a recording sender and explicit times.
#include "controller.h"
#include "hex.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace htsim {
namespace {

const StationAddress kA{0x01, 0x02, -1};
const StationAddress kB{0x01, 0x03, 0x05};

struct RecordingSender : Sender {
    std::vector<std::string> sent;
    int abandoned = 0;
    void Send(const std::string &frame, Micros) override { sent.push_back(frame); }
    void Abandon() override { ++abandoned; }
};

std::string Telegram(const StationAddress &station, const std::string &body) {
    std::string inner = "0";
    if (station.office >= 0) {
        inner += Hex(static_cast<uint32_t>(station.office), 2);
    }
    inner += Hex(station.loop, 2) + Hex(station.unit, 2) + "0000" + body;
    return std::string(1, kStx) + inner + Hex(Checksum(inner), 2) + kCr;
}

std::string Enq(const StationAddress &station) {
    std::string out = "\x05"
                      "0";
    if (station.office >= 0) {
        out += Hex(static_cast<uint32_t>(station.office), 2);
    }
    return out + "1\r";
}

class ControllerTest : public ::testing::Test {
protected:
    explicit ControllerTest(FaultRates rates = FaultRates{}, Micros scan = 0)
        : faults_(rates), trace_(false, stderr, 0),
          controller_({kA, kB}, memories_, faults_, sender_, trace_, scan) {}

    // Sends a frame and returns what the controller answered (empty: silence).
    std::string Say(const std::string &bytes, Micros now = 0) {
        sender_.sent.clear();
        FrameAssembler assembler;
        for (char c : bytes) {
            if (auto frame = assembler.Push(c)) {
                controller_.OnFrame(*frame, now);
            }
        }
        EXPECT_LE(sender_.sent.size(), 1u);
        return sender_.sent.empty() ? "" : sender_.sent.front();
    }
    // A whole exchange: telegram, ACK expected, one ENQ; returns the answer.
    std::string Exchange(const StationAddress &station, const std::string &body) {
        EXPECT_EQ(Say(Telegram(station, body)), BuildAck(station)) << body;
        return Say(Enq(station));
    }
    std::string Response(const StationAddress &station, uint8_t code, uint8_t command,
                         const std::string &data = "") {
        return BuildResponse(station, code, command, data);
    }

    std::vector<Memory> memories_;
    Faults faults_;
    RecordingSender sender_;
    Trace trace_;
    Controller controller_;
};

TEST_F(ControllerTest, RefusesBadTelegramsWithTheirNakCode) {
    std::string badSum = Telegram(kA, "400A00001001");
    badSum[badSum.size() - 3] = badSum[badSum.size() - 3] == '0' ? '1' : '0';
    EXPECT_EQ(Say(badSum), "\x15"
                           "02\r");
    EXPECT_EQ(Say(Telegram(kA, "400A0000100")), "\x15"
                                                "03\r");
    EXPECT_EQ(Say(Telegram(kA, "990A00001001")), "\x15"
                                                 "05\r");
    EXPECT_EQ(Say(Telegram(kB, "990A00001001")), "\x15"
                                                 "0505\r");
    // Nothing was accepted, so a poll is out of turn.
    EXPECT_EQ(Say(Enq(kA)), "");
}

TEST_F(ControllerTest, OtherStationsAndOtherOfficesGetSilence) {
    EXPECT_EQ(Say(Telegram(StationAddress{0x01, 0x04, -1}, "1701")), "");
    EXPECT_EQ(Say(Telegram(StationAddress{0x01, 0x03, 0x06}, "1701")), "");
    EXPECT_EQ(Say(Telegram(kB, "1701")), BuildAck(kB));
    EXPECT_EQ(Say(Enq(kA)), "");                               // no office: not B
    EXPECT_EQ(Say(Enq(StationAddress{0x01, 0x03, 0x06})), ""); // office 06: not B
    EXPECT_EQ(Say(Enq(kB)), Response(kB, 0, 0x17));
}

TEST(ControllerHeaderTest, LongHeaderThatBeginsLikeAShortOneGoesToTheOfficeStation) {
    // Office 01, loop 02, unit 00 reads "0 01 02 00 0000", which begins
    // like the short header "0 01 02 0000" of loop 01, unit 02.
    const StationAddress shortOne{0x01, 0x02, -1};
    const StationAddress longOne{0x02, 0x00, 0x01};
    std::vector<Memory> memories;
    Faults faults{FaultRates{}};
    RecordingSender sender;
    Trace trace(false, stderr, 0);
    Controller controller({shortOne, longOne}, memories, faults, sender, trace, 0);
    FrameAssembler assembler;
    for (const std::string &bytes : {Telegram(longOne, "1701"), Telegram(shortOne, "1701")}) {
        for (char c : bytes) {
            if (auto frame = assembler.Push(c)) {
                controller.OnFrame(*frame, 0);
            }
        }
    }
    EXPECT_EQ(sender.sent, (std::vector<std::string>{BuildAck(longOne), BuildAck(shortOne)}));
}

TEST_F(ControllerTest, CommandsWithOccupationNeedTheReadOccupation) {
    ASSERT_TRUE(memories_[0].SetWord(kWordsR, 0x10, 0x1234));
    EXPECT_EQ(Exchange(kA, "400A00001001"), Response(kA, kResponseNotOccupied, 0x40));
    EXPECT_EQ(Exchange(kA, "420A000010015555"), Response(kA, kResponseNotOccupied, 0x42));
    EXPECT_EQ(Exchange(kA, "A00A00001001"), Response(kA, 0, 0xA0, "1234"));
    EXPECT_EQ(Exchange(kA, "1701"), Response(kA, 0, 0x17));
    EXPECT_EQ(Exchange(kA, "1601"), Response(kA, 0, 0x16));
    EXPECT_TRUE(controller_.ReadOccupied(0));
    EXPECT_FALSE(controller_.ReadOccupied(1)); // per station
    EXPECT_EQ(Exchange(kA, "400A00001001"), Response(kA, 0, 0x40, "1234"));
    EXPECT_EQ(Exchange(kA, "1600"), Response(kA, 0, 0x16));
    EXPECT_EQ(Exchange(kA, "400A00001001"), Response(kA, kResponseNotOccupied, 0x40));
    EXPECT_EQ(Exchange(kA, "1601"), Response(kA, 0, 0x16));
    EXPECT_EQ(Exchange(kA, "1701"), Response(kA, 0, 0x17)); // forced release frees it
    EXPECT_FALSE(controller_.ReadOccupied(0));
}

TEST_F(ControllerTest, WritesLandInMemoryAndReadsComeBack) {
    EXPECT_EQ(Exchange(kB, "A20C000100020000FFFF"), Response(kB, 0, 0xA2));
    uint16_t word = 0;
    ASSERT_TRUE(memories_[1].GetWord(kWordsM, 0x101, word));
    EXPECT_EQ(word, 0xFFFF);
    ASSERT_TRUE(memories_[0].GetWord(kWordsM, 0x101, word));
    EXPECT_EQ(word, 0) << "each station has a memory of its own";
    EXPECT_EQ(Exchange(kB, "A004001010" + std::string("10")), Response(kB, 0, 0xA0, "FFFF"));
    EXPECT_EQ(Exchange(kB, "A00C0100000" + std::string("1")), Response(kB, 0x02, 0xA0));
    EXPECT_EQ(Exchange(kB, "A2060000000180"), Response(kB, 0x02, 0xA2));
}

TEST_F(ControllerTest, HostNakDropsTheAnswerAndAnotherTelegramReplacesIt) {
    ASSERT_EQ(Say(Telegram(kA, "1701")), BuildAck(kA));
    const int before = sender_.abandoned;
    EXPECT_EQ(Say("\x15"
                  "0FF\r"),
              "");
    EXPECT_GT(sender_.abandoned, before);
    EXPECT_EQ(Say(Enq(kA)), "\x15"
                            "05\r");
    ASSERT_EQ(Say(Telegram(kA, "1701")), BuildAck(kA));
    ASSERT_EQ(Say(Telegram(kA, "A00A00001001")), BuildAck(kA));
    EXPECT_EQ(Say(Enq(kA)), Response(kA, 0, 0xA0, "0000"));
    EXPECT_EQ(Say(Enq(kA)), "\x15"
                            "05\r"); // answered already
}

class ScanTimeTest : public ControllerTest {
protected:
    ScanTimeTest() : ControllerTest(FaultRates{}, 30 * kMillisecond) {}
};

TEST_F(ScanTimeTest, PollsGetEotUntilTheScanIsOver) {
    ASSERT_EQ(Say(Telegram(kA, "1701"), 1000 * kMillisecond), BuildAck(kA));
    EXPECT_EQ(Say(Enq(kA), 1000 * kMillisecond), BuildEot(kA));
    EXPECT_EQ(Say(Enq(kA), 1029 * kMillisecond), BuildEot(kA));
    EXPECT_EQ(Say(Enq(kA), 1030 * kMillisecond), Response(kA, 0, 0x17));
}

FaultRates Always(Fault fault) {
    FaultRates rates;
    rates[fault] = 1.0;
    return rates;
}

class BusyTest : public ControllerTest {
protected:
    BusyTest() : ControllerTest(Always(Fault::Busy)) {}
};

TEST_F(BusyTest, BusyExecutesNothing) {
    EXPECT_EQ(Exchange(kA, "A20A000010011234"), Response(kA, kResponseBusy, 0xA2));
    EXPECT_EQ(Exchange(kA, "1601"), Response(kA, kResponseBusy, 0x16));
    EXPECT_FALSE(controller_.ReadOccupied(0));
    uint16_t word = 1;
    ASSERT_TRUE(memories_[0].GetWord(kWordsR, 0x10, word));
    EXPECT_EQ(word, 0);
}

class ExtraEotTest : public ControllerTest {
protected:
    ExtraEotTest() : ControllerTest(Always(Fault::ExtraEot)) {}
};

TEST_F(ExtraEotTest, ReadyAnswerComesAfterOneToThreeEots) {
    for (int round = 0; round < 8; ++round) {
        ASSERT_EQ(Say(Telegram(kA, "1701")), BuildAck(kA));
        int eots = 0;
        std::string answer;
        while ((answer = Say(Enq(kA))) == BuildEot(kA) && eots < 10) {
            ++eots;
        }
        EXPECT_GE(eots, 1);
        EXPECT_LE(eots, 3);
        EXPECT_EQ(answer, Response(kA, 0, 0x17));
    }
}

class NakFaultTest : public ControllerTest {
protected:
    NakFaultTest() : ControllerTest(Always(Fault::Nak)) {}
};

TEST_F(NakFaultTest, RefusedTelegramIsNotExecuted) {
    const std::string answer = Say(Telegram(kA, "A20A000010011234"));
    ASSERT_EQ(answer.size(), 4u);
    EXPECT_EQ(answer[0], kNak);
    uint16_t word = 1;
    ASSERT_TRUE(memories_[0].GetWord(kWordsR, 0x10, word));
    EXPECT_EQ(word, 0);
    EXPECT_EQ(Say(Enq(kA)), "");
}

class OverlongTest : public ControllerTest {
protected:
    OverlongTest() : ControllerTest(Always(Fault::Overlong)) {}
};

TEST_F(OverlongTest, AnswerIsReplacedBySixHundredCharactersWithoutCr) {
    ASSERT_EQ(Say(Telegram(kA, "1701")), BuildAck(kA));
    const std::string answer = Say(Enq(kA));
    EXPECT_EQ(answer.size(), kMaxFrame);
    EXPECT_EQ(answer[0], kStx);
    EXPECT_EQ(answer.find(kCr), std::string::npos);
}

} // namespace
} // namespace htsim
