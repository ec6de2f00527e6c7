#include "e2e_env.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "procrun.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string between(const std::string& text, const std::string& before, char end) {
    size_t p = text.find(before);
    if (p == std::string::npos) return "";
    p += before.size();
    size_t e = text.find(end, p);
    return e == std::string::npos ? "" : text.substr(p, e - p);
}

}  // namespace

E2eProcess::E2eProcess(const std::vector<std::string>& argv, const std::string& out_path) : out_path_(out_path) {
    int in[2];
    if (pipe2(in, O_CLOEXEC) != 0) return;
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        // A test that dies (time-out, crash) takes its helpers with it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        dup2(in[0], 0);
        dup2(out, 1);
        dup2(out, 2);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(in[0]);
    close(out);
    in_fd_ = in[1];
}

E2eProcess::~E2eProcess() {
    if (in_fd_ >= 0) close(in_fd_);
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

void E2eProcess::send(const std::string& line) {
    std::string l = line + "\n";
    if (in_fd_ >= 0 && write(in_fd_, l.data(), l.size()) != static_cast<ssize_t>(l.size()))
        ADD_FAILURE() << "cannot send '" << line << "'";
}

std::string E2eProcess::output() const { return readFile(out_path_); }

bool E2eProcess::waitFor(const std::string& text, int timeout_ms, size_t from) const {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    do {
        std::string o = output();
        if (o.size() > from && o.find(text, from) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    } while (Clock::now() < deadline);
    return false;
}

int E2eProcess::count(const std::string& text, size_t from) const {
    std::string o = output();
    int n = 0;
    for (size_t p = o.find(text, from); p != std::string::npos; p = o.find(text, p + text.size())) ++n;
    return n;
}

int E2eProcess::stop(int sig, int timeout_ms) {
    if (pid_ <= 0) return -1;
    kill(pid_, sig);
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (Clock::now() < deadline) {
        int st = 0;
        if (waitpid(pid_, &st, WNOHANG) == pid_) {
            pid_ = -1;
            if (WIFEXITED(st)) return WEXITSTATUS(st);
            return WIFSIGNALED(st) ? 128 + WTERMSIG(st) : -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

E2eSim::E2eSim(const TempDir& dir, const std::string& hotel, bool serial, const std::string& vendor)
    : serial_(serial) {
    std::string hotel_path = dir.write("hotel.txt", hotel);
    std::vector<std::string> argv = {binPath("vornpms_pmssim"), "--hotel", hotel_path};
    if (!vendor.empty()) {
        argv.push_back("--vendor");
        argv.push_back(vendor);
    }
    if (serial) {
        argv.push_back("--serial");
    } else {
        argv.push_back("--listen");
        argv.push_back("127.0.0.1:0");
    }
    proc_ = std::make_unique<E2eProcess>(argv, dir.path() + "/pmssim.out");
    const std::string marker = serial ? "-- serial device " : "-- listening on ";
    if (proc_->waitFor(marker, 5000)) where_ = between(proc_->output(), marker, ' ');
}

std::string E2eSim::linkConfig() const {
    if (serial_) return "PMSCOMMTYPE=RS232\nPMSCOMMOPTS=" + where_ + "|9600|8|N|1\n";
    auto colon = where_.rfind(':');
    return "PMSCOMMTYPE=TCP\nPMSCOMMOPTS=" + where_.substr(0, colon) + "|" + where_.substr(colon + 1) + "\n";
}

E2eSystem::E2eSystem(bool serial, const PgServer* server) : serial_(serial) {
    if (server) {
        own_db_ = std::make_unique<PgTestDb>(*server);
        db_ = own_db_.get();
    } else {
        db_ = &d_.db();
    }
}

bool E2eSystem::start(const std::string& hotel, const std::string& extra) {
    const TempDir& dir = d_.dir();
    sim_ = std::make_unique<E2eSim>(dir, hotel, serial_, vendor_);
    if (!sim_->ok()) return false;
    mcast_ = std::make_unique<E2eProcess>(
        std::vector<std::string>{binPath("vornpms_mcast_listen"), "-i", "127.0.0.1", "-p", std::to_string(d_.mcastPort())},
        dir.path() + "/mcast.out");
    if (!mcast_->waitFor("listening on", 5000)) return false;
    std::string vip = dir.write("vip.cfg", "1 100\n2 100\n3 80\n4 100\n5 100\n6 100\n7 100\n8 100\n9 100\n10 100\n");
    std::string config = extra + db_->configLines() + sim_->linkConfig() +
                         "CONTROLPORT=" + std::to_string(d_.controlPort()) +
                         "\nCONTROLADDR=127.0.0.1\nVENDOR=" + vendor_ + "\nPOSTDELAY=2\n"
                         "PMSCOMMTIMEOUT=2\nFLUSHTIMEOUT=1\nDBINITTIMEOUT=3\nVIPFILE=" + vip +
                         "\nLINKLOGFILE=" + dir.path() + "/link.log\nPMSMCAST_IP=127.0.0.1\nPMSMCAST_PORT=" +
                         std::to_string(d_.mcastPort()) + "\nEXPIRE_ON_CHECKOUT=1\nMOVE_SESSION_INFO_RECORDS=1\n";
    if (!d_.startWith(config)) return false;
    // A daemon that ends (say, for want of its database) brings no link up.
    auto deadline = Clock::now() + std::chrono::milliseconds(serial_ ? 20000 : 15000);
    while (!sim_->waitFor("-- link up", 200)) {
        if (!d_.running() || Clock::now() >= deadline) return false;
    }
    return true;
}

std::string E2eSystem::why() const {
    std::string out = "\n--- daemon:\n" + d_.log();
    if (sim_) out += "\n--- simulator:\n" + sim_->proc().output();
    if (mcast_) out += "\n--- multicast:\n" + mcast_->output();
    return out;
}

std::string E2eSystem::addCharge(const std::string& room, const std::string& guest, const std::string& amount,
                                 const std::string& mac) {
    return db_->value(
        "INSERT INTO session_info (ses_room_no, ses_guest_no, ses_amount, ses_mac, ses_pay_no, ses_reg_time_dt, "
        "ses_reg_expire_dt) VALUES ('" + room + "', '" + guest + "', " + amount + ", '" + mac +
        "', 4, now() - interval '10 minutes', now() + interval '1 hour') RETURNING ses_seq_no");
}

bool E2eSystem::waitValue(const std::string& sql, const std::string& want, int timeout_ms) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    do {
        if (db_->value(sql) == want) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    } while (Clock::now() < deadline);
    return false;
}

std::string E2eSystem::control(const std::string& subtype, const std::string& data) {
    return controlRequest(d_.controlPort(), e2eFrame("01", subtype, data));
}

std::string e2eFrame(const std::string& type, const std::string& subtype, const std::string& data) {
    return "\x02" + type + subtype + data + "\x03";
}
