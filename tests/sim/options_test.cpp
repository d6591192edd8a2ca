// htsim's command line: what it accepts and that nothing wrong slips by.
#include "options.h"

#include <gtest/gtest.h>

namespace htsim {
namespace {

ParseOutcome Parse(std::vector<std::string> arguments, Options &options, std::string &message) {
    return ParseOptions(arguments, options, message);
}

TEST(OptionsTest, EveryOptionIsTaken) {
    Options options;
    std::string message;
    ASSERT_EQ(Parse({"--station",
                     "01:02",
                     "--station=0a:FF:05",
                     "--baud",
                     "9600",
                     "--data-bits",
                     "8",
                     "--parity",
                     "odd",
                     "--stop-bits",
                     "2",
                     "--scan-ms",
                     "40",
                     "--image",
                     "plc.img",
                     "--trace",
                     "--stdin-eof-exits",
                     "--seed",
                     "42",
                     "--drop",
                     "0.1",
                     "--corrupt",
                     "0.2",
                     "--garbage",
                     "0.3",
                     "--split",
                     "0.4",
                     "--split-ms",
                     "7",
                     "--silence",
                     "0.5",
                     "--late",
                     "0.6",
                     "--late-ms",
                     "300",
                     "--nak",
                     "0.7",
                     "--busy",
                     "0.8",
                     "--extra-eot",
                     "0.9",
                     "--overlong",
                     "1"},
                    options, message),
              ParseOutcome::Run)
        << message;
    ASSERT_EQ(options.stations.size(), 2u);
    EXPECT_EQ(options.stations[0], (StationAddress{0x01, 0x02, -1}));
    EXPECT_EQ(options.stations[1], (StationAddress{0x0A, 0xFF, 0x05}));
    EXPECT_EQ(options.format.baud, 9600);
    EXPECT_EQ(options.format.dataBits, 8);
    EXPECT_EQ(options.format.parity, 'O');
    EXPECT_EQ(options.format.stopBits, 2);
    EXPECT_EQ(options.scanTime, 40 * kMillisecond);
    EXPECT_EQ(options.image, "plc.img");
    EXPECT_TRUE(options.trace);
    EXPECT_TRUE(options.stdinEofExits);
    EXPECT_EQ(options.faults.seed, 42u);
    EXPECT_EQ(options.faults.split, 7 * kMillisecond);
    EXPECT_EQ(options.faults.late, 300 * kMillisecond);
    const Fault order[] = {Fault::Drop,     Fault::Corrupt, Fault::Garbage, Fault::Split,
                           Fault::Silence,  Fault::Late,    Fault::Nak,     Fault::Busy,
                           Fault::ExtraEot, Fault::Overlong};
    for (int i = 0; i < 10; ++i) {
        EXPECT_DOUBLE_EQ(options.faults[order[i]], (i + 1) / 10.0) << FaultName(order[i]);
    }
}

TEST(OptionsTest, DefaultsAreSevenEvenOneWithoutPacing) {
    Options options;
    std::string message;
    ASSERT_EQ(Parse({"--station", "01:02"}, options, message), ParseOutcome::Run);
    EXPECT_EQ(options.format.baud, 0);
    EXPECT_EQ(BitsPerCharacter(options.format), 10);
    EXPECT_EQ(options.faults.late, 1500 * kMillisecond);
    EXPECT_EQ(options.scanTime, 0);
    Options device;
    ASSERT_EQ(Parse({"--station", "01:02", "--device", "/dev/ttyS0"}, device, message),
              ParseOutcome::Run);
    EXPECT_EQ(device.format.baud, 19200);
}

TEST(OptionsTest, BadUsageIsNeverIgnored) {
    const std::vector<std::vector<std::string>> cases = {
        {"--station", "01:02", "--bogus"},
        {"--station", "01:02", "extra"},
        {"--station"},
        {"--station", "1:2"},
        {"--station", "01:02:3"},
        {"--station", "01-02"},
        {"--station", "0G:02"},
        {},
        {"--station", "01:02", "--baud"},
        {"--station", "01:02", "--baud", "fast"},
        {"--station", "01:02", "--baud", "0"},
        {"--station", "01:02", "--baud", "19200x"},
        {"--station", "01:02", "--data-bits", "9"},
        {"--station", "01:02", "--parity", "EVEN"},
        {"--station", "01:02", "--stop-bits", "3"},
        {"--station", "01:02", "--scan-ms", "-1"},
        {"--station", "01:02", "--late-ms", ""},
        {"--station", "01:02", "--seed", "-3"},
        {"--station", "01:02", "--drop", "1.5"},
        {"--station", "01:02", "--corrupt", "-0.1"},
        {"--station", "01:02", "--silence", "nan"},
        {"--station", "01:02", "--nak", "0.1x"},
        {"--station", "01:02", "--overlong"},
        {"--station", "01:02", "--trace=yes"},
        {"--station", "01:02", "--image", ""},
    };
    for (const auto &arguments : cases) {
        Options options;
        std::string message;
        std::string joined;
        for (const std::string &argument : arguments) {
            joined += argument + " ";
        }
        EXPECT_EQ(Parse(arguments, options, message), ParseOutcome::BadUsage) << joined;
        EXPECT_FALSE(message.empty()) << joined;
        EXPECT_EQ(message.find('\n'), std::string::npos) << joined;
    }
}

TEST(OptionsTest, HelpListsEveryOptionWithAnExample) {
    Options options;
    std::string message;
    EXPECT_EQ(Parse({"--help"}, options, message), ParseOutcome::Help);
    const std::string help = HelpText();
    for (const char *name :
         {"--station",   "--device",   "--baud",    "--data-bits", "--parity",
          "--stop-bits", "--scan-ms",  "--image",   "--trace",     "--stdin-eof-exits",
          "--drop",      "--corrupt",  "--garbage", "--split",     "--split-ms",
          "--silence",   "--late",     "--late-ms", "--nak",       "--busy",
          "--extra-eot", "--overlong", "--seed",    "--help",      "Example"}) {
        EXPECT_NE(help.find(name), std::string::npos) << name;
    }
}

} // namespace
} // namespace htsim
