// Running a tool as a child process with a hard deadline, and a temporary
// directory for its working files. The child's pid is kept and only that pid
// is ever signalled.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace tool_tests {

struct ProcessResult {
    int exitCode = -1; // -1 when it was killed or did not end in time
    bool timedOut = false;
    std::string out;
    std::string err;
};

// Runs argv[0] with the arguments, standard input from /dev/null, in `cwd`
// when it is not empty. Kills the child with SIGKILL if it has not ended after
// `deadlineMs`. With a `signalWhen` text, sends `signalNumber` to the child
// once its standard output contains that text (as Ctrl-C would).
ProcessResult RunProcess(const std::vector<std::string> &argv, const std::string &cwd = "",
                         int deadlineMs = 30000, const std::string &signalWhen = "",
                         int signalNumber = 0);

// Lines of a text, without their LF.
std::vector<std::string> Lines(const std::string &text);

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &Path() const { return path_; }
    // Writes a file in the directory and returns its path.
    std::string Write(const std::string &name, const std::string &content) const;

private:
    std::string path_;
};

// A background child whose first line of standard output is read (the
// simulator prints its port there). Its standard input stays open until Stop.
class BackgroundProcess {
public:
    BackgroundProcess() = default;
    ~BackgroundProcess() { Stop(); }
    BackgroundProcess(const BackgroundProcess &) = delete;
    BackgroundProcess &operator=(const BackgroundProcess &) = delete;

    // Starts it and waits at most `deadlineMs` for the first line; false (with
    // the child reaped) when none arrives.
    bool Start(const std::vector<std::string> &argv, int deadlineMs, std::string &firstLine);
    // SIGTERM to the child's pid, then waitpid; SIGKILL after 5 s. Returns the
    // exit status, or -1 when it had to be killed.
    int Stop();
    pid_t Pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int stdinFd_ = -1;
    int stdoutFd_ = -1;
};

} // namespace tool_tests
