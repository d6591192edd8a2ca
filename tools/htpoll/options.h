// Command line of htpoll: what the user typed, checked and converted into the
// values the driver's records carry. Nothing here touches the driver, the
// serial line or the file system, so every rule can be tested in-process.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace htpoll {

enum class Format { Text, Csv, Json };

// What the values of a gate are: one bit, one 16-bit word, one 32-bit word.
enum class Kind { Bit, Word, Dword };

// The host data type code the driver's parsers expect for each kind.
constexpr int32_t kGateTypeBit = 6;
constexpr int32_t kGateTypeWord = 0;
constexpr int32_t kGateTypeDword = 4;

int32_t GateTypeFor(Kind kind);

// The kind a gate's memory type letters (characters 2 and 3) stand for:
// B*, DF and DN hold bits, W* and TC words, L* double words. Letters the
// driver does not know count as words; the driver refuses such a gate anyway.
Kind KindFromGate(const std::string &gate);

// The driver's port name field holds 11 characters and a terminator.
constexpr size_t kMaxDriverPortName = 11;

struct Options {
    bool help = false;
    bool version = false;
    int verbosity = 0; // 0: level 32 only, 1: also 8, 2: also 0

    std::string port;       // as typed; empty: start the simulator
    std::string driverPort; // the name handed to the driver

    // Line settings; unset ones take the driver's defaults from GetQorInfo.
    std::optional<uint16_t> baudRate;
    std::optional<uint16_t> dataBits;
    std::optional<uint16_t> stopBits; // driver codes 0, 1, 2
    std::optional<uint16_t> parity;   // driver codes 0 to 4

    int32_t timeoutUnits = 100; // reply time-out in 10 ms units
    uint32_t instance = 0;
    std::optional<int32_t> count; // block when set
    std::optional<Kind> type;     // -T
    bool loop = false;
    uint32_t periodMs = 1000;
    std::optional<uint64_t> polls; // -n
    std::string intFile;
    Format format = Format::Text;
    std::optional<int32_t> warmStation;
    std::string libPath;

    std::string gate;
    std::vector<int64_t> values; // already range-checked for the gate's kind

    bool IsBlock() const { return count.has_value(); }
    bool IsWrite() const { return !values.empty(); }
    // Kind of the values: -T when given for a single gate, else the letters.
    Kind ValueKind() const;
    int32_t ElementCount() const { return count.value_or(1); }
};

struct ParseResult {
    bool ok = false;
    std::string error; // one line, without the program name
};

// Parses argv[1..argc-1]. On failure `error` says what is wrong; the caller
// exits with status 2.
ParseResult ParseCommandLine(int argc, const char *const *argv, Options &options);

// Maps what a user types for a device (/dev/ttyUSB0, ttyUSB0, /dev/pts/12) to
// the name the driver opens: the driver prefixes /dev/ to a name that does
// not start with "/", so that prefix is dropped. Returns false when the
// result is empty or longer than the driver's field.
bool DriverPortName(const std::string &typed, std::string &name);

std::string UsageText();

} // namespace htpoll
