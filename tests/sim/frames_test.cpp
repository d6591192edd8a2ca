// The simulator's framing: checksum, assembly of the host's byte stream,
// telegram checks and the answers' layout.
#include "frames.h"
#include "hex.h"

#include <gtest/gtest.h>

namespace htsim {
namespace {

const StationAddress kShort{0x01, 0x02, -1};
const StationAddress kOffice{0x00, 0x03, 0x05};

std::string Telegram(const StationAddress &station, const std::string &body) {
    std::string inner = "0";
    if (station.office >= 0) {
        inner += Hex(static_cast<uint32_t>(station.office), 2);
    }
    inner += Hex(station.loop, 2) + Hex(station.unit, 2) + "0000" + body;
    return std::string(1, kStx) + inner + Hex(Checksum(inner), 2) + kCr;
}

TEST(FramesTest, HostTelegramsWithKnownChecksumsAreAccepted) {
    Request request;
    // A read of one word, a write of one bit with an office, an occupation.
    const std::string read = "\x02"
                             "001020000400A00001001"
                             "0A\r";
    ASSERT_TRUE(AddressedTo(read, kShort));
    ASSERT_EQ(ParseTelegram(read, kShort, request), TelegramFault::None);
    EXPECT_EQ(request.kind, RequestKind::Read);
    EXPECT_EQ(request.command, 0x40);
    EXPECT_EQ(request.memory, 0x0A);
    EXPECT_EQ(request.address, 0x10u);
    EXPECT_EQ(request.count, 1u);

    const std::string write = "\x02"
                              "00500030000A20300012301"
                              "80"
                              "DD\r";
    ASSERT_TRUE(AddressedTo(write, kOffice));
    ASSERT_FALSE(AddressedTo(write, kShort));
    ASSERT_EQ(ParseTelegram(write, kOffice, request), TelegramFault::None);
    EXPECT_EQ(request.kind, RequestKind::Write);
    EXPECT_EQ(request.command, 0xA2);
    EXPECT_EQ(request.memory, 0x03);
    EXPECT_EQ(request.address, 0x123u);
    EXPECT_EQ(request.data, "80");

    const std::string occupy = "\x02"
                               "0010200001601"
                               "7B\r";
    ASSERT_EQ(ParseTelegram(occupy, kShort, request), TelegramFault::None);
    EXPECT_EQ(request.kind, RequestKind::ReadOccupation);
}

TEST(FramesTest, TelegramFaultsInCheckingOrder) {
    struct Case {
        std::string telegram;
        TelegramFault expected;
    };
    std::string badSum = Telegram(kShort, "400A00001001");
    badSum[badSum.size() - 2] ^= 1;
    std::string changedBody = Telegram(kShort, "400A00001001");
    changedBody[12] = '1'; // one character changed, checksum left as it was
    const Case cases[] = {
        {badSum, TelegramFault::Checksum},
        {changedBody, TelegramFault::Checksum},
        {"\x02"
         "0010200004\r",
         TelegramFault::Checksum}, // too short for a checksum
        {Telegram(kShort, "400A0000100"), TelegramFault::Framing},
        {Telegram(kShort, "400A0000100100"), TelegramFault::Framing},
        {Telegram(kShort, "400A0000G001"), TelegramFault::Framing},
        {Telegram(kShort, "420A00001002123456"), TelegramFault::Framing}, // 3 of 4 digits
        {Telegram(kShort, "420A0000100112345"), TelegramFault::Framing},  // one too many
        {Telegram(kShort, "420A000010011G34"), TelegramFault::Framing},
        {Telegram(kShort, "42020000100900"), TelegramFault::Framing}, // 9 bits need 2 bytes
        {Telegram(kShort, "17011"), TelegramFault::Framing},
        {Telegram(kShort, "X0"), TelegramFault::Framing},
        {Telegram(kShort, ""), TelegramFault::Framing},
        {Telegram(kShort, "1602"), TelegramFault::UnknownCommand},
        {Telegram(kShort, "1700"), TelegramFault::UnknownCommand},
        {Telegram(kShort, "410A00001001"), TelegramFault::UnknownCommand},
        {Telegram(kShort, "4202000010098000"), TelegramFault::None},
        {Telegram(kShort, "4207000010011234"), TelegramFault::None}, // refused by response code
    };
    for (const Case &c : cases) {
        Request request;
        EXPECT_EQ(ParseTelegram(c.telegram, kShort, request), c.expected) << Visible(c.telegram);
    }
}

TEST(FramesTest, HeaderNamesExactlyOneStation) {
    const std::string telegram = Telegram(kShort, "400A00001001");
    EXPECT_TRUE(AddressedTo(telegram, kShort));
    EXPECT_FALSE(AddressedTo(telegram, StationAddress{0x01, 0x03, -1}));
    EXPECT_FALSE(AddressedTo(telegram, StationAddress{0x02, 0x02, -1}));
    EXPECT_FALSE(AddressedTo(telegram, StationAddress{0x02, 0x00, 0x01}));
}

TEST(FramesTest, AssemblerCutsTheStreamIntoFrames) {
    FrameAssembler assembler(16);
    std::vector<Frame> frames;
    const std::string stream = std::string("x") +
                               "\x05"
                               "01\r" +
                               "\x02"
                               "0012" +
                               "\x15"
                               "0FF\r" +
                               "\x02"
                               "0123456789ABCDEF" +
                               "GH\r" +
                               "\x05"
                               "0051\r";
    for (char c : stream) {
        if (auto frame = assembler.Push(c)) {
            frames.push_back(*frame);
        }
    }
    ASSERT_EQ(frames.size(), 6u);
    EXPECT_EQ(frames[0].kind, FrameKind::Noise);
    EXPECT_EQ(frames[0].bytes, "x");
    EXPECT_EQ(frames[1].kind, FrameKind::Enq);
    EXPECT_EQ(frames[1].bytes, "\x05"
                               "01\r");
    EXPECT_EQ(frames[2].kind, FrameKind::Noise); // cut short by the NAK
    EXPECT_EQ(frames[2].bytes, "\x02"
                               "0012");
    EXPECT_EQ(frames[3].kind, FrameKind::Nak);
    EXPECT_EQ(frames[4].kind, FrameKind::Overlong);
    EXPECT_EQ(frames[4].bytes.size(), 16u);
    EXPECT_EQ(frames[5].kind, FrameKind::Enq); // "GH\r" after the cut was discarded
}

TEST(FramesTest, AnswersPutTheResponseCodeAtNineOrElevenWithAValidChecksum) {
    struct Case {
        StationAddress station;
        std::string data;
        size_t codeAt;
    };
    for (const Case &c : {Case{kShort, "", 9}, Case{kShort, "1234", 9}, Case{kOffice, "", 11},
                          Case{kOffice, "80C0", 11}}) {
        const std::string frame = BuildResponse(c.station, 0x05, 0x42, c.data);
        ASSERT_EQ(frame.size(), c.codeAt + 7 + c.data.size());
        EXPECT_EQ(frame.front(), kStx);
        EXPECT_EQ(frame.back(), kCr);
        EXPECT_EQ(frame.substr(1, 1), "0");
        EXPECT_EQ(frame.substr(c.codeAt, 4), "0542");
        EXPECT_EQ(frame.substr(c.codeAt + 4, c.data.size()), c.data);
        EXPECT_EQ(frame.substr(frame.size() - 3, 2),
                  Hex(Checksum(frame.substr(1, frame.size() - 4)), 2));
    }
    EXPECT_EQ(BuildResponse(kShort, 0, 0x40, "").substr(0, 9), "\x02"
                                                               "00102000");
    EXPECT_EQ(BuildResponse(kOffice, 0, 0x40, "").substr(0, 11), "\x02"
                                                                 "0050003000");
    EXPECT_EQ(BuildAck(kShort), "\x06\r");
    EXPECT_EQ(BuildAck(kOffice), "\x06"
                                 "05\r");
    EXPECT_EQ(BuildEot(kOffice), "\x04"
                                 "05\r");
    EXPECT_EQ(BuildNak(kShort, 2), "\x15"
                                   "02\r");
    EXPECT_EQ(BuildNak(kOffice, 3), "\x15"
                                    "0503\r");
}

TEST(FramesTest, PollsAndHostNaksNameTheirOffice) {
    struct Case {
        std::string frame;
        std::optional<int> enq;
        std::optional<int> nak;
    };
    const Case cases[] = {
        {"\x05"
         "01\r",
         -1, std::nullopt},
        {"\x05"
         "0051\r",
         5, std::nullopt},
        {"\x05"
         "0AB1\r",
         0xAB, std::nullopt},
        {"\x05"
         "02\r",
         std::nullopt, std::nullopt},
        {"\x05"
         "11\r",
         std::nullopt, std::nullopt},
        {"\x05"
         "0G51\r",
         std::nullopt, std::nullopt},
        {"\x15"
         "0FF\r",
         std::nullopt, -1},
        {"\x15"
         "012FF\r",
         std::nullopt, 0x12},
        {"\x15"
         "0F\r",
         std::nullopt, std::nullopt},
        {"\x15"
         "0FG\r",
         std::nullopt, std::nullopt},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(EnqOffice(c.frame), c.enq) << Visible(c.frame);
        EXPECT_EQ(HostNakOffice(c.frame), c.nak) << Visible(c.frame);
    }
}

TEST(FramesTest, VisibleNamesControlCharacters) {
    EXPECT_EQ(Visible(std::string("\x02"
                                  "A\x04\x05\x06\x15\r\x7F\x01",
                                  9)),
              "<STX>A<EOT><ENQ><ACK><NAK><CR><7F><01>");
}

} // namespace
} // namespace htsim
