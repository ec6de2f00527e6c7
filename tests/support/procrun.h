// Runs the built programs from tests: to completion with captured output, or
// in the background with its standard output readable line by line.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

struct RunResult {
    int status = -1;  // exit status, or 128 + signal, or -1 when it had to be killed
    std::string out;
    std::string err;
};

// Path of a program in the build's bin directory.
std::string binPath(const std::string& name);

// Runs argv (argv[0] is the path) with extra "NAME=value" environment entries
// (an entry "NAME" alone removes the variable); kills it after timeout_ms.
RunResult runProgram(const std::vector<std::string>& argv,
                     const std::vector<std::string>& env = {}, int timeout_ms = 10000);

class Child {
public:
    Child(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
    ~Child();  // SIGKILL and reap when still running
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    // Next line of standard output without its newline; false on time-out or end.
    bool readLine(std::string& line, int timeout_ms);
    // Sends `sig` and waits up to timeout_ms; the exit status as in RunResult.
    int stop(int sig, int timeout_ms = 5000);

private:
    pid_t pid_ = -1;
    int out_fd_ = -1;
    std::string buf_;
};
