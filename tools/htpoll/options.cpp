#include "options.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <limits>

namespace htpoll {

int32_t GateTypeFor(Kind kind) {
    switch (kind) {
    case Kind::Bit:
        return kGateTypeBit;
    case Kind::Dword:
        return kGateTypeDword;
    case Kind::Word:
        break;
    }
    return kGateTypeWord;
}

Kind KindFromGate(const std::string &gate) {
    if (gate.size() < 3) {
        return Kind::Word;
    }
    char first = static_cast<char>(std::toupper(static_cast<unsigned char>(gate[1])));
    char second = static_cast<char>(std::toupper(static_cast<unsigned char>(gate[2])));
    if (first == 'B' || (first == 'D' && (second == 'F' || second == 'N'))) {
        return Kind::Bit;
    }
    if (first == 'L') {
        return Kind::Dword;
    }
    return Kind::Word;
}

Kind Options::ValueKind() const {
    // A block's values follow the memory's width, whatever type the host
    // declares; a single gate's follow the declared type.
    if (!IsBlock() && type.has_value()) {
        return *type;
    }
    return KindFromGate(gate);
}

bool DriverPortName(const std::string &typed, std::string &name) {
    static const std::string kDev = "/dev/";
    name = typed.compare(0, kDev.size(), kDev) == 0 ? typed.substr(kDev.size()) : typed;
    return !name.empty() && name.size() <= kMaxDriverPortName;
}

namespace {

// Strict decimal number: digits only, no sign, no blanks, within [low, high].
bool ParseUnsigned(const std::string &text, uint64_t low, uint64_t high, uint64_t &value) {
    if (text.empty() || text.size() > 20) {
        return false;
    }
    uint64_t result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        uint64_t digit = static_cast<uint64_t>(c - '0');
        if (result > (std::numeric_limits<uint64_t>::max() - digit) / 10) {
            return false;
        }
        result = result * 10 + digit;
    }
    if (result < low || result > high) {
        return false;
    }
    value = result;
    return true;
}

// A value to write: optional sign, then decimal digits or 0x and hex digits.
bool ParseValue(const std::string &text, int64_t &value) {
    size_t pos = 0;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) {
        negative = text[pos] == '-';
        ++pos;
    }
    int base = 10;
    if (text.size() - pos > 2 && text[pos] == '0' &&
        (text[pos + 1] == 'x' || text[pos + 1] == 'X')) {
        base = 16;
        pos += 2;
    }
    if (pos >= text.size() || text.size() - pos > 16) {
        return false;
    }
    int64_t magnitude = 0;
    for (; pos < text.size(); ++pos) {
        int c = static_cast<unsigned char>(text[pos]);
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && std::isxdigit(c)) {
            digit = std::tolower(c) - 'a' + 10;
        } else {
            return false;
        }
        magnitude = magnitude * base + digit; // at most 16 hex digits: checked below
        if (magnitude > (int64_t{1} << 40)) {
            return false;
        }
    }
    value = negative ? -magnitude : magnitude;
    return true;
}

struct ValueRange {
    int64_t low;
    int64_t high;
    const char *what;
};

ValueRange RangeFor(Kind kind) {
    switch (kind) {
    case Kind::Bit:
        return {0, 1, "a bit takes 0 or 1"};
    case Kind::Dword:
        return {std::numeric_limits<int32_t>::min(), std::numeric_limits<uint32_t>::max(),
                "a double word takes -2147483648 to 4294967295"};
    case Kind::Word:
        break;
    }
    return {-32768, 65535, "a word takes -32768 to 65535"};
}

// Walks argv the way getopt does: "-b9600" and "-b 9600" alike, flags grouped
// as in "-lvv", "--name=value" and "--name value", "--" ending the options.
// A dash followed by a digit is a negative value, never an option.
class Parser {
public:
    Parser(int argc, const char *const *argv, Options &options)
        : argc_(argc), argv_(argv), options_(options) {}

    ParseResult Run() {
        std::vector<std::string> positional;
        bool optionsEnded = false;
        for (index_ = 1; index_ < argc_; ++index_) {
            std::string arg = argv_[index_];
            if (optionsEnded || arg.size() < 2 || arg[0] != '-' ||
                std::isdigit(static_cast<unsigned char>(arg[1]))) {
                positional.push_back(arg);
                continue;
            }
            if (arg == "--") {
                optionsEnded = true;
                continue;
            }
            bool ok = arg[1] == '-' ? Long(arg) : Short(arg);
            if (!ok) {
                return Fail(error_);
            }
            if (options_.help || options_.version) {
                return {true, ""};
            }
        }
        return Finish(positional);
    }

private:
    ParseResult Fail(const std::string &message) { return {false, message}; }

    bool Error(const std::string &message) {
        error_ = message;
        return false;
    }

    // The value of an option: the rest of its argument or the next argument.
    bool TakeValue(const std::string &option, const std::string &attached, bool hasAttached,
                   std::string &value) {
        if (hasAttached) {
            value = attached;
            return true;
        }
        if (index_ + 1 >= argc_) {
            return Error("option " + option + " needs a value");
        }
        value = argv_[++index_];
        return true;
    }

    bool Short(const std::string &arg) {
        for (size_t i = 1; i < arg.size(); ++i) {
            char letter = arg[i];
            std::string option = std::string("-") + letter;
            switch (letter) {
            case 'h':
                options_.help = true;
                return true;
            case 'l':
                options_.loop = true;
                continue;
            case 'v':
                if (options_.verbosity < 2) {
                    ++options_.verbosity;
                }
                continue;
            case 'p':
            case 'b':
            case 'd':
            case 's':
            case 'P':
            case 't':
            case 'i':
            case 'c':
            case 'T':
            case 'r':
            case 'n': {
                std::string value;
                bool attached = i + 1 < arg.size();
                if (!TakeValue(option, attached ? arg.substr(i + 1) : "", attached, value)) {
                    return false;
                }
                return Apply(letter, option, value);
            }
            default:
                return Error("unknown option " + option);
            }
        }
        return true;
    }

    bool Long(const std::string &arg) {
        size_t equals = arg.find('=');
        std::string name = arg.substr(0, equals);
        bool attached = equals != std::string::npos;
        std::string attachedValue = attached ? arg.substr(equals + 1) : "";
        if (name == "--help" || name == "--version") {
            if (attached) {
                return Error("option " + name + " takes no value");
            }
            (name == "--help" ? options_.help : options_.version) = true;
            return true;
        }
        static const char *const kWithValue[] = {"--int", "--format", "--warm-start", "--lib"};
        for (const char *known : kWithValue) {
            if (name == known) {
                std::string value;
                if (!TakeValue(name, attachedValue, attached, value)) {
                    return false;
                }
                return ApplyLong(name, value);
            }
        }
        return Error("unknown option " + name);
    }

    bool Number(const std::string &option, const std::string &value, uint64_t low, uint64_t high,
                uint64_t &result) {
        if (!ParseUnsigned(value, low, high, result)) {
            return Error("option " + option + " takes a number from " + std::to_string(low) +
                         " to " + std::to_string(high) + ", not '" + value + "'");
        }
        return true;
    }

    bool Apply(char letter, const std::string &option, const std::string &value) {
        uint64_t number = 0;
        switch (letter) {
        case 'p':
            options_.port = value;
            if (!DriverPortName(value, options_.driverPort)) {
                return Error("port '" + value + "' does not fit the driver's " +
                             std::to_string(kMaxDriverPortName) +
                             " characters (it opens names without /dev/ under /dev/)");
            }
            return true;
        case 'b': {
            uint64_t speed = 0;
            if (!ParseUnsigned(value, 1, std::numeric_limits<uint64_t>::max(), speed)) {
                return Error("option -b takes a speed in bits per second, not '" + value + "'");
            }
            if (speed > 65535) {
                return Error("speed " + value +
                             " does not fit the driver's 16-bit line setting (at most 65535)");
            }
            options_.baudRate = static_cast<uint16_t>(speed);
            return true;
        }
        case 'd':
            if (!Number(option, value, 5, 8, number)) {
                return false;
            }
            options_.dataBits = static_cast<uint16_t>(number);
            return true;
        case 's':
            if (value == "1") {
                options_.stopBits = 0;
            } else if (value == "1.5") {
                options_.stopBits = 1;
            } else if (value == "2") {
                options_.stopBits = 2;
            } else {
                return Error("option -s takes 1, 1.5 or 2 stop bits, not '" + value + "'");
            }
            return true;
        case 'P': {
            static const char *const kParities[] = {"none", "odd", "even", "mark", "space"};
            for (uint16_t code = 0; code < 5; ++code) {
                if (value == kParities[code]) {
                    options_.parity = code;
                    return true;
                }
            }
            return Error("option -P takes none, odd, even, mark or space, not '" + value + "'");
        }
        case 't':
            // Ten minutes is far beyond any sensible reply time and keeps the
            // driver's millisecond arithmetic well inside 32 bits.
            if (!Number(option, value, 1, 600000, number)) {
                return false;
            }
            options_.timeoutUnits = static_cast<int32_t>((number + 9) / 10);
            return true;
        case 'i':
            if (!Number(option, value, 0, std::numeric_limits<uint32_t>::max(), number)) {
                return false;
            }
            options_.instance = static_cast<uint32_t>(number);
            return true;
        case 'c':
            if (!Number(option, value, 1, 65535, number)) {
                return false;
            }
            options_.count = static_cast<int32_t>(number);
            return true;
        case 'T':
            if (value == "bit") {
                options_.type = Kind::Bit;
            } else if (value == "word") {
                options_.type = Kind::Word;
            } else if (value == "dword") {
                options_.type = Kind::Dword;
            } else {
                return Error("option -T takes bit, word or dword, not '" + value + "'");
            }
            return true;
        case 'r':
            if (!Number(option, value, 0, 86400000, number)) {
                return false;
            }
            options_.periodMs = static_cast<uint32_t>(number);
            periodGiven_ = true;
            return true;
        case 'n':
            if (!Number(option, value, 1, std::numeric_limits<uint32_t>::max(), number)) {
                return false;
            }
            options_.polls = number;
            return true;
        default:
            return Error("unknown option " + option);
        }
    }

    bool ApplyLong(const std::string &name, const std::string &value) {
        if (name == "--int") {
            if (value.empty()) {
                return Error("option --int needs a file name");
            }
            options_.intFile = value;
        } else if (name == "--format") {
            if (value == "text") {
                options_.format = Format::Text;
            } else if (value == "csv") {
                options_.format = Format::Csv;
            } else if (value == "json") {
                options_.format = Format::Json;
            } else {
                return Error("option --format takes text, csv or json, not '" + value + "'");
            }
        } else if (name == "--warm-start") {
            if (value.size() != 1) {
                return Error("option --warm-start takes one station character, not '" + value +
                             "'");
            }
            options_.warmStation = static_cast<unsigned char>(value[0]);
        } else if (name == "--lib") {
            if (value.empty()) {
                return Error("option --lib needs a path");
            }
            options_.libPath = value;
        }
        return true;
    }

    ParseResult Finish(const std::vector<std::string> &positional) {
        if (options_.polls.has_value()) {
            options_.loop = true;
        }
        if (periodGiven_ && !options_.loop) {
            return Fail("option -r needs -l or -n");
        }
        if (positional.empty()) {
            if (!options_.warmStation.has_value()) {
                return Fail("no GATE given (see htpoll --help)");
            }
            if (options_.loop || options_.count || options_.type) {
                return Fail("options -c, -T, -l and -n need a GATE");
            }
            return {true, ""};
        }
        options_.gate = positional[0];
        size_t valueCount = positional.size() - 1;
        if (valueCount > 1 && !options_.count.has_value()) {
            // Several values write consecutive elements: a block.
            if (valueCount > 65535) {
                return Fail("too many values");
            }
            options_.count = static_cast<int32_t>(valueCount);
        }
        if (valueCount > 0 && static_cast<size_t>(options_.ElementCount()) != valueCount) {
            return Fail("-c " + std::to_string(options_.ElementCount()) + " but " +
                        std::to_string(valueCount) + (valueCount == 1 ? " value" : " values") +
                        " given");
        }
        ValueRange range = RangeFor(options_.ValueKind());
        for (size_t i = 1; i < positional.size(); ++i) {
            int64_t value = 0;
            if (!ParseValue(positional[i], value)) {
                return Fail("value '" + positional[i] + "' is not a decimal or 0x hex number");
            }
            if (value < range.low || value > range.high) {
                return Fail("value " + positional[i] + " out of range for " + options_.gate + ": " +
                            range.what);
            }
            options_.values.push_back(value);
        }
        return {true, ""};
    }

    int argc_;
    const char *const *argv_;
    Options &options_;
    int index_ = 1;
    std::string error_;
    bool periodGiven_ = false;
};

} // namespace

ParseResult ParseCommandLine(int argc, const char *const *argv, Options &options) {
    return Parser(argc, argv, options).Run();
}

std::string UsageText() {
    return R"(Usage: htpoll [options] GATE [VALUE...]
       htpoll [options] --warm-start STATION [GATE [VALUE...]]

Reads or writes controller memory through the H-series driver libqorht.so,
loading it and calling QorMain exactly as a SCADA host does. Without VALUEs
the gate is read and each value printed with its address, in decimal and hex;
with VALUEs they are written. GATE is the driver's 8-character gate address:
station letter, memory type (BX BY BR BL BM BT WX WY WR WL WM TC DF DN LX LY
LR LL LM) and address, for example AWR00010.

Serial line (defaults from the driver: 19200 baud, 7 data bits, even parity,
1 stop bit):
  -p PORT         device, e.g. /dev/ttyUSB0, ttyUSB0 or /dev/pts/3; at most 11
                  characters once /dev/ is dropped. Without -p, htpoll starts
                  the simulator htsim on a pseudo-terminal with the stations of
                  the INT file and stops it again at exit
  -b BAUD         line speed, 1 to 65535 bits per second
  -d BITS         data bits, 5 to 8
  -s STOP         stop bits: 1, 1.5 or 2
  -P PARITY       none, odd, even, mark or space
  -t MS           reply time-out in milliseconds (default 1000), 1 to 600000;
                  the driver counts in 10 ms steps, rounded up

Driver instance:
  -i INSTANCE     instance number (default 0); picks the INT file QORHT<nn>.INT,
                  QORHT<n>.INT or QORHT.INT in the working directory
  --int FILE      use FILE as the INT file (copied into a private working
                  directory as QORHT.INT)
  --lib PATH      the driver library (default: found next to htpoll)
  --warm-start S  occupy station S anew (WarmStart) before reading or writing;
                  with no GATE only the WarmStart is done

Gates:
  -c COUNT        read or write a block of COUNT elements (block parser);
                  several VALUEs imply a block of that many
  -T TYPE         host data type of a single gate: bit, word or dword
                  (default from the memory type: B*, DF, DN bit; W*, TC word;
                  L* dword)

Polling and output:
  -l              poll repeatedly until Ctrl-C
  -r MS           pause between the starts of two polls (default 1000)
  -n N            poll exactly N times (implies -l)
  --format F      text (default), csv or json (one JSON object per line); csv
                  and json carry time stamps
  -v              also show the driver's progress messages (level 8); -vv also
                  its diagnostics (level 0). Failures (level 32) always show
  -h, --help      this text
  --version       the version of htpoll

At exit htpoll reports the number of transactions, failures and the mean and
worst time per transaction (stderr in text and csv format, a last JSON line in
json format). Exit status: 0 success, 1 the driver or the line failed, 2 bad
usage. Negative VALUEs may be given as they are (-5) or after --.

Examples:
  htpoll -p /dev/ttyUSB0 AWR00010            read one word
  htpoll -p ttyUSB0 AWR00010 0x1234          write it
  htpoll -p ttyUSB0 -c 10 AWR00100           read 10 words
  htpoll -p ttyUSB0 -c 16 ABR00200           read 16 bits
  htpoll -p ttyUSB0 ALR00020 305419896       write a double word
  htpoll -p ttyUSB0 ABM00103 1               set bit 3 of word WM 0010
  htpoll -p ttyUSB0 -l -r 500 --format csv AWR00010   poll twice a second
  htpoll --int plant.INT -n 3 AWR00010       three reads from the simulator
  htpoll -p ttyUSB0 --warm-start A           occupy station A anew
)";
}

} // namespace htpoll
