// htpoll: a command-line host for the H-series driver. It loads libqorht.so
// with dlopen and calls QorMain with the same records and in the same order as
// a SCADA host: GetQorInfo, ColdStart, an address parser, reads or writes,
// WarmStart on request, EndQor. It includes nothing of the driver but the
// host records.
#include "host/records.h"
#include "int_stations.h"
#include "options.h"
#include "simulator.h"
#include "storage.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#ifndef HTPOLL_VERSION
#define HTPOLL_VERSION "unknown"
#endif
// Where the libraries lie relative to the installed executable.
#ifndef HTPOLL_LIBDIR_FROM_BINDIR
#define HTPOLL_LIBDIR_FROM_BINDIR "../lib"
#endif

namespace {

int g_verbosity = 0;
// The driver's last message at any level, shown with a failure so that the
// failure line names the reason even when its level is filtered out.
std::string g_lastMessage;
volatile sig_atomic_t g_stop = 0;

void OnStopSignal(int) {
    g_stop = 1;
}

} // namespace

// The host's log function. The driver imports err under the version TARVEX;
// the dynamic linker binds that import to this unversioned definition because
// the executable is linked with exported symbols and comes first in the global
// lookup scope. Level 32 always shows, 8 with -v, 0 with -vv.
extern "C" __attribute__((visibility("default"), format(printf, 2, 3))) void
err(int level, const char *format, ...) {
    char text[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    g_lastMessage = text;
    int threshold = g_verbosity >= 2 ? INT_MIN : (g_verbosity == 1 ? 8 : 32);
    if (level >= threshold) {
        std::fprintf(stderr, "%d: %s\n", level, text);
    }
}

namespace {

using namespace htpoll;
using Clock = std::chrono::steady_clock;
using QorMainFunction = int32_t (*)(DriverRequest *);

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kSimulatorStartMs = 10000;

void Complain(const std::string &message) {
    std::fprintf(stderr, "htpoll: %s\n", message.c_str());
}

std::string ExecutableDir() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        return ".";
    }
    path[length] = '\0';
    std::string text(path);
    size_t slash = text.rfind('/');
    return slash == std::string::npos ? "." : text.substr(0, slash);
}

bool IsFile(const std::string &path, int mode) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(path.c_str(), mode) == 0;
}

std::string Absolute(const std::string &path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

// An installation keeps the library in the library directory beside bin/,
// the build tree at its top with htpoll in tools/htpoll/. The installed places
// come first, so an installed htpoll never picks up a stray build.
std::vector<std::string> LibraryCandidates(const std::string &dir) {
    std::string installed = dir + "/" HTPOLL_LIBDIR_FROM_BINDIR;
    return {dir + "/libqorht.so", installed + "/libqorht.so.1", installed + "/libqorht.so",
            dir + "/../lib/libqorht.so.1", dir + "/../../libqorht.so"};
}

std::vector<std::string> SimulatorCandidates(const std::string &dir) {
    return {dir + "/../htsim/htsim", dir + "/htsim"};
}

std::string FirstExisting(const std::vector<std::string> &candidates, int mode) {
    for (const std::string &candidate : candidates) {
        if (IsFile(candidate, mode)) {
            return Absolute(candidate);
        }
    }
    return "";
}

std::string Joined(const std::vector<std::string> &words) {
    std::string text;
    for (const std::string &word : words) {
        text += (text.empty() ? "" : ", ") + word;
    }
    return text;
}

// A private working directory that holds the INT file under the name the
// driver looks for; removed with what htpoll put into it.
class WorkDir {
public:
    ~WorkDir() {
        if (!file_.empty()) {
            unlink(file_.c_str());
        }
        if (!path_.empty()) {
            rmdir(path_.c_str());
        }
    }

    bool Create(const std::string &source, std::string &error) {
        std::FILE *in = std::fopen(source.c_str(), "rb");
        if (in == nullptr) {
            error = "cannot read INT file '" + source + "': " + std::strerror(errno);
            return false;
        }
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/htpoll.XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (mkdtemp(name.data()) == nullptr) {
            error = "cannot create a working directory: " + std::string(std::strerror(errno));
            std::fclose(in);
            return false;
        }
        path_ = name.data();
        file_ = path_ + "/QORHT.INT";
        std::FILE *out = std::fopen(file_.c_str(), "wb");
        bool ok = out != nullptr;
        char buffer[4096];
        size_t got = 0;
        while (ok && (got = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
            ok = std::fwrite(buffer, 1, got, out) == got;
        }
        ok = ok && !std::ferror(in);
        if (out != nullptr && std::fclose(out) != 0) {
            ok = false;
        }
        std::fclose(in);
        if (!ok) {
            error = "cannot copy INT file '" + source + "' to " + file_;
            return false;
        }
        if (chdir(path_.c_str()) != 0) {
            error = "cannot enter " + path_ + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }

private:
    std::string path_;
    std::string file_;
};

std::string TimeStamp() {
    auto now = std::chrono::system_clock::now();
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
    std::time_t seconds = static_cast<std::time_t>(ms.count() / 1000);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
    char full[48];
    std::snprintf(full, sizeof full, "%s.%03dZ", text, static_cast<int>(ms.count() % 1000));
    return full;
}

std::string JsonString(const std::string &text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string CsvField(const std::string &text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string out = "\"";
    for (char c : text) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    return out + "\"";
}

struct Element {
    std::string gate;
    uint32_t value;
    std::string hex;
};

// One transaction as the user sees it.
struct Outcome {
    uint64_t poll = 0;
    const char *op = "read"; // read, write, warm-start
    std::string subject;     // the gate, or the station of a warm start
    int32_t result = 0;
    double ms = 0;
    std::vector<Element> elements;
};

class Output {
public:
    Output(Format format, bool loop) : format_(format), loop_(loop) {}

    void Write(const Outcome &outcome) {
        switch (format_) {
        case Format::Text:
            Text(outcome);
            break;
        case Format::Csv:
            Csv(outcome);
            break;
        case Format::Json:
            Json(outcome);
            break;
        }
        std::fflush(stdout);
    }

    void Summary(uint64_t transactions, uint64_t failures, double meanMs, double worstMs) {
        if (format_ == Format::Json) {
            std::printf("{\"summary\":{\"transactions\":%llu,\"failures\":%llu,\"mean_ms\":%.3f,"
                        "\"worst_ms\":%.3f}}\n",
                        static_cast<unsigned long long>(transactions),
                        static_cast<unsigned long long>(failures), meanMs, worstMs);
            std::fflush(stdout);
            return;
        }
        std::fprintf(stderr,
                     "htpoll: %llu transactions, %llu failed, mean %.3f ms, worst %.3f ms\n",
                     static_cast<unsigned long long>(transactions),
                     static_cast<unsigned long long>(failures), meanMs, worstMs);
    }

private:
    void Text(const Outcome &outcome) {
        if (loop_ && std::strcmp(outcome.op, "warm-start") != 0) {
            std::printf("-- poll %llu at %s\n", static_cast<unsigned long long>(outcome.poll),
                        TimeStamp().c_str());
        }
        if (std::strcmp(outcome.op, "warm-start") == 0) {
            if (outcome.result == 0) {
                std::printf("station %s occupied anew (WarmStart)\n", outcome.subject.c_str());
            }
            return;
        }
        if (outcome.result != 0) {
            return; // the failure line went to stderr
        }
        bool written = std::strcmp(outcome.op, "write") == 0;
        for (const Element &element : outcome.elements) {
            if (written) {
                std::printf("%-10s %10lu  %-10s  written\n", element.gate.c_str(),
                            static_cast<unsigned long>(element.value), element.hex.c_str());
            } else {
                std::printf("%-10s %10lu  %s\n", element.gate.c_str(),
                            static_cast<unsigned long>(element.value), element.hex.c_str());
            }
        }
    }

    void Csv(const Outcome &outcome) {
        if (!headerDone_) {
            std::printf("time,poll,op,gate,value,hex,result\n");
            headerDone_ = true;
        }
        std::string stamp = TimeStamp();
        if (outcome.result != 0 || outcome.elements.empty()) {
            std::printf("%s,%llu,%s,%s,,,%d\n", stamp.c_str(),
                        static_cast<unsigned long long>(outcome.poll), outcome.op,
                        CsvField(outcome.subject).c_str(), outcome.result);
            return;
        }
        for (const Element &element : outcome.elements) {
            std::printf("%s,%llu,%s,%s,%lu,%s,0\n", stamp.c_str(),
                        static_cast<unsigned long long>(outcome.poll), outcome.op,
                        CsvField(element.gate).c_str(), static_cast<unsigned long>(element.value),
                        element.hex.c_str());
        }
    }

    void Json(const Outcome &outcome) {
        bool warm = std::strcmp(outcome.op, "warm-start") == 0;
        std::printf("{\"time\":\"%s\",\"poll\":%llu,\"op\":\"%s\",\"%s\":%s,\"result\":%d,"
                    "\"ms\":%.3f",
                    TimeStamp().c_str(), static_cast<unsigned long long>(outcome.poll), outcome.op,
                    warm ? "station" : "gate", JsonString(outcome.subject).c_str(), outcome.result,
                    outcome.ms);
        if (!warm) {
            std::printf(",\"values\":[");
            if (outcome.result == 0) {
                const char *separator = "";
                for (const Element &element : outcome.elements) {
                    std::printf("%s{\"gate\":%s,\"value\":%lu,\"hex\":\"%s\"}", separator,
                                JsonString(element.gate).c_str(),
                                static_cast<unsigned long>(element.value), element.hex.c_str());
                    separator = ",";
                }
            }
            std::printf("]");
        }
        std::printf("}\n");
    }

    Format format_;
    bool loop_;
    bool headerDone_ = false;
};

class Statistics {
public:
    void Add(double ms, bool failed) {
        ++count_;
        failures_ += failed ? 1 : 0;
        total_ += ms;
        worst_ = ms > worst_ ? ms : worst_;
    }
    uint64_t Count() const { return count_; }
    uint64_t Failures() const { return failures_; }
    double Mean() const { return count_ > 0 ? total_ / static_cast<double>(count_) : 0.0; }
    double Worst() const { return worst_; }

private:
    uint64_t count_ = 0;
    uint64_t failures_ = 0;
    double total_ = 0;
    double worst_ = 0;
};

// The loaded driver library; unloaded at the end.
class Library {
public:
    ~Library() {
        if (handle_ != nullptr) {
            dlclose(handle_);
        }
    }

    bool Load(const std::string &path, std::string &error) {
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) {
            const char *reason = dlerror();
            error = "cannot load " + path + ": " + (reason != nullptr ? reason : "unknown error");
            return false;
        }
        void *symbol = dlsym(handle_, "QorMain");
        if (symbol == nullptr) {
            error = path + " exports no QorMain";
            return false;
        }
        // The C way of turning a symbol's address into a function pointer.
        std::memcpy(&qorMain_, &symbol, sizeof qorMain_);
        return true;
    }

    int32_t Call(DriverRequest &request) {
        g_lastMessage.clear();
        return qorMain_(&request);
    }

private:
    void *handle_ = nullptr;
    QorMainFunction qorMain_ = nullptr;
};

std::string Reason() {
    return g_lastMessage.empty() ? std::string() : "; driver: " + g_lastMessage;
}

// Waits until `until` or a stop signal, whichever comes first. The signals are
// blocked between the test of the flag and the wait, and ppoll unblocks them
// atomically, so a Ctrl-C never slips in between and is never missed.
void PauseUntil(Clock::time_point until) {
    sigset_t stopSignals;
    sigset_t original;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigprocmask(SIG_BLOCK, &stopSignals, &original);
    while (g_stop == 0) {
        auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(until - Clock::now());
        if (left.count() <= 0) {
            break;
        }
        timespec wait{};
        wait.tv_sec = static_cast<time_t>(left.count() / 1000000000);
        wait.tv_nsec = static_cast<long>(left.count() % 1000000000);
        ppoll(nullptr, 0, &wait, &original);
    }
    sigprocmask(SIG_SETMASK, &original, nullptr);
}

void InstallSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // The first Ctrl-C ends the session in order; a second one, if the
    // driver is stuck in a long transaction, ends the process at once.
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

const char *CommandName(int32_t command) {
    switch (command) {
    case QOR_SINGLE_READ:
        return "SingleRead";
    case QOR_BLOCK_READ:
        return "BlockRead";
    case QOR_SINGLE_WRITE:
        return "SingleWrite";
    case QOR_BLOCK_WRITE:
        return "BlockWrite";
    default:
        return "command";
    }
}

// Everything from loading the driver to EndQor. Returns the exit status.
int Run(const Options &options) {
    std::string exeDir = ExecutableDir();
    std::string error;

    // Relative paths are resolved before a private working directory changes
    // their meaning.
    std::string libOption = options.libPath.empty() ? "" : Absolute(options.libPath);

    // Usage problems first. The INT file: given with --int (copied where the
    // driver looks), or the one the driver will find in the working directory.
    WorkDir workDir;
    std::string intPath;
    if (!options.intFile.empty()) {
        intPath = Absolute(options.intFile);
        if (!workDir.Create(intPath, error)) {
            Complain(error);
            return kExitUsage;
        }
    } else if (options.port.empty()) {
        for (const std::string &name : IntFileNames(options.instance)) {
            if (IsFile(name, R_OK)) {
                intPath = name;
                break;
            }
        }
        if (intPath.empty()) {
            Complain("no -p PORT given and no INT file (" + Joined(IntFileNames(options.instance)) +
                     ") in the working directory to start the simulator with; give --int FILE");
            return kExitUsage;
        }
    }
    std::vector<SimStation> stations;
    if (options.port.empty()) {
        std::FILE *file = std::fopen(intPath.c_str(), "rb");
        if (file == nullptr) {
            Complain("cannot read INT file '" + intPath + "': " + std::strerror(errno));
            return kExitUsage;
        }
        stations = ReadIntStations(file);
        std::fclose(file);
        if (stations.empty()) {
            Complain("INT file '" + intPath + "' defines no station for the simulator");
            return kExitUsage;
        }
    }

    // Then what htpoll needs of its installation.
    std::string libPath;
    if (!libOption.empty()) {
        libPath = libOption;
    } else {
        libPath = FirstExisting(LibraryCandidates(exeDir), R_OK);
        if (libPath.empty()) {
            Complain("cannot find libqorht.so (looked in " + Joined(LibraryCandidates(exeDir)) +
                     "); give --lib PATH");
            return kExitFailure;
        }
    }
    std::string simulatorPath;
    if (options.port.empty()) {
        simulatorPath = FirstExisting(SimulatorCandidates(exeDir), X_OK);
        if (simulatorPath.empty()) {
            Complain("no -p PORT given and no htsim found (looked in " +
                     Joined(SimulatorCandidates(exeDir)) + ")");
            return kExitFailure;
        }
    }

    Library library;
    if (!library.Load(libPath, error)) {
        Complain(error);
        return kExitFailure;
    }

    DriverInfo info{};
    DriverRequest request{};
    request.command = QOR_GET_INFO;
    request.params = &info;
    int32_t result = library.Call(request);
    if (result != 0 || info.contextSize <= 0) {
        Complain("GetQorInfo returned " + std::to_string(result) + Reason());
        return kExitFailure;
    }
    ColdStartParams start{};
    start.openPort = 1;
    start.timeout = options.timeoutUnits;
    start.baudRate = options.baudRate.value_or(info.defaultBaudRate);
    start.dataBits = options.dataBits.value_or(info.defaultDataBits);
    start.stopBits = options.stopBits.value_or(info.defaultStopBits);
    start.parity = options.parity.value_or(info.defaultParity);

    InstallSignalHandlers();

    Simulator simulator;
    std::string driverPort = options.driverPort;
    if (options.port.empty()) {
        static const char *const kParityNames[] = {"none", "odd", "even", "mark", "space"};
        std::vector<std::string> arguments;
        for (const SimStation &station : stations) {
            arguments.push_back("--station");
            arguments.push_back(SimStationArgument(station));
        }
        if (options.baudRate.has_value()) {
            // Only an asked-for speed: the simulator then gives every
            // character its line time, which an unpaced session need not wait.
            arguments.insert(arguments.end(), {"--baud", std::to_string(start.baudRate)});
        }
        arguments.insert(arguments.end(),
                         {"--data-bits", std::to_string(start.dataBits), "--parity",
                          kParityNames[start.parity < 5 ? start.parity : 0], "--stop-bits",
                          // A pseudo-terminal knows no 1.5 stop bits; 2 is nearest.
                          start.stopBits == 0 ? "1" : "2", "--stdin-eof-exits"});
        if (!simulator.Start(simulatorPath, arguments, kSimulatorStartMs, error)) {
            Complain("cannot start the simulator " + simulatorPath + ": " + error);
            return kExitFailure;
        }
        if (!DriverPortName(simulator.DevicePath(), driverPort)) {
            Complain("the simulator's port " + simulator.DevicePath() +
                     " does not fit the driver's 11 characters");
            return kExitFailure;
        }
    }
    std::memcpy(start.portName, driverPort.c_str(), driverPort.size() + 1);

    // The host owns the context: exactly contextSize bytes, as GetQorInfo
    // asked, so that a sanitizer build catches a driver that reaches beyond.
    std::vector<unsigned char> contextMemory(static_cast<size_t>(info.contextSize));
    request = DriverRequest{};
    request.context = reinterpret_cast<DriverContext *>(contextMemory.data());
    request.instance = static_cast<int32_t>(options.instance);

    // From here on every exit goes through EndQor, as a host's would.
    int exitStatus = kExitOk;
    Statistics statistics;
    Output output(options.format, options.loop);
    do {
        request.command = QOR_COLD_START;
        request.params = &start;
        result = library.Call(request);
        if (result != 0) {
            Complain("ColdStart returned " + std::to_string(result) + ": port '" + driverPort +
                     "' could not be opened" + Reason());
            exitStatus = kExitFailure;
            break;
        }

        if (options.warmStation.has_value()) {
            WarmStartParams warm{*options.warmStation};
            request.command = QOR_WARM_START;
            request.params = &warm;
            auto begin = Clock::now();
            result = library.Call(request);
            double ms = std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
            statistics.Add(ms, result != 0);
            Outcome outcome;
            outcome.op = "warm-start";
            outcome.subject = std::string(1, static_cast<char>(*options.warmStation));
            outcome.result = result;
            outcome.ms = ms;
            if (result != 0) {
                Complain("WarmStart of station '" + outcome.subject + "' returned " +
                         std::to_string(result) + Reason());
                exitStatus = kExitFailure;
            }
            output.Write(outcome);
            if (result != 0) {
                break;
            }
        }
        if (options.gate.empty()) {
            break;
        }

        bool block = options.IsBlock();
        int32_t gateType = options.type.has_value() ? GateTypeFor(*options.type)
                                                    : GateTypeFor(KindFromGate(options.gate));
        ParseRequest parse{};
        parse.addressText = options.gate.c_str();
        parse.gateType = gateType;
        parse.blockSize = options.ElementCount();
        request.command = block ? QOR_BLOCK_ADDRESS_PARSER : QOR_SINGLE_ADDRESS_PARSER;
        request.params = &parse;
        result = library.Call(request);
        if (result != 0) {
            Complain(std::string("the driver refused gate '") + options.gate + "' (" +
                     (block ? "BlockAddressParser" : "SingleAddressParser") + " returned " +
                     std::to_string(result) + ")" + Reason());
            exitStatus = kExitFailure;
            break;
        }

        Kind kind = KindOfRequest(block, gateType, parse.gateAddress.width);
        // Exactly the storage the layout asks for, for the same reason.
        std::vector<uint8_t> storage(StorageSize(block, kind, options.ElementCount()));
        IoRequest io{};
        io.gateAddress = parse.gateAddress;
        io.gateType = gateType;
        io.count = block ? options.ElementCount() : 1;
        io.data = storage.data();
        bool write = options.IsWrite();
        if (write) {
            StoreValues(block, kind, options.values, storage);
        }
        int32_t command = write ? (block ? QOR_BLOCK_WRITE : QOR_SINGLE_WRITE)
                                : (block ? QOR_BLOCK_READ : QOR_SINGLE_READ);

        for (uint64_t poll = 1;; ++poll) {
            auto begin = Clock::now();
            request.command = command;
            request.params = &io;
            result = library.Call(request);
            double ms = std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
            statistics.Add(ms, result != 0);
            Outcome outcome;
            outcome.poll = poll;
            outcome.op = write ? "write" : "read";
            outcome.subject = options.gate;
            outcome.result = result;
            outcome.ms = ms;
            if (result == 0) {
                std::vector<uint32_t> values = LoadValues(block, kind, io.count, storage);
                for (size_t i = 0; i < values.size(); ++i) {
                    outcome.elements.push_back({ElementName(options.gate, static_cast<int32_t>(i)),
                                                values[i], HexText(kind, values[i])});
                }
            } else {
                Complain(std::string(CommandName(command)) + " of " + options.gate + " returned " +
                         std::to_string(result) + Reason());
                exitStatus = kExitFailure;
            }
            output.Write(outcome);
            if (std::ferror(stdout)) {
                break; // nobody reads the output any more
            }
            if (!options.loop || (options.polls && poll >= *options.polls) || g_stop != 0) {
                break;
            }
            PauseUntil(begin + std::chrono::milliseconds(options.periodMs));
            if (g_stop != 0) {
                break;
            }
        }
    } while (false);

    request.command = QOR_END;
    request.params = nullptr;
    result = library.Call(request);
    if (result != 0) {
        Complain("EndQor returned " + std::to_string(result) + Reason());
        exitStatus = kExitFailure;
    }
    if (statistics.Count() > 0) {
        output.Summary(statistics.Count(), statistics.Failures(), statistics.Mean(),
                       statistics.Worst());
    }
    return exitStatus;
}

} // namespace

int main(int argc, char **argv) {
    Options options;
    ParseResult parsed = ParseCommandLine(argc, argv, options);
    if (!parsed.ok) {
        Complain(parsed.error + " (see htpoll --help)");
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(UsageText().c_str(), stdout);
        return kExitOk;
    }
    if (options.version) {
        std::printf("htpoll %s\n", HTPOLL_VERSION);
        return kExitOk;
    }
    g_verbosity = options.verbosity;
    return Run(options);
}
