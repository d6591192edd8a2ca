// htsim: H-series controller stations on a serial line, for testing the
// driver against an independent implementation of the other end.
#include "controller.h"
#include "faults.h"
#include "frames.h"
#include "image.h"
#include "line.h"
#include "memory.h"
#include "options.h"
#include "trace.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void OnStopSignal(int) {
    stopRequested = 1;
}

// While the line is down (a device that hung up), look again this often.
constexpr htsim::Micros kRetryInterval = 20 * htsim::kMillisecond;

// SIGTERM and SIGINT are blocked except inside ppoll, so a stop request can
// never slip in between the check and the wait; `waitMask` is the mask to
// wait with. Done first thing: whoever starts htsim may signal at once.
void CatchStopSignals(sigset_t &waitMask) {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    sigdelset(&waitMask, SIGTERM);
    sigdelset(&waitMask, SIGINT);
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

bool FileExists(const std::string &path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

} // namespace

int main(int argc, char **argv) {
    using namespace htsim;
    Options options;
    std::string message;
    switch (ParseOptions(std::vector<std::string>(argv + 1, argv + argc), options, message)) {
    case ParseOutcome::Help:
        std::fputs(HelpText().c_str(), stdout);
        return 0;
    case ParseOutcome::BadUsage:
        std::fprintf(stderr, "htsim: %s (see htsim --help)\n", message.c_str());
        return 2;
    case ParseOutcome::Run:
        break;
    }
    sigset_t waitMask;
    CatchStopSignals(waitMask);

    std::vector<Memory> memories(options.stations.size());
    if (!options.image.empty() && FileExists(options.image) &&
        !LoadImageFile(options.image, options.stations, memories, message)) {
        std::fprintf(stderr, "htsim: %s\n", message.c_str());
        return 1;
    }

    Endpoint endpoint;
    const bool opened = options.device.empty()
                            ? OpenPseudoTerminal(endpoint, message)
                            : OpenDevice(options.device, options.format, endpoint, message);
    if (!opened) {
        std::fprintf(stderr, "htsim: %s\n", message.c_str());
        return 1;
    }
    std::printf("%s\n", endpoint.path.c_str());
    std::fflush(stdout);

    const Micros start = MonotonicNow();
    Trace trace(options.trace, stderr, start);
    // A real device paces itself at its baud rate.
    Line line(endpoint.fd, options.device.empty() ? CharacterTime(options.format) : 0, trace);
    Faults faults(options.faults);
    FaultySender sender(line, faults, trace);
    Controller controller(options.stations, memories, faults, sender, trace, options.scanTime);
    FrameAssembler assembler;
    trace.Note(start, "serving %s", endpoint.path.c_str());

    bool lineUp = true;
    bool inputOpen = options.stdinEofExits;
    while (stopRequested == 0) {
        Micros now = MonotonicNow();
        while (auto arrived = line.NextArrived(now)) {
            if (auto frame = assembler.Push(arrived->first)) {
                controller.OnFrame(*frame, arrived->second);
            }
        }
        line.Flush(MonotonicNow());

        pollfd fds[2] = {};
        nfds_t count = 0;
        if (lineUp) {
            fds[count++] =
                pollfd{endpoint.fd, static_cast<short>(POLLIN | (line.Blocked() ? POLLOUT : 0)), 0};
        }
        const nfds_t inputSlot = count;
        if (inputOpen) {
            fds[count++] = pollfd{STDIN_FILENO, POLLIN, 0};
        }
        std::optional<Micros> due = line.NextDue();
        if (!lineUp) {
            due = std::min(due.value_or(now + kRetryInterval), now + kRetryInterval);
        }
        timespec wait{};
        timespec *timeout = nullptr;
        if (due) {
            const Micros delta = std::max<Micros>(0, *due - MonotonicNow());
            wait.tv_sec = static_cast<time_t>(delta / 1000000);
            wait.tv_nsec = static_cast<long>(delta % 1000000 * 1000);
            timeout = &wait;
        }
        if (ppoll(fds, count, timeout, &waitMask) < 0 && errno != EINTR) {
            std::perror("htsim: ppoll");
            break;
        }
        if (!lineUp || (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            lineUp = line.ReadAvailable(MonotonicNow());
        }
        if (inputOpen && (fds[inputSlot].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            char discard[256];
            const ssize_t n = read(STDIN_FILENO, discard, sizeof discard);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                trace.Note(MonotonicNow(), "end of standard input");
                break;
            }
        }
    }

    trace.Note(MonotonicNow(), "stopping");
    int status = 0;
    if (!options.image.empty() &&
        !SaveImageFile(options.image, options.stations, memories, message)) {
        std::fprintf(stderr, "htsim: %s\n", message.c_str());
        status = 1;
    }
    close(endpoint.fd);
    if (endpoint.holdFd >= 0) {
        close(endpoint.holdFd);
    }
    return status;
}
