// The controller simulator htsim as a child of htpoll: started on a
// pseudo-terminal before the driver opens its port, stopped at exit.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace htpoll {

class Simulator {
public:
    Simulator() = default;
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;
    ~Simulator() { Stop(); }

    // Runs `program` with `arguments` (the simulator's own options) and
    // waits at most `deadlineMs` for the first line of its standard output,
    // the pseudo-terminal's path. On failure `error` says why and nothing is
    // left running.
    bool Start(const std::string &program, const std::vector<std::string> &arguments,
               int deadlineMs, std::string &error);

    // Closes its standard input (it runs with --stdin-eof-exits), sends
    // SIGTERM to the child and reaps it; SIGKILL if it has not ended within a
    // few seconds. Safe to call twice.
    void Stop();

    const std::string &DevicePath() const { return devicePath_; }
    pid_t Pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int stdinFd_ = -1;
    int stdoutFd_ = -1;
    std::string devicePath_;
};

} // namespace htpoll
