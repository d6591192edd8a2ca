// Line pacing and the character-level faults, on a pipe and with explicit
// times: what leaves when, what a fault does to a frame.
#include "faults.h"
#include "frames.h"
#include "line.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace htsim {
namespace {

class PipeLine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(pipe(fds_), 0);
        fcntl(fds_[0], F_SETFL, O_NONBLOCK);
        fcntl(fds_[1], F_SETFL, O_NONBLOCK);
    }
    void TearDown() override {
        close(fds_[0]);
        close(fds_[1]);
    }
    std::string Drain() {
        std::string out;
        char buffer[1024];
        ssize_t n;
        while ((n = read(fds_[0], buffer, sizeof buffer)) > 0) {
            out.append(buffer, static_cast<size_t>(n));
        }
        return out;
    }
    int fds_[2] = {-1, -1};
    Trace trace_{false, stderr, 0};
};

TEST(LineFormatTest, CharacterTimeFollowsTheFrameOfOneCharacter) {
    EXPECT_EQ(BitsPerCharacter(LineFormat{19200, 7, 'E', 1}), 10);
    EXPECT_EQ(BitsPerCharacter(LineFormat{19200, 8, 'N', 1}), 10);
    EXPECT_EQ(BitsPerCharacter(LineFormat{19200, 8, 'O', 2}), 12);
    EXPECT_EQ(CharacterTime(LineFormat{19200, 7, 'E', 1}), 520); // 10 bits / 19200 in µs
    EXPECT_EQ(CharacterTime(LineFormat{1200, 8, 'S', 2}), 10000);
    EXPECT_EQ(CharacterTime(LineFormat{0, 7, 'E', 1}), 0);
}

TEST_F(PipeLine, CharactersLeaveOneCharacterTimeApart) {
    Line line(fds_[1], 1000, trace_);
    line.Enqueue(Chunk{1, "ABCDE", 10000, 0, false});
    line.Flush(10999);
    EXPECT_EQ(Drain(), "");
    ASSERT_EQ(line.NextDue(), 11000);
    line.Flush(12500);
    EXPECT_EQ(Drain(), "AB");
    line.Flush(20000);
    EXPECT_EQ(Drain(), "CDE");
    EXPECT_TRUE(line.Idle());
}

TEST_F(PipeLine, PauseAfterAChunkAndFramesBackToBack) {
    Line line(fds_[1], 1000, trace_);
    line.Enqueue(Chunk{1, "AB", 0, 0, false});
    line.Enqueue(Chunk{1, "CD", 0, 50000, false}); // second half of a split frame
    line.Enqueue(Chunk{2, "E", 0, 0, false});
    line.Flush(2000);
    EXPECT_EQ(Drain(), "AB");
    line.Flush(52999);
    EXPECT_EQ(Drain(), "");
    line.Flush(53000);
    EXPECT_EQ(Drain(), "C");
    line.Flush(55000);
    EXPECT_EQ(Drain(), "DE");
}

TEST_F(PipeLine, ReceivedCharactersArriveOneCharacterTimeApart) {
    Line line(fds_[0], 1000, trace_);
    ASSERT_EQ(write(fds_[1], "xyz", 3), 3);
    ASSERT_TRUE(line.ReadAvailable(5000));
    EXPECT_FALSE(line.NextArrived(5999));
    auto first = line.NextArrived(6000);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->first, 'x');
    EXPECT_EQ(first->second, 6000);
    EXPECT_FALSE(line.NextArrived(6999));
    EXPECT_EQ(line.NextDue(), 7000);
    EXPECT_EQ(line.NextArrived(8000)->first, 'y');
    EXPECT_EQ(line.NextArrived(8000)->first, 'z');
}

TEST_F(PipeLine, HeldBackFrameIsDroppedWholeOnlyBeforeItStarts) {
    Line line(fds_[1], 0, trace_);
    line.Enqueue(Chunk{1, "late", 100000, 0, true});
    line.Enqueue(Chunk{1, "half", 0, 5000, true});
    line.CancelHeld();
    EXPECT_TRUE(line.Idle());
    line.Enqueue(Chunk{2, "now", 0, 0, true});
    line.Enqueue(Chunk{2, "rest", 0, 5000, true});
    line.Flush(0);
    EXPECT_EQ(Drain(), "now");
    line.CancelHeld(); // the frame has begun: its rest still goes out
    line.Flush(10000);
    EXPECT_EQ(Drain(), "rest");
}

TEST_F(PipeLine, FullDescriptorKeepsTheRestAndWaitsForRoomNotForTime) {
    Line line(fds_[1], 0, trace_);
    std::string big(200000, 'x');
    big.back() = 'y';
    line.Enqueue(Chunk{1, big, 0, 0, false});
    line.Flush(0);
    ASSERT_TRUE(line.Blocked());
    EXPECT_FALSE(line.NextDue()) << "a blocked line must not ask to be woken by time";
    std::string got;
    for (int round = 0; round < 1000 && !line.Idle(); ++round) {
        got += Drain();
        line.Flush(0);
    }
    got += Drain();
    EXPECT_EQ(got, big);
}

struct RecordingOutput : Output {
    std::vector<Chunk> chunks;
    void Enqueue(Chunk chunk) override { chunks.push_back(chunk); }
    void CancelHeld() override {}
    std::string All() const {
        std::string out;
        for (const Chunk &chunk : chunks) {
            out += chunk.bytes;
        }
        return out;
    }
};

FaultRates Rates(std::initializer_list<std::pair<Fault, double>> list, uint64_t seed = 1) {
    FaultRates rates;
    for (const auto &entry : list) {
        rates[entry.first] = entry.second;
    }
    rates.seed = seed;
    return rates;
}

const std::string kFrame = "\x02"
                           "0010200000400A1234"
                           "9A\r";

TEST(FaultySenderTest, AtMostOneDamagedCharacterPerFrame) {
    for (uint64_t seed = 1; seed <= 200; ++seed) {
        Faults faults(Rates({{Fault::Drop, 0.5}, {Fault::Corrupt, 1.0}}, seed));
        Trace trace(false, stderr, 0);
        RecordingOutput output;
        FaultySender sender(output, faults, trace);
        sender.Send(kFrame, 0);
        const std::string sent = output.All();
        if (sent.size() == kFrame.size()) {
            int differences = 0;
            for (size_t i = 0; i < sent.size(); ++i) {
                if (sent[i] != kFrame[i]) {
                    ++differences;
                    EXPECT_TRUE(sent[i] >= 0x21 && sent[i] < 0x7F) << "seed " << seed;
                }
            }
            EXPECT_EQ(differences, 1) << "seed " << seed;
        } else {
            ASSERT_EQ(sent.size() + 1, kFrame.size()) << "seed " << seed;
            bool isDeletion = false;
            for (size_t i = 0; i < kFrame.size(); ++i) {
                isDeletion = isDeletion || kFrame.substr(0, i) + kFrame.substr(i + 1) == sent;
            }
            EXPECT_TRUE(isDeletion) << "seed " << seed;
        }
    }
}

TEST(FaultySenderTest, GarbageSplitAndLateKeepTheFrameIntact) {
    Faults faults(Rates({{Fault::Garbage, 1.0}, {Fault::Split, 1.0}, {Fault::Late, 1.0}}));
    Trace trace(false, stderr, 0);
    RecordingOutput output;
    FaultySender sender(output, faults, trace);
    sender.Send(kFrame, 7000);
    ASSERT_EQ(output.chunks.size(), 2u);
    const std::string sent = output.All();
    ASSERT_GT(sent.size(), kFrame.size());
    EXPECT_EQ(sent.substr(sent.size() - kFrame.size()), kFrame);
    for (char c : sent.substr(0, sent.size() - kFrame.size())) {
        EXPECT_TRUE(c >= 0x21 && c < 0x7F);
    }
    EXPECT_EQ(output.chunks[0].notBefore, 7000 + faults.rates().late);
    EXPECT_TRUE(output.chunks[0].cancellable);
    EXPECT_EQ(output.chunks[1].pauseBefore, faults.rates().split);
    EXPECT_EQ(output.chunks[0].frame, output.chunks[1].frame);
}

TEST(FaultySenderTest, SameSeedSameFaults) {
    auto run = [](uint64_t seed) {
        Faults faults(
            Rates({{Fault::Drop, 0.3}, {Fault::Corrupt, 0.3}, {Fault::Garbage, 0.3}}, seed));
        Trace trace(false, stderr, 0);
        RecordingOutput output;
        FaultySender sender(output, faults, trace);
        for (int i = 0; i < 50; ++i) {
            sender.Send(kFrame, 0);
        }
        return output.All();
    };
    EXPECT_EQ(run(5), run(5));
    EXPECT_NE(run(5), run(6));
}

} // namespace
} // namespace htsim
