// Surroundings of a PMS link test: a configuration file of its own, a link
// traffic log in a temporary directory, and a SIGPIPE handler standing in for
// the daemon's (it counts the signal and closes the link, as the daemon's
// does), so that a test can check "link closed through SIGPIPE" and a write
// to a vanished peer never ends the test program.
#pragma once

#include "netutil.h"

#include <csignal>
#include <string>
#include <vector>

#include "tmpfiles.h"

class LinkEnv {
public:
    LinkEnv();
    ~LinkEnv();  // closes the link, puts the previous SIGPIPE action back
    LinkEnv(const LinkEnv&) = delete;
    LinkEnv& operator=(const LinkEnv&) = delete;

    // Writes these settings (one "KEY=VALUE" per entry) plus
    // LINKLOGFILE=<dir>/link.log and loads them.
    void configure(const std::vector<std::string>& settings) const;
    std::string trafficLogPath() const { return dir_.path() + "/link.log"; }
    // The traffic log as (mark, text) pairs, after checking the time stamp
    // of every line; a line that is not well formed fails the test.
    std::vector<std::pair<char, std::string>> trafficLog() const;
    const TempDir& dir() const { return dir_; }

    static int sigpipes();

private:
    TempDir dir_;
    struct sigaction saved_{};
};

