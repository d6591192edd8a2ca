// The driver library against htsim, a separate process playing the
// controllers on a pseudo-terminal: every memory family and value kind,
// station occupation, office stations, the port's close and reopen, and
// injected line faults, through QorMain as a host calls it.
#include "tests/integration/driver_host.h"
#include "tests/integration/sim_process.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_directory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace integration {
namespace {

using testing_support::ClearLog;
using testing_support::LogText;

constexpr uint8_t kGuard = 0xAA;

enum class Kind { Digital, Word, Double };

// A gate, the values it holds and the host storage they travel in.
struct Values {
    Kind kind;
    bool block;
    std::vector<uint32_t> items;
};

Kind KindOf(const DriverHost::Gate &gate, bool block) {
    if (!block) {
        return gate.gateType == QOR_GATE_DIGITAL ? Kind::Digital
               : gate.address.width == 32        ? Kind::Double
                                                 : Kind::Word;
    }
    return gate.address.width == 1    ? Kind::Digital
           : gate.address.width == 32 ? Kind::Double
                                      : Kind::Word;
}

size_t StorageBytes(Kind kind, bool block, size_t count) {
    if (!block) {
        return 4;
    }
    switch (kind) {
    case Kind::Digital:
        return (count + 7) / 8;
    case Kind::Word:
        return 2 * count;
    case Kind::Double:
        return 4 * count;
    }
    return 0;
}

// Host storage with guard bytes behind it: the driver must touch exactly
// the bytes the value layout gives it.
struct Storage {
    alignas(8) uint8_t bytes[1024];
    size_t used = 0;

    explicit Storage(size_t size) : used(size) { std::memset(bytes, kGuard, sizeof bytes); }

    void Put(const Values &values) {
        for (size_t i = 0; i < values.items.size(); ++i) {
            const uint32_t v = values.items[i];
            if (!values.block && values.kind != Kind::Double) {
                const uint16_t unit = static_cast<uint16_t>(v);
                std::memcpy(bytes + 2, &unit, 2); // the cell's second 16-bit unit
            } else if (!values.block || values.kind == Kind::Double) {
                std::memcpy(bytes + 4 * i, &v, 4);
            } else if (values.kind == Kind::Word) {
                const uint16_t unit = static_cast<uint16_t>(v);
                std::memcpy(bytes + 2 * i, &unit, 2);
            } else {
                uint8_t &byte = bytes[i / 8];
                const uint8_t mask = static_cast<uint8_t>(1u << (i % 8));
                byte = static_cast<uint8_t>(v != 0 ? byte | mask : byte & ~mask);
            }
        }
    }

    std::vector<uint32_t> Get(Kind kind, bool block, size_t count) const {
        std::vector<uint32_t> out;
        for (size_t i = 0; i < count; ++i) {
            if (!block && kind != Kind::Double) {
                uint16_t unit;
                std::memcpy(&unit, bytes + 2, 2);
                out.push_back(unit);
            } else if (!block || kind == Kind::Double) {
                uint32_t v;
                std::memcpy(&v, bytes + 4 * i, 4);
                out.push_back(v);
            } else if (kind == Kind::Word) {
                uint16_t unit;
                std::memcpy(&unit, bytes + 2 * i, 2);
                out.push_back(unit);
            } else {
                out.push_back((bytes[i / 8] >> (i % 8)) & 1u);
            }
        }
        return out;
    }

    // True when nothing behind the used bytes changed (and, for a single
    // digital or word cell, its first 16-bit unit neither).
    bool GuardsIntact(Kind kind, bool block) const {
        for (size_t i = used; i < sizeof bytes; ++i) {
            if (bytes[i] != kGuard) {
                return false;
            }
        }
        return block || kind == Kind::Double || (bytes[0] == kGuard && bytes[1] == kGuard);
    }
};

std::string Hex(uint32_t value) {
    std::ostringstream out;
    out << std::hex << std::uppercase << value;
    return out.str();
}

std::string Show(const std::vector<uint32_t> &values) {
    std::string out;
    for (uint32_t v : values) {
        out += Hex(v) + " ";
    }
    return out;
}

// The image file's value lines, without comments.
std::set<std::string> ImageLines(const std::string &text) {
    std::set<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] != '#') {
            lines.insert(line);
        }
    }
    return lines;
}

// What the host sent on the line, from htsim's trace: the text between STX
// and checksum of every telegram, in order.
std::vector<std::string> Telegrams(const std::string &trace) {
    std::vector<std::string> out;
    std::istringstream in(trace);
    std::string line;
    const std::string marker = " in   <STX>";
    while (std::getline(in, line)) {
        const size_t at = line.find(marker);
        if (at != std::string::npos && line.size() >= at + marker.size() + 6 &&
            line.compare(line.size() - 4, 4, "<CR>") == 0) {
            const size_t begin = at + marker.size();
            out.push_back(line.substr(begin, line.size() - 4 - 2 - begin));
        }
    }
    return out;
}

int Count(const std::string &text, const std::string &what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

class DriverOverHtsim : public ::testing::Test {
protected:
    void SetUp() override {
        ClearLog();
        work_ = std::filesystem::current_path();
        tracePath_ = (work_ / "htsim.trace").string();
        imagePath_ = (work_ / "plc.img").string();
    }

    // htsim with its trace, and tied to this process through its input.
    void StartSim(std::vector<std::string> arguments) {
        arguments.push_back("--trace");
        arguments.push_back("--stdin-eof-exits");
        ASSERT_TRUE(sim_.Start(arguments, tracePath_)) << ReadFile(tracePath_);
    }
    void StartDriver(const std::string &intFile, int32_t timeout) {
        dir_.Write("QORHT.INT", intFile);
        ASSERT_EQ(host_.ColdStart(sim_.PortName(), timeout), 0) << LogText();
    }
    // Ends htsim as its operator would; its image is saved by then.
    void StopSim() { ASSERT_EQ(sim_.Stop(SIGTERM), 0) << ReadFile(tracePath_); }
    std::string Trace() const { return ReadFile(tracePath_); }
    // On a clean line not one attempt may fail.
    void ExpectNoFailedAttempt() {
        for (const auto &line : testing_support::Log()) {
            EXPECT_EQ(line.text.find("retry"), std::string::npos) << line.text;
            EXPECT_EQ(line.text.find("Receive()"), std::string::npos) << line.text;
        }
    }

    DriverHost::Gate Gate(const std::string &text, int32_t gateType, int32_t blockSize = 0) {
        DriverHost::Gate gate;
        EXPECT_TRUE(host_.Parse(text, gateType, blockSize, gate)) << text << "\n" << LogText();
        return gate;
    }

    int32_t Read(const DriverHost::Gate &gate, bool block, std::vector<uint32_t> &values) {
        const Kind kind = KindOf(gate, block);
        Storage storage(StorageBytes(kind, block, static_cast<size_t>(gate.count)));
        const int32_t result =
            host_.Io(block ? QOR_BLOCK_READ : QOR_SINGLE_READ, gate, storage.bytes);
        EXPECT_TRUE(storage.GuardsIntact(kind, block)) << "read outside the value storage";
        values = storage.Get(kind, block, static_cast<size_t>(gate.count));
        return result;
    }

    int32_t Write(const DriverHost::Gate &gate, bool block, const std::vector<uint32_t> &values) {
        const Kind kind = KindOf(gate, block);
        Storage storage(StorageBytes(kind, block, static_cast<size_t>(gate.count)));
        storage.Put(Values{kind, block, values});
        return host_.Io(block ? QOR_BLOCK_WRITE : QOR_SINGLE_WRITE, gate, storage.bytes);
    }

    testing_support::TempDirectory dir_;
    std::filesystem::path work_;
    std::string tracePath_;
    std::string imagePath_;
    SimProcess sim_;
    DriverHost host_;
};

const char kStationA[] = "A : 01 02\nIFG = 1\n";
const char kStationsAB[] = "A : 01 02\nB : 01 03 05\nIFG = 1\n";
// On a clean line every attempt succeeds; the time-out only has to be far
// beyond what a loaded machine may add.
constexpr int32_t kCleanTimeout = 50;

// One gate of the tables below: its text, host data type, block size (0 for
// a single gate) and values.
struct GateCase {
    const char *text;
    int32_t gateType;
    int32_t blockSize;
    std::vector<uint32_t> values;
};

// Values the controller holds before the host reads them, as htsim's image
// file gives them: with these the reads test the decoding on its own,
// without the encoding that a round trip would pair it with.
TEST_F(DriverOverHtsim, ReadsWhatTheControllerHolds) {
    dir_.Write("plc.img", "WX 0010 0020\nWY 0200 8000\nWL 0012 0008\nWM 0003 0001\n"
                          "BR 00010 1\nBT 0000C 1\nDF 00105 1\nDN 00203 1\n"
                          "WX 0100 1234\nWY 0101 5678\nWR 0102 9ABC\nWL 0103 DEF0\n"
                          "WM 0104 0F0F\nTC 0064 4321\n"
                          "WX 0200 5678\nWX 0201 1234\nWY 0202 0001\nWY 0203 8000\n"
                          "WR 0204 FFFF\nWL 0206 CDEF\nWL 0207 89AB\nWM 0208 0002\n"
                          "WM 0209 0001\n"
                          "WR 0300 0001\nWR 0301 0002\nWR 0302 0003\nWR 0303 0004\n"
                          "WR 0304 0005\nWR 0305 0006\n"
                          "BR 00400 1\nBR 00402 1\nBR 00409 1\nBR 0040B 1\nBR 0040C 1\n"
                          "WM 0500 1111\nWM 0501 2222\nWM 0502 3333\nWM 0503 4444\n"
                          "WM 0504 5555\nWM 0505 6666\n"
                          "DF 00200 1\nDF 00208 1\nDF 00209 1\n");
    StartSim({"--station", "01:02", "--image", imagePath_});
    StartDriver(kStationA, kCleanTimeout);
    const GateCase cases[] = {
        {"ABX00105", 6, 0, {1}},
        {"ABX00104", 6, 0, {0}},
        {"ABY02015", 6, 0, {1}},
        {"ABY02014", 6, 0, {0}},
        {"ABL00123", 6, 0, {1}},
        {"ABL00122", 6, 0, {0}},
        {"ABM00030", 6, 0, {1}},
        {"ABM00031", 6, 0, {0}},
        {"ABR00010", 6, 0, {1}},
        {"ABR00011", 6, 0, {0}},
        {"ABT00012", 6, 0, {1}},
        {"ABT00013", 6, 0, {0}},
        {"ADF00105", 6, 0, {1}},
        {"ADF00104", 6, 0, {0}},
        {"ADN00203", 6, 0, {1}},
        {"ADN00202", 6, 0, {0}},
        {"AWX00100", 0, 0, {0x1234}},
        {"AWY00101", 1, 0, {0x5678}},
        {"AWR00102", 2, 0, {0x9ABC}},
        {"AWL00103", 0, 0, {0xDEF0}},
        {"AWM00104", 0, 0, {0x0F0F}},
        {"ATC00100", 0, 0, {0x4321}},
        // A double word is two words, the low one first.
        {"ALX00200", 4, 0, {0x12345678}},
        {"ALY00202", 5, 0, {0x80000001}},
        {"ALR00204", 4, 0, {0x0000FFFF}},
        {"ALL00206", 4, 0, {0x89ABCDEF}},
        {"ALM00208", 4, 0, {0x00010002}},
        {"AWR00300", 0, 5, {1, 2, 3, 4, 5}},
        {"ABR00400", 6, 12, {1, 0, 1, 0, 0, 0, 0, 0, 0, 1, 0, 1}},
        {"ALM00500", 4, 3, {0x22221111, 0x44443333, 0x66665555}},
        {"ADF00200", 6, 9, {1, 0, 0, 0, 0, 0, 0, 0, 1}},
    };
    for (const GateCase &c : cases) {
        DriverHost::Gate gate = Gate(c.text, c.gateType, c.blockSize);
        std::vector<uint32_t> values;
        ASSERT_EQ(Read(gate, c.blockSize != 0, values), 0) << c.text << "\n" << LogText();
        EXPECT_EQ(Show(values), Show(c.values)) << c.text;
    }
    ExpectNoFailedAttempt();
}

// What the host writes, read back through the driver and found by htsim
// where the controller keeps it: the image saved at the end lists every
// word and bit, and nothing else may have changed.
TEST_F(DriverOverHtsim, WritesLandWhereTheControllerKeepsThemAndReadBack) {
    StartSim({"--station", "01:02", "--image", imagePath_});
    StartDriver(kStationA, kCleanTimeout);
    struct WriteCase {
        GateCase gate;
        std::vector<const char *> image;
    };
    const WriteCase cases[] = {
        {{"ABX00207", 6, 0, {1}}, {"WX 0020 0080"}},
        {{"ABY00316", 6, 0, {1}}, {"WY 0031 0001"}}, // bit 16 is bit 0 of the next word
        {{"ABL0045A", 6, 0, {1}}, {"WL 0045 0400"}},
        {{"ABM0067F", 6, 0, {1}}, {"WM 0067 8000"}},
        {{"ABR00123", 6, 0, {1}}, {"BR 00123 1"}},
        {{"ABT00100", 6, 0, {1}}, {"BT 00064 1"}},
        {{"ADF00310", 6, 0, {1}}, {"DF 0030A 1"}},
        {{"ADN01099", 6, 0, {1}}, {"DN 01063 1"}},
        {{"AWX00400", 0, 0, {0xA1B2}}, {"WX 0400 A1B2"}},
        {{"AWY00401", 1, 0, {0x8000}}, {"WY 0401 8000"}},
        {{"AWR00402", 2, 0, {0x0001}}, {"WR 0402 0001"}},
        {{"AWL00403", 0, 0, {0xFFFF}}, {"WL 0403 FFFF"}},
        {{"AWM00404", 0, 0, {0x1234}}, {"WM 0404 1234"}},
        {{"ATC00200", 0, 0, {0x0BAD}}, {"TC 00C8 0BAD"}},
        {{"ALX00500", 4, 0, {0x01020304}}, {"WX 0500 0304", "WX 0501 0102"}},
        {{"ALY00502", 5, 0, {0xFFFF0000}}, {"WY 0503 FFFF"}},
        {{"ALR00600", 4, 0, {0x89ABCDEF}}, {"WR 0600 CDEF", "WR 0601 89AB"}},
        {{"ALL00602", 4, 0, {0x00000001}}, {"WL 0602 0001"}},
        {{"ALM00604", 4, 0, {0x7FFF8000}}, {"WM 0604 8000", "WM 0605 7FFF"}},
        {{"AWM00700", 0, 4, {0x0001, 0xFFFF, 0x8000, 0x7FFF}},
         {"WM 0700 0001", "WM 0701 FFFF", "WM 0702 8000", "WM 0703 7FFF"}},
        {{"ALL00800", 4, 2, {0x11112222, 0x33334444}},
         {"WL 0800 2222", "WL 0801 1111", "WL 0802 4444", "WL 0803 3333"}},
        {{"ABT00200", 6, 10, {1, 1, 0, 0, 0, 0, 0, 0, 0, 1}},
         {"BT 000C8 1", "BT 000C9 1", "BT 000D1 1"}},
        {{"ADN00300", 6, 17, {0, 0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 1}},
         {"DN 00307 1", "DN 00308 1", "DN 00310 1"}},
    };
    std::set<std::string> expected;
    for (const WriteCase &c : cases) {
        DriverHost::Gate gate = Gate(c.gate.text, c.gate.gateType, c.gate.blockSize);
        const bool block = c.gate.blockSize != 0;
        ASSERT_EQ(Write(gate, block, c.gate.values), 0) << c.gate.text << "\n" << LogText();
        std::vector<uint32_t> values;
        ASSERT_EQ(Read(gate, block, values), 0) << c.gate.text << "\n" << LogText();
        EXPECT_EQ(Show(values), Show(c.gate.values)) << c.gate.text;
        expected.insert(c.image.begin(), c.image.end());
    }
    // A bit written through BX is a bit of the WX word, and back.
    std::vector<uint32_t> word;
    ASSERT_EQ(Read(Gate("AWX00020", 0), false, word), 0) << LogText();
    EXPECT_EQ(word, std::vector<uint32_t>{0x0080});
    ASSERT_EQ(Write(Gate("AWX00020", 0), false, {0x0081}), 0) << LogText();
    std::vector<uint32_t> bit;
    ASSERT_EQ(Read(Gate("ABX00200", 6), false, bit), 0) << LogText();
    EXPECT_EQ(bit, std::vector<uint32_t>{1});
    ASSERT_EQ(Write(Gate("ABX00207", 6), false, {0}), 0) << LogText();
    ASSERT_EQ(Read(Gate("AWX00020", 0), false, word), 0) << LogText();
    EXPECT_EQ(word, std::vector<uint32_t>{0x0001});
    expected.erase("WX 0020 0080");
    expected.insert("WX 0020 0001");
    StopSim();
    expected.insert("station 01:02");
    EXPECT_EQ(ImageLines(ReadFile(imagePath_)), expected);
    ExpectNoFailedAttempt();
}

TEST_F(DriverOverHtsim, FirstAccessOccupiesTheStationOnce) {
    struct Case {
        const char *option;
        std::vector<std::string> telegrams;
    };
    const Case cases[] = {
        {"",
         {"0010200001701", "0010200001601", "001020000400A00001001", "001020000420A0000110100FF",
          "0010200001701", "0010200001601", "001020000400A00001001"}},
        {"OCCUPATION = NO\n",
         {"0010200001701", "001020000A00A00001001", "001020000A20A0000110100FF", "0010200001701",
          "001020000A00A00001001"}},
    };
    for (const Case &c : cases) {
        SimProcess sim;
        ASSERT_TRUE(sim.Start({"--station", "01:02", "--trace", "--stdin-eof-exits"}, tracePath_));
        dir_.Write("QORHT.INT", std::string(kStationA) + c.option);
        DriverHost host;
        ASSERT_EQ(host.ColdStart(sim.PortName(), kCleanTimeout), 0) << LogText();
        DriverHost::Gate read, write;
        ASSERT_TRUE(host.Parse("AWR00010", 0, 0, read));
        ASSERT_TRUE(host.Parse("AWR00011", 0, 0, write));
        alignas(4) uint16_t cell[2] = {0, 0x00FF};
        ASSERT_EQ(host.Io(QOR_SINGLE_READ, read, cell), 0) << LogText();
        cell[1] = 0x00FF;
        ASSERT_EQ(host.Io(QOR_SINGLE_WRITE, write, cell), 0) << LogText();
        ASSERT_EQ(host.WarmStart('A'), 0) << LogText();
        ASSERT_EQ(host.Io(QOR_SINGLE_READ, read, cell), 0) << LogText();
        EXPECT_EQ(cell[1], 0);
        ASSERT_EQ(sim.Stop(SIGTERM), 0);
        // Forced release, read occupation when enabled, then only the
        // requests themselves: the write finds the station occupied. A warm
        // start occupies it anew.
        EXPECT_EQ(Telegrams(Trace()), c.telegrams) << c.option << Trace();
        ExpectNoFailedAttempt();
    }
}

// EndQor ends the loaded library for good, so it runs in a child process of
// its own; the parent reads what went over the line.
TEST_F(DriverOverHtsim, EndReleasesTheReadOccupationOfEveryOccupiedStation) {
    StartSim({"--station", "01:02", "--station", "01:03:05"});
    dir_.Write("QORHT.INT", kStationsAB);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int failures = 0;
        {
            DriverHost host;
            failures += host.ColdStart(sim_.PortName(), kCleanTimeout) != 0;
            DriverHost::Gate gate;
            alignas(4) uint16_t cell[2] = {};
            for (const char *text : {"BWR00010", "AWR00010"}) {
                failures += !host.Parse(text, 0, 0, gate);
                failures += host.Io(QOR_SINGLE_READ, gate, cell) != 0;
            }
            failures += host.Call(QOR_END, nullptr) != 0;
            // Ended: nothing reaches the line any more.
            failures += host.Io(QOR_SINGLE_READ, gate, cell) != 0;
        }
        _exit(failures);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    StopSim();
    // Station A (code 65) is released before station B (code 66).
    EXPECT_EQ(Telegrams(Trace()),
              (std::vector<std::string>{
                  "005010300001701", "005010300001601", "00501030000400A00001001", "0010200001701",
                  "0010200001601", "001020000400A00001001", "0010200001600", "005010300001600"}))
        << Trace();
    EXPECT_EQ(Count(Trace(), "in   <STX>0010200001600"), 1);
    EXPECT_EQ(Count(Trace(), "in   <STX>005010300001600"), 1);
}

TEST_F(DriverOverHtsim, StationWithAnOfficeIsAControllerOfItsOwn) {
    StartSim({"--station", "01:02", "--station", "01:03:05"});
    StartDriver(kStationsAB, kCleanTimeout);
    ASSERT_EQ(Write(Gate("AWR00010", 0), false, {0x1111}), 0) << LogText();
    ASSERT_EQ(Write(Gate("BWR00010", 0), false, {0x2222}), 0) << LogText();
    ASSERT_EQ(Write(Gate("BLM00020", 4), false, {0xCAFEBABE}), 0) << LogText();
    std::vector<uint32_t> a, b, l;
    ASSERT_EQ(Read(Gate("AWR00010", 0), false, a), 0) << LogText();
    ASSERT_EQ(Read(Gate("BWR00010", 0), false, b), 0) << LogText();
    ASSERT_EQ(Read(Gate("BLM00020", 4), false, l), 0) << LogText();
    EXPECT_EQ(a, std::vector<uint32_t>{0x1111});
    EXPECT_EQ(b, std::vector<uint32_t>{0x2222});
    EXPECT_EQ(l, std::vector<uint32_t>{0xCAFEBABE});
    const std::string trace = Trace();
    EXPECT_GE(Count(trace, "in   <ENQ>0051<CR>"), 5) << trace;
    EXPECT_GE(Count(trace, "out  <ACK>05<CR>"), 5) << trace;
    EXPECT_GE(Count(trace, "in   <ENQ>01<CR>"), 4) << trace;
    EXPECT_EQ(Count(trace, "telegram for another station"), 0) << trace;
    ExpectNoFailedAttempt();
}

TEST_F(DriverOverHtsim, LineSurvivesTheDriverClosingAndReopeningThePort) {
    StartSim({"--station", "01:02"});
    StartDriver(kStationA, kCleanTimeout);
    ASSERT_EQ(Write(Gate("AWM00001", 0), false, {0x4242}), 0) << LogText();
    ASSERT_EQ(host_.Call(QOR_CLOSE_COM, nullptr), 0);
    ASSERT_EQ(host_.Call(QOR_REOPEN_COM, nullptr), 0) << LogText();
    std::vector<uint32_t> values;
    ASSERT_EQ(Read(Gate("AWM00001", 0), false, values), 0) << LogText();
    EXPECT_EQ(values, std::vector<uint32_t>{0x4242});
    ExpectNoFailedAttempt();
}

TEST_F(DriverOverHtsim, RefusalByResponseCodeEndsTheTransactionAtOnce) {
    StartSim({"--station", "01:02"});
    StartDriver(kStationA, kCleanTimeout);
    // The last word of the area is there; two words from it are not.
    ASSERT_EQ(Write(Gate("AWR0FFFF", 0), false, {7}), 0) << LogText();
    std::vector<uint32_t> values;
    EXPECT_EQ(Read(Gate("AWR0FFFF", 0, 2), true, values), 2) << LogText();
    EXPECT_EQ(Write(Gate("AWR0FFFF", 0, 2), true, {1, 2}), 2) << LogText();
    const std::vector<std::string> telegrams = Telegrams(Trace());
    EXPECT_EQ(std::count(telegrams.begin(), telegrams.end(), "001020000400A00FFFF02"), 1);
    EXPECT_EQ(std::count(telegrams.begin(), telegrams.end(), "001020000420A00FFFF0200010002"), 1);
    ASSERT_EQ(Read(Gate("AWR0FFFF", 0), false, values), 0) << LogText();
    EXPECT_EQ(values, std::vector<uint32_t>{7});
}

TEST_F(DriverOverHtsim, PacedLineAtNineteenTwoHundredBaud) {
    StartSim({"--station", "01:02", "--baud", "19200", "--scan-ms", "30"});
    // The longest telegram, 120 words to write, is 507 characters: 264 ms
    // on the line, which the reply time-out has to cover.
    StartDriver(kStationA, 50);
    std::vector<uint32_t> block(120);
    for (size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<uint32_t>(0x100 * i + 3);
    }
    ASSERT_EQ(Write(Gate("AWL00000", 0, 120), true, block), 0) << LogText();
    std::vector<uint32_t> values;
    ASSERT_EQ(Read(Gate("AWL00000", 0, 120), true, values), 0) << LogText();
    EXPECT_EQ(values, block);
    // The scan time made the controller answer the first polls with EOT.
    EXPECT_GE(Count(Trace(), "out  <EOT><CR>"), 1) << Trace();
    ExpectNoFailedAttempt();
}

// Faults injected by htsim. Every transaction either gives the right value
// or reports a failure; with one fault kind at a time the retries always
// get through.
struct FaultCase {
    const char *name;
    std::vector<std::string> options;
    const char *note; // what htsim's trace shows when the fault hit
    bool needsRetry;  // the fault costs the driver an attempt
};

void PrintTo(const FaultCase &c, std::ostream *out) {
    *out << c.name;
}

class FaultRecovery : public DriverOverHtsim, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultRecovery, RetriesGetEveryTransactionThrough) {
    std::vector<std::string> options = {"--station", "01:02",  "--station",
                                        "01:03:05",  "--seed", "11"};
    options.insert(options.end(), GetParam().options.begin(), GetParam().options.end());
    StartSim(options);
    StartDriver(kStationsAB, 10);
    // Station A answers with short frames, B with its office in every one.
    const GateCase cases[] = {
        {"AWR00010", 0, 0, {0x1234}},
        {"BLM00020", 4, 0, {0x89ABCDEF}},
        {"ABX00105", 6, 0, {1}},
        {"BDF00203", 6, 0, {1}},
        {"AWM00100", 0, 6, {1, 0x22, 0x333, 0x4444, 0xFFFF, 0}},
        {"BBR00040", 6, 11, {1, 0, 0, 1, 1, 0, 1, 0, 1, 1, 1}},
        {"ALY00200", 5, 2, {0x01020304, 0xA0B0C0D0}},
    };
    for (int round = 0; round < 2; ++round) {
        for (const GateCase &c : cases) {
            DriverHost::Gate gate = Gate(c.text, c.gateType, c.blockSize);
            const bool block = c.blockSize != 0;
            std::vector<uint32_t> wanted = c.values;
            for (uint32_t &v : wanted) {
                v = round == 0 ? v
                               : (c.gateType == 6
                                      ? v ^ 1
                                      : ~v & (gate.address.width == 32 ? 0xFFFFFFFFu : 0xFFFFu));
            }
            ClearLog();
            ASSERT_EQ(Write(gate, block, wanted), 0) << c.text << "\n" << LogText();
            std::vector<uint32_t> values;
            ASSERT_EQ(Read(gate, block, values), 0) << c.text << "\n" << LogText();
            EXPECT_EQ(Show(values), Show(wanted)) << c.text;
        }
    }
    const std::string trace = Trace();
    EXPECT_GE(Count(trace, GetParam().note), 1) << "the fault never hit:\n" << trace;
    if (GetParam().needsRetry) {
        // Without retries: 2 rounds of 7 gates written and read, and two
        // occupation telegrams per station.
        EXPECT_GT(Telegrams(trace).size(), 2u * 7u * 2u + 4u) << "no telegram was repeated";
    }
    // Whatever arrived, the context behind the receive buffer is intact.
    const StationEntry &a = host_.context()->stations['A'];
    const StationEntry &b = host_.context()->stations['B'];
    EXPECT_EQ((std::vector<int>{a.unit, a.loop, a.office, a.occupied}),
              (std::vector<int>{0x02, 0x01, 0xFF, 1}));
    EXPECT_EQ((std::vector<int>{b.unit, b.loop, b.office, b.occupied}),
              (std::vector<int>{0x03, 0x01, 0x05, 1}));
    EXPECT_EQ(host_.context()->stations['C'].loop, 0xFF);
}

INSTANTIATE_TEST_SUITE_P(
    OneKindAtATime, FaultRecovery,
    ::testing::Values(
        FaultCase{"Drop", {"--drop", "0.2"}, "fault drop", true},
        FaultCase{"Corrupt", {"--corrupt", "0.2"}, "fault corrupt", true},
        FaultCase{"Garbage", {"--garbage", "0.2"}, "fault garbage", true},
        FaultCase{"Split", {"--split", "0.3", "--split-ms", "30"}, "fault split", false},
        FaultCase{"Silence", {"--silence", "0.15"}, "fault silence", true},
        FaultCase{
            "LateBeyondTheTimeout", {"--late", "0.15", "--late-ms", "300"}, "fault late", true},
        FaultCase{"LateWithinTheTimeout", {"--late", "1", "--late-ms", "30"}, "fault late", false},
        FaultCase{"Nak", {"--nak", "0.2"}, "fault nak", true},
        FaultCase{"ExtraEot", {"--extra-eot", "0.5"}, "fault extra-eot", false},
        FaultCase{"Overlong", {"--overlong", "0.15"}, "fault overlong", true}),
    [](const ::testing::TestParamInfo<FaultCase> &info) { return std::string(info.param.name); });

// All fault kinds at once, more than the retries can always absorb: a
// transaction may fail, but one that reports success has the right value.
TEST_F(DriverOverHtsim, UnderMixedFaultsNoSuccessEverCarriesAWrongValue) {
    StartSim({"--station",  "01:02", "--seed",    "2024", "--drop",      "0.12",
              "--corrupt",  "0.12",  "--garbage", "0.06", "--split",     "0.06",
              "--split-ms", "20",    "--silence", "0.06", "--late",      "0.05",
              "--late-ms",  "250",   "--nak",     "0.06", "--extra-eot", "0.1",
              "--overlong", "0.04"});
    StartDriver(kStationA, 10);
    std::map<std::string, std::vector<uint32_t>> controller; // what it surely holds
    const GateCase gates[] = {
        {"AWR00010", 0, 0, {}}, {"AWR00011", 0, 0, {}}, {"ALR00012", 4, 0, {}},
        {"ABX00105", 6, 0, {}}, {"AWM00100", 0, 5, {}}, {"ABR00040", 6, 13, {}},
    };
    int successes = 0, failures = 0;
    uint32_t next = 1;
    for (int round = 0; round < 6; ++round) {
        for (const GateCase &c : gates) {
            DriverHost::Gate gate = Gate(c.text, c.gateType, c.blockSize);
            const bool block = c.blockSize != 0;
            std::vector<uint32_t> wanted;
            for (int32_t i = 0; i < gate.count; ++i) {
                next = next * 1103515245u + 12345u;
                const uint32_t v = next >> 8;
                wanted.push_back(c.gateType == 6            ? v & 1
                                 : gate.address.width == 32 ? v * 2654435761u
                                                            : v & 0xFFFF);
            }
            // A failed write may or may not have reached the controller:
            // write until one is confirmed, so the value is known again.
            int32_t result = 1;
            for (int tries = 0; tries < 6 && result != 0; ++tries) {
                result = Write(gate, block, wanted);
                (result == 0 ? successes : failures)++;
            }
            ASSERT_EQ(result, 0) << c.text << " could not be written\n" << LogText();
            controller[c.text] = wanted;
            std::vector<uint32_t> values;
            result = Read(gate, block, values);
            (result == 0 ? successes : failures)++;
            if (result == 0) {
                EXPECT_EQ(Show(values), Show(controller[c.text]))
                    << c.text << ": success with a wrong value";
            }
        }
    }
    EXPECT_GE(successes, 4 * failures) << successes << " successes, " << failures << " failures";
    const std::string trace = Trace();
    for (const char *fault : {"fault drop", "fault corrupt", "fault garbage", "fault split",
                              "fault silence", "fault late", "fault nak", "fault extra-eot"}) {
        EXPECT_GE(Count(trace, fault), 1) << fault << " never hit";
    }
}

// When the driver rejects what it received it answers NAK, and the
// controller must get to see that NAK: it drops the answer it holds. The
// next attempt begins right after the NAK with a purge, which may discard
// what the line has not yet taken, but never what was written before it.
TEST_F(DriverOverHtsim, EveryNakOfTheDriverReachesTheController) {
    StartSim({"--station", "01:02", "--seed", "5", "--garbage", "0.3", "--corrupt", "0.2"});
    StartDriver(kStationA, 10);
    for (uint32_t i = 0; i < 6; ++i) {
        char text[9];
        std::snprintf(text, sizeof text, "AWR%05X", 0x40 + i);
        ASSERT_EQ(Write(Gate(text, 0), false, {i}), 0) << LogText();
    }
    int naksSent = 0;
    for (const auto &line : testing_support::Log()) {
        for (const char *sentWithNak :
             {"Read response/EOT", "received illegal msg", "received > 10 EOT",
              "timeout waiting for response", "error sending ENQ"}) {
            naksSent += line.text.find(sentWithNak) != std::string::npos ? 1 : 0;
        }
    }
    ASSERT_GT(naksSent, 0) << "the faults provoked no NAK:\n" << LogText();
    EXPECT_EQ(Count(Trace(), "in   <NAK>0FF<CR>"), naksSent) << LogText() << Trace();
}

// Code 05 is the controller being busy. A write is not retried: it fails at
// once, and the controller did not execute it.
TEST_F(DriverOverHtsim, BusyControllerFailsAWriteAtOnceAndExecutesNothing) {
    // With seed 5 the forced release gets through (a busy read would cost
    // two seconds) and four of the twelve writes meet a busy controller.
    StartSim({"--station", "01:02", "--seed", "5", "--busy", "0.3", "--image", imagePath_});
    dir_.Write("QORHT.INT", std::string(kStationA) + "OCCUPATION = NO\n");
    ASSERT_EQ(host_.ColdStart(sim_.PortName(), 10), 0) << LogText();
    std::set<std::string> expected{"station 01:02"};
    int busy = 0;
    for (uint32_t i = 0; i < 12; ++i) {
        char text[9];
        std::snprintf(text, sizeof text, "AWR%05X", 0x20 + i);
        const int32_t result = Write(Gate(text, 0), false, {0x100 + i});
        ASSERT_TRUE(result == 0 || result == 2) << result;
        char line[16];
        std::snprintf(line, sizeof line, "WR %04X %04X", 0x20 + i, 0x100 + i);
        if (result == 0) {
            expected.insert(line);
        } else {
            ++busy;
        }
    }
    StopSim();
    EXPECT_GE(busy, 1);
    EXPECT_EQ(ImageLines(ReadFile(imagePath_)), expected);
    // Each write telegram went out once: a busy write is not repeated.
    std::vector<std::string> writes;
    for (const std::string &telegram : Telegrams(Trace())) {
        if (telegram.compare(9, 2, "A2") == 0) {
            writes.push_back(telegram);
        }
    }
    EXPECT_EQ(writes.size(), 12u);
    EXPECT_EQ(std::set<std::string>(writes.begin(), writes.end()).size(), writes.size());
}

} // namespace
} // namespace integration
