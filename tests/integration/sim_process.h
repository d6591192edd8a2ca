// htsim as a child process: started with fork and exec, its pseudo-terminal
// path read from the first line of its standard output within a deadline,
// its standard error (the --trace log) kept in a file, and stopped by
// signalling the pid it was forked as.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include <sys/types.h>

namespace integration {

class SimProcess {
public:
    SimProcess() = default;
    ~SimProcess();
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    // Starts htsim with `arguments`; standard error goes to `errorFile`.
    // With `waitForPath` the call returns once the first line of standard
    // output has arrived (false when it did not within the deadline).
    bool Start(const std::vector<std::string> &arguments, const std::string &errorFile,
               bool waitForPath = true);
    // "/dev/pts/N", and the name the driver opens, "pts/N".
    const std::string &SlavePath() const { return slavePath_; }
    std::string PortName() const;
    // Closes htsim's standard input (end of file).
    void CloseInput();
    // Sends `signal` and waits for the exit within the deadline; returns the
    // wait status, or -1 when the process did not end in time (it is then
    // killed).
    int Stop(int signal, std::chrono::milliseconds deadline = std::chrono::seconds(5));
    // Waits for an exit without signalling; -1 on time-out.
    int Wait(std::chrono::milliseconds deadline);
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int stdinFd_ = -1;
    int stdoutFd_ = -1;
    std::string slavePath_;
};

// The whole content of a file ("" when it does not exist).
std::string ReadFile(const std::string &path);

} // namespace integration
