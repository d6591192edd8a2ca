// How close the driver comes to what the serial line allows.
//
// Starts htsim paced at 19200 baud 7E1 on a pseudo-terminal and measures
// transactions per second through QorMain for a single word read, a 120-word
// block read and a 60-double-word block write. The line limit of one
// transaction is the line time of telegram, ACK, ENQ and response at 10 bits a
// character plus the inter-frame gap before each of the driver's two
// transmissions. Also counts heap allocations made while transactions run.
#include "host/records.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern "C" void *__libc_malloc(size_t);
extern "C" void *__libc_calloc(size_t, size_t);
extern "C" void *__libc_realloc(void *, size_t);
extern "C" void __libc_free(void *);

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
} // namespace

// Counting allocator for the whole process, the driver library included.
extern "C" void *malloc(size_t size) {
    if (counting.load(std::memory_order_relaxed)) {
        allocations.fetch_add(1, std::memory_order_relaxed);
    }
    return __libc_malloc(size);
}
extern "C" void *calloc(size_t n, size_t size) {
    if (counting.load(std::memory_order_relaxed)) {
        allocations.fetch_add(1, std::memory_order_relaxed);
    }
    return __libc_calloc(n, size);
}
extern "C" void *realloc(void *p, size_t size) {
    if (counting.load(std::memory_order_relaxed)) {
        allocations.fetch_add(1, std::memory_order_relaxed);
    }
    return __libc_realloc(p, size);
}
extern "C" void free(void *p) {
    __libc_free(p);
}

namespace {
bool verbose = false;
int failures = 0;
} // namespace

extern "C" void err(int level, const char *format, ...) {
    if (!verbose && level < 32) {
        return;
    }
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

namespace {

constexpr int kBaud = 19200;
constexpr int kBitsPerCharacter = 10; // start, 7 data, even parity, stop
constexpr int kInterFrameGapMs = 10;

struct Simulator {
    pid_t pid = -1;
    std::string port;
};

Simulator StartSimulator() {
    int out[2];
    if (pipe(out) != 0) {
        std::perror("pipe");
        std::exit(1);
    }
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execl(HTSIM_PATH, "htsim", "--station", "01:02", "--baud", "19200", "--data-bits", "7",
              "--parity", "even", "--stop-bits", "1", static_cast<char *>(nullptr));
        std::perror("exec htsim");
        _exit(127);
    }
    close(out[1]);
    std::string line;
    pollfd fd{out[0], POLLIN, 0};
    char c;
    while (line.size() < 200 && poll(&fd, 1, 5000) > 0 && read(out[0], &c, 1) == 1 && c != '\n') {
        line += c;
    }
    if (line.rfind("/dev/", 0) != 0) {
        std::fprintf(stderr, "htsim did not report its pseudo-terminal\n");
        kill(pid, SIGTERM);
        std::exit(1);
    }
    return {pid, line};
}

void StopSimulator(const Simulator &simulator) {
    kill(simulator.pid, SIGTERM);
    int status = 0;
    waitpid(simulator.pid, &status, 0);
}

int32_t Call(DriverContext *context, int32_t command, void *params) {
    DriverRequest request{};
    request.context = context;
    request.command = command;
    request.params = params;
    return QorMain(&request);
}

struct Case {
    const char *name;
    const char *gate;
    int32_t command;
    int32_t count;
    int32_t gateType;
    int telegramChars; // what the driver sends for it
    int responseChars; // what the controller answers
};

double LineLimitPerSecond(const Case &c) {
    const int ack = 2, enq = 4;
    double seconds =
        double(c.telegramChars + ack + enq + c.responseChars) * kBitsPerCharacter / kBaud +
        2.0 * kInterFrameGapMs / 1000.0;
    return 1.0 / seconds;
}

} // namespace

int main(int argc, char **argv) {
    int rounds = 20;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-v") == 0) {
            verbose = true;
        } else if (std::strcmp(argv[i], "-n") == 0 && i + 1 < argc) {
            rounds = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: line_efficiency [-v] [-n ROUNDS]\n");
            return 2;
        }
    }
    char directory[] = "/tmp/qorht-bench-XXXXXX";
    if (mkdtemp(directory) == nullptr || chdir(directory) != 0) {
        std::perror("work directory");
        return 1;
    }
    std::FILE *ini = std::fopen("QORHT.INT", "w");
    std::fputs("A : 01 02\n", ini);
    std::fclose(ini);

    Simulator simulator = StartSimulator();
    DriverInfo info{};
    Call(nullptr, QOR_GET_INFO, &info);
    auto *context = static_cast<DriverContext *>(std::calloc(1, info.contextSize));
    ColdStartParams start{};
    std::snprintf(start.portName, sizeof start.portName, "%s", simulator.port.c_str() + 5);
    start.openPort = 1;
    start.timeout = 100;
    start.baudRate = kBaud;
    start.dataBits = 7;
    start.stopBits = 0;
    start.parity = 2;
    if (Call(context, QOR_COLD_START, &start) != 0) {
        StopSimulator(simulator);
        return 1;
    }

    // Read telegram: header 10, body 12, checksum 2, CR. Response: p 9, code
    // and command 4, data, checksum 2, CR.
    const Case cases[] = {
        {"single word read", "AWR00000", QOR_SINGLE_READ, 1, 0, 25, 20},
        {"120-word block read", "AWR00000", QOR_BLOCK_READ, 120, 0, 25, 16 + 480},
        {"60-double-word block write", "ALR00000", QOR_BLOCK_WRITE, 60, 4, 25 + 480, 16},
    };
    static uint32_t storage[128];
    bool allMet = true;
    long totalAllocations = 0;
    long totalTransactions = 0;
    for (const Case &c : cases) {
        ParseRequest parse{};
        parse.addressText = c.gate;
        parse.gateType = c.gateType;
        parse.blockSize = c.count;
        int32_t parser =
            c.command == QOR_SINGLE_READ ? QOR_SINGLE_ADDRESS_PARSER : QOR_BLOCK_ADDRESS_PARSER;
        if (Call(context, parser, &parse) != 0) {
            std::fprintf(stderr, "gate %s refused\n", c.gate);
            return 1;
        }
        IoRequest io{};
        io.gateAddress = parse.gateAddress;
        io.gateType = c.gateType;
        io.count = c.count;
        io.data = storage;
        Call(context, c.command, &io); // the first one occupies the station
        allocations = 0;
        counting = true;
        auto begin = std::chrono::steady_clock::now();
        for (int i = 0; i < rounds; ++i) {
            failures += Call(context, c.command, &io) != 0 ? 1 : 0;
        }
        auto end = std::chrono::steady_clock::now();
        counting = false;
        double seconds = std::chrono::duration<double>(end - begin).count();
        double rate = rounds / seconds;
        double limit = LineLimitPerSecond(c);
        double ratio = rate / limit;
        allMet = allMet && ratio >= 0.98;
        totalAllocations += allocations;
        totalTransactions += rounds;
        std::printf("%-28s %7.2f tx/s  line limit %7.2f tx/s  ratio %.3f  allocations %ld\n",
                    c.name, rate, limit, ratio, static_cast<long>(allocations));
    }
    Call(context, QOR_END, nullptr);
    StopSimulator(simulator);
    std::printf("heap allocations per transaction: %.3f (goal 0)\n",
                double(totalAllocations) / double(totalTransactions));
    std::printf("failed transactions: %d\n", failures);
    std::printf("%s\n", allMet && failures == 0 && totalAllocations == 0
                            ? "all goals met (ratio >= 0.98, no allocation)"
                            : "goals NOT met");
    std::free(context);
    return 0;
}
