#include "daemon_harness.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <sstream>
#include <thread>

#include "ctl_support.h"
#include "loopback_peer.h"
#include "netutil.h"
#include "procrun.h"
#include "vendors/common/control_bytes.h"

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

DaemonHarness::DaemonHarness() : db_(std::make_unique<PgTestDb>()) {
    control_port_ = freeTcpPort();
    mcast_port_ = freeUdpPort();
    lock_ = dir_.path() + "/vornpms.lock";
    log_path_ = dir_.path() + "/daemon.log";
}

DaemonHarness::~DaemonHarness() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

std::string DaemonHarness::baseConfig(int pms_port) const {
    std::ostringstream c;
    c << db_->configLines() << "CONTROLPORT=" << control_port_ << "\nCONTROLADDR=127.0.0.1\n"
      << "POSTDELAY=1\nVENDOR=Agilysys 2-way\nPMSCOMMTYPE=TCP\nPMSCOMMOPTS=127.0.0.1|" << pms_port
      << "\nPMSCOMMTIMEOUT=1\nLINKLOGFILE=" << dir_.path() << "/link.log\n"
      << "PMSMCAST_IP=127.0.0.1\nPMSMCAST_PORT=" << mcast_port_ << "\n";
    return c.str();
}

bool DaemonHarness::start(int pms_port, const std::string& extra) {
    // The first line of a key wins: extra settings go first.
    return startWith(extra + baseConfig(pms_port));
}

bool DaemonHarness::startWith(const std::string& config) {
    std::string cfg = dir_.write("vornpms.cfg", config);
    int out = open(log_path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (out < 0) return false;
    std::string bin = binPath("vornpms");
    exit_status_ = -1;
    pid_ = fork();
    if (pid_ == 0) {
        int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        dup2(out, 1);
        dup2(out, 2);
        for (const auto& e : env_) putenv(const_cast<char*>(e.c_str()));
        std::vector<const char*> args{bin.c_str()};
        if (foreground_option_) args.push_back("-D");
        for (const char* a : {"-d", "4", "-c"}) args.push_back(a);
        args.push_back(cfg.c_str());
        args.push_back("-L");
        args.push_back(lock_.c_str());
        args.push_back(nullptr);
        execv(bin.c_str(), const_cast<char* const*>(args.data()));
        _exit(127);
    }
    close(out);
    return pid_ > 0;
}

std::string DaemonHarness::log() const { return readFile(log_path_); }

bool DaemonHarness::waitLog(const std::string& text, int timeout_ms, size_t from) const {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    do {
        std::string l = log();
        if (l.size() > from && l.find(text, from) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (Clock::now() < deadline);
    return false;
}

int DaemonHarness::countLog(const std::string& text, size_t from) const {
    std::string l = log();
    int n = 0;
    for (size_t p = l.find(text, from); p != std::string::npos; p = l.find(text, p + text.size())) ++n;
    return n;
}

bool DaemonHarness::waitCount(const std::string& text, int n, int timeout_ms) const {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    do {
        if (countLog(text) >= n) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (Clock::now() < deadline);
    return false;
}

static int exit_status(int st) {
    if (WIFEXITED(st)) return WEXITSTATUS(st);
    return WIFSIGNALED(st) ? 128 + WTERMSIG(st) : -1;
}

bool DaemonHarness::running() {
    if (pid_ <= 0) return false;
    int st = 0;
    if (waitpid(pid_, &st, WNOHANG) != pid_) return true;
    pid_ = -1;
    exit_status_ = exit_status(st);
    return false;
}

int DaemonHarness::stop(int sig, int timeout_ms) {
    if (pid_ <= 0) return exit_status_;
    kill(pid_, sig);
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    int st = 0;
    while (Clock::now() < deadline) {
        pid_t r = waitpid(pid_, &st, WNOHANG);
        if (r == pid_) {
            pid_ = -1;
            return exit_status(st);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

int DaemonHarness::openFds() const { return countOpenFds(pid_); }

long DaemonHarness::cpuTicks() const {
    std::string stat = readFile("/proc/" + std::to_string(pid_) + "/stat");
    // Fields after the command name, which ends at the last ')'.
    size_t close_paren = stat.rfind(')');
    if (close_paren == std::string::npos) return -1;
    std::istringstream in(stat.substr(close_paren + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && in >> field; ++i) {
        if (i == 14) utime = std::stol(field);
        if (i == 15) stime = std::stol(field);
    }
    return utime + stime;
}

std::string controlRequest(int port, const std::string& bytes, int timeout_ms) {
    int fd = connectLoopback(port);
    if (fd < 0) return "";
    sendAll(fd, bytes);
    std::string got = readUntilClosed(fd, timeout_ms);
    close(fd);
    return got;
}

std::string agilysysFrame(const std::string& text, char lrc) { return ctl::STX + text + ctl::ETX + lrc; }

std::string agilysysFrame(const std::string& text) {
    unsigned char lrc = 0;
    for (char c : text) lrc ^= static_cast<unsigned char>(c);
    return agilysysFrame(text, static_cast<char>(lrc));
}
