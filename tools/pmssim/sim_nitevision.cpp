// The NiteVision PMS: it publishes the in-house guests as one text file,
// "guests.txt" in the --files directory, and writes it again after every
// change of the hotel (check-in, check-out, guest change, room move, resync).
// The interface reads it over SFTP; nothing comes back.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <string>

#include "sim_log.h"
#include "sim_protocol.h"

namespace {

constexpr char kFileName[] = "guests.txt";
constexpr char kHeading[] = "ID|FIRST|LAST|PHONE|ROOM|ARRIVAL|DEPARTURE|CHECKIN";

// "YYMMDD" and a time of day as "20YY-MM-DD HH:MM:SS"; empty when malformed.
std::string dateTime(const std::string& yymmdd, const char* clock) {
    if (yymmdd.size() != 6) return "";
    for (char c : yymmdd)
        if (c < '0' || c > '9') return "";
    return "20" + yymmdd.substr(0, 2) + "-" + yymmdd.substr(2, 2) + "-" + yymmdd.substr(4, 2) + " " + clock;
}

std::string now() {
    time_t t = time(nullptr);
    struct tm tm {};
    localtime_r(&t, &tm);
    char buf[32];
    strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

class NiteVisionPms : public SimProtocol {
public:
    explicit NiteVisionPms(SimContext& ctx) : ctx_(ctx), dir_(ctx.transport().where()) {}

    void connected() override {}
    void disconnected() override {}
    void received(const std::string&) override {}

    void tick() override {
        if (!written_) publish();
    }

    void send(const SimEvent& ev) override {
        switch (ev.kind) {
            case SimEventKind::CheckIn:
            case SimEventKind::CheckOut:
            case SimEventKind::GuestChange:
            case SimEventKind::RoomMove:
            case SimEventKind::Resync: publish(); break;
            default: sim_note("nitevision: this PMS only publishes its guest list; event ignored"); break;
        }
    }

    bool linkUp() const override { return written_; }

private:
    // Written beside the file and renamed over it, so that a reader never
    // sees half a list. The temporary lives in a subdirectory, which the
    // interface does not take for a guest file.
    void publish() {
        const std::string tmpdir = dir_ + "/.pmssim";
        mkdir(tmpdir.c_str(), 0755);
        const std::string tmp = tmpdir + "/" + kFileName;
        std::ofstream out(tmp, std::ios::trunc);
        out << kHeading << "\n";
        int rows = 0;
        for (const SimGuest& g : ctx_.hotel().guests()) {
            std::string& since = checked_in_[g.number];
            if (since.empty()) since = now();
            out << g.number << "|" << g.first << "|" << g.last << "||" << g.room << "|"
                << dateTime(g.arrival, "14:00:00") << "|" << dateTime(g.departure, "11:00:00") << "|" << since
                << "\n";
            ++rows;
        }
        out.close();
        const std::string path = dir_ + "/" + kFileName;
        if (!out || rename(tmp.c_str(), path.c_str()) != 0) {
            sim_note("nitevision: cannot write %s", path.c_str());
            return;
        }
        chmod(path.c_str(), 0644);
        written_ = true;
        sim_log(SimDir::Sent, std::string(kFileName) + ": " + std::to_string(rows) + " guests");
    }

    SimContext& ctx_;
    std::string dir_;
    std::map<std::string, std::string> checked_in_;  // guest number -> first seen
    bool written_ = false;
};

}  // namespace

std::unique_ptr<SimProtocol> sim_make_nitevision(SimContext& ctx) { return std::make_unique<NiteVisionPms>(ctx); }
