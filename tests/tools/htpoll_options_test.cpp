// htpoll's command line, checked in-process: what each accepted usage puts
// into the driver's records, and the one-line message of each refused one.
#include "options.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using htpoll::Format;
using htpoll::Kind;
using htpoll::Options;

namespace {

htpoll::ParseResult Parse(std::vector<std::string> words, Options &options) {
    words.insert(words.begin(), "htpoll");
    std::vector<const char *> argv;
    for (const std::string &word : words) {
        argv.push_back(word.c_str());
    }
    return htpoll::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), options);
}

struct GoodCase {
    std::vector<std::string> args;
    std::function<void(const Options &)> check;
};

TEST(HtpollOptions, AcceptedUsagesFillTheDriverRecords) {
    const std::vector<GoodCase> cases = {
        {{"AWR00010"},
         [](const Options &o) {
             EXPECT_EQ(o.gate, "AWR00010");
             EXPECT_TRUE(o.port.empty());
             EXPECT_EQ(o.timeoutUnits, 100); // -t 1000 by default
             EXPECT_FALSE(o.baudRate || o.dataBits || o.stopBits || o.parity);
             EXPECT_FALSE(o.IsBlock());
             EXPECT_FALSE(o.IsWrite());
             EXPECT_FALSE(o.loop);
             EXPECT_EQ(o.instance, 0u);
             EXPECT_EQ(o.format, Format::Text);
         }},
        {{"-p", "/dev/pts/12", "AWR00010"},
         [](const Options &o) { EXPECT_EQ(o.driverPort, "pts/12"); }},
        {{"-p", "/dev/ttyUSB0", "AWR00010"},
         [](const Options &o) { EXPECT_EQ(o.driverPort, "ttyUSB0"); }},
        {{"-p", "ttyUSB0", "AWR00010"},
         [](const Options &o) { EXPECT_EQ(o.driverPort, "ttyUSB0"); }},
        {{"-p", "/tmp/tty1", "AWR00010"},
         [](const Options &o) { EXPECT_EQ(o.driverPort, "/tmp/tty1"); }},
        {{"-p", "/dev/abcdefghijk", "AWR00010"},
         [](const Options &o) { EXPECT_EQ(o.driverPort, "abcdefghijk"); }},
        {{"-b", "9600", "-d", "8", "-s", "2", "-P", "none", "AWR00010"},
         [](const Options &o) {
             EXPECT_EQ(*o.baudRate, 9600);
             EXPECT_EQ(*o.dataBits, 8);
             EXPECT_EQ(*o.stopBits, 2);
             EXPECT_EQ(*o.parity, 0);
         }},
        {{"-b65535", "-s1.5", "-Pspace", "AWR00010"},
         [](const Options &o) {
             EXPECT_EQ(*o.baudRate, 65535);
             EXPECT_EQ(*o.stopBits, 1);
             EXPECT_EQ(*o.parity, 4);
         }},
        {{"-s", "1", "-P", "odd", "AWR00010"},
         [](const Options &o) {
             EXPECT_EQ(*o.stopBits, 0);
             EXPECT_EQ(*o.parity, 1);
         }},
        {{"-P", "even", "AWR00010"}, [](const Options &o) { EXPECT_EQ(*o.parity, 2); }},
        {{"-P", "mark", "AWR00010"}, [](const Options &o) { EXPECT_EQ(*o.parity, 3); }},
        // The reply time-out counts in 10 ms steps, rounded up.
        {{"-t", "1", "AWR00010"}, [](const Options &o) { EXPECT_EQ(o.timeoutUnits, 1); }},
        {{"-t", "10", "AWR00010"}, [](const Options &o) { EXPECT_EQ(o.timeoutUnits, 1); }},
        {{"-t", "15", "AWR00010"}, [](const Options &o) { EXPECT_EQ(o.timeoutUnits, 2); }},
        {{"-t", "2500", "AWR00010"}, [](const Options &o) { EXPECT_EQ(o.timeoutUnits, 250); }},
        {{"-i", "12", "AWR00010"}, [](const Options &o) { EXPECT_EQ(o.instance, 12u); }},
        {{"-c", "10", "AWR00100"},
         [](const Options &o) {
             EXPECT_TRUE(o.IsBlock());
             EXPECT_EQ(o.ElementCount(), 10);
         }},
        {{"-n", "3", "AWR00010"},
         [](const Options &o) {
             EXPECT_TRUE(o.loop); // -n implies polling
             EXPECT_EQ(*o.polls, 3u);
         }},
        {{"-lvv", "-r", "250", "AWR00010"},
         [](const Options &o) {
             EXPECT_TRUE(o.loop);
             EXPECT_EQ(o.verbosity, 2);
             EXPECT_EQ(o.periodMs, 250u);
         }},
        {{"-v", "AWR00010"}, [](const Options &o) { EXPECT_EQ(o.verbosity, 1); }},
        {{"--format=csv", "--int", "plant.INT", "--lib=/x/libqorht.so", "AWR00010"},
         [](const Options &o) {
             EXPECT_EQ(o.format, Format::Csv);
             EXPECT_EQ(o.intFile, "plant.INT");
             EXPECT_EQ(o.libPath, "/x/libqorht.so");
         }},
        {{"--format", "json", "AWR00010"},
         [](const Options &o) { EXPECT_EQ(o.format, Format::Json); }},
        // The station code goes to the driver unchanged, lower case included.
        {{"--warm-start", "a"},
         [](const Options &o) {
             EXPECT_EQ(*o.warmStation, 'a');
             EXPECT_TRUE(o.gate.empty());
         }},
        {{"--warm-start", "B", "AWR00010"},
         [](const Options &o) {
             EXPECT_EQ(*o.warmStation, 'B');
             EXPECT_EQ(o.gate, "AWR00010");
         }},
        {{"AWR00010", "0x1234"},
         [](const Options &o) {
             EXPECT_FALSE(o.IsBlock());
             ASSERT_EQ(o.values.size(), 1u);
             EXPECT_EQ(o.values[0], 0x1234);
         }},
        // A dash and a digit is a negative value, before or after "--".
        {{"AWR00010", "-5"}, [](const Options &o) { EXPECT_EQ(o.values.at(0), -5); }},
        {{"AWR00010", "--", "-32768"}, [](const Options &o) { EXPECT_EQ(o.values.at(0), -32768); }},
        {{"ALR00020", "4294967295"},
         [](const Options &o) { EXPECT_EQ(o.values.at(0), 4294967295LL); }},
        {{"ALR00020", "-2147483648"},
         [](const Options &o) { EXPECT_EQ(o.values.at(0), -2147483648LL); }},
        // Several values write a block of that many.
        {{"AWR00100", "1", "2", "3"},
         [](const Options &o) {
             EXPECT_TRUE(o.IsBlock());
             EXPECT_EQ(o.ElementCount(), 3);
             EXPECT_EQ(o.values, (std::vector<int64_t>{1, 2, 3}));
         }},
        {{"-c", "2", "ABR00200", "1", "0"},
         [](const Options &o) {
             EXPECT_EQ(o.values, (std::vector<int64_t>{1, 0}));
         }},
        // -T picks the type of a single gate, so a word gate declared bit
        // takes bit values (the driver then refuses the mismatch).
        {{"-T", "bit", "AWR00010", "1"},
         [](const Options &o) { EXPECT_EQ(o.ValueKind(), Kind::Bit); }},
        {{"-T", "dword", "AWR00010"},
         [](const Options &o) { EXPECT_EQ(o.ValueKind(), Kind::Dword); }},
        {{"--help", "--bogus"}, [](const Options &o) { EXPECT_TRUE(o.help); }},
        {{"-h"}, [](const Options &o) { EXPECT_TRUE(o.help); }},
    };
    for (const GoodCase &c : cases) {
        Options options;
        std::string joined;
        for (const std::string &word : c.args) {
            joined += word + " ";
        }
        SCOPED_TRACE(joined);
        htpoll::ParseResult result = Parse(c.args, options);
        ASSERT_TRUE(result.ok) << result.error;
        c.check(options);
    }
}

TEST(HtpollOptions, RefusedUsagesSayWhatIsWrong) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "no GATE given"},
        {{"--bogus", "AWR00010"}, "unknown option --bogus"},
        {{"-x", "AWR00010"}, "unknown option -x"},
        {{"-lx", "AWR00010"}, "unknown option -x"},
        {{"--help=yes"}, "option --help takes no value"},
        {{"AWR00010", "-b"}, "option -b needs a value"},
        {{"AWR00010", "--format"}, "option --format needs a value"},
        {{"-b", "115200", "AWR00010"}, "speed 115200 does not fit the driver's 16-bit"},
        {{"-b", "0", "AWR00010"}, "option -b takes a speed"},
        {{"-b", "fast", "AWR00010"}, "option -b takes a speed"},
        {{"-d", "9", "AWR00010"}, "option -d takes a number from 5 to 8, not '9'"},
        {{"-s", "3", "AWR00010"}, "option -s takes 1, 1.5 or 2 stop bits, not '3'"},
        {{"-P", "EVEN", "AWR00010"}, "option -P takes none, odd, even, mark or space"},
        {{"-t", "0", "AWR00010"}, "option -t takes a number from 1 to 600000"},
        {{"-t", "600001", "AWR00010"}, "option -t takes a number from 1 to 600000"},
        {{"-t", "-5", "AWR00010"}, "option -t takes a number"},
        {{"-i", "4294967296", "AWR00010"}, "option -i takes a number"},
        {{"-c", "0", "AWR00010"}, "option -c takes a number from 1 to 65535"},
        {{"-n", "0", "AWR00010"}, "option -n takes a number from 1"},
        {{"-r", "100", "AWR00010"}, "option -r needs -l or -n"},
        {{"-T", "float", "AWR00010"}, "option -T takes bit, word or dword"},
        {{"--format", "xml", "AWR00010"}, "option --format takes text, csv or json"},
        {{"--warm-start", "AB"}, "option --warm-start takes one station character"},
        {{"--warm-start", "A", "-c", "3"}, "need a GATE"},
        {{"-p", "/dev/ttyUSB0123456", "AWR00010"}, "does not fit the driver's 11 characters"},
        {{"-p", "ttyUSB0123456", "AWR00010"}, "does not fit the driver's 11 characters"},
        {{"-p", "/dev/", "AWR00010"}, "does not fit"},
        {{"-c", "3", "AWR00010", "1", "2"}, "-c 3 but 2 values given"},
        {{"AWR00010", "65536"}, "a word takes -32768 to 65535"},
        {{"AWR00010", "-32769"}, "a word takes -32768 to 65535"},
        {{"ABR00010", "2"}, "a bit takes 0 or 1"},
        {{"ADF00105", "-1"}, "a bit takes 0 or 1"},
        {{"ALR00020", "4294967296"}, "a double word takes"},
        {{"-T", "word", "ALR00020", "70000"}, "a word takes"},
        {{"AWR00010", "12z"}, "value '12z' is not a decimal or 0x hex number"},
        {{"AWR00010", "0x"}, "is not a decimal or 0x hex number"},
        {{"AWR00010", "1.5"}, "is not a decimal or 0x hex number"},
    };
    for (const auto &c : cases) {
        Options options;
        std::string joined;
        for (const std::string &word : c.first) {
            joined += word + " ";
        }
        SCOPED_TRACE(joined);
        htpoll::ParseResult result = Parse(c.first, options);
        EXPECT_FALSE(result.ok);
        EXPECT_NE(result.error.find(c.second), std::string::npos) << result.error;
        EXPECT_EQ(result.error.find('\n'), std::string::npos) << "one line only";
    }
}

TEST(HtpollOptions, GateLettersPickTheHostDataType) {
    const std::vector<std::pair<std::string, Kind>> cases = {
        {"ABX00115", Kind::Bit},   {"ABY00115", Kind::Bit},   {"ABR00010", Kind::Bit},
        {"ABL0001F", Kind::Bit},   {"ABM00103", Kind::Bit},   {"ABT00010", Kind::Bit},
        {"ADF00105", Kind::Bit},   {"ADN00105", Kind::Bit},   {"AWX00010", Kind::Word},
        {"AWR00010", Kind::Word},  {"awm00010", Kind::Word},  {"ATC00100", Kind::Word},
        {"ALX00010", Kind::Dword}, {"alr00020", Kind::Dword}, {"ALM00000", Kind::Dword},
        {"AXX00000", Kind::Word},  {"A", Kind::Word},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(htpoll::KindFromGate(c.first), c.second) << c.first;
    }
    EXPECT_EQ(htpoll::GateTypeFor(Kind::Bit), 6);
    EXPECT_EQ(htpoll::GateTypeFor(Kind::Word), 0);
    EXPECT_EQ(htpoll::GateTypeFor(Kind::Dword), 4);
}

TEST(HtpollOptions, UsageShowsEveryOptionAndExamples) {
    std::string usage = htpoll::UsageText();
    for (const char *option :
         {"-p PORT",  "-b BAUD",     "-d BITS",    "-s STOP",    "-P PARITY",
          "-t MS",    "-i INSTANCE", "--int FILE", "--lib PATH", "--warm-start",
          "-c COUNT", "-T TYPE",     "-l ",        "-r MS",      "-n N",
          "--format", "-v ",         "--help",     "--version",  "Examples:"}) {
        EXPECT_NE(usage.find(option), std::string::npos) << option;
    }
}

} // namespace
