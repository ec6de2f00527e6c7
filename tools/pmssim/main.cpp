// vornpms_pmssim: a hotel PMS for trying and testing the interface daemon
// without a real one. It listens where the daemon's PMS link connects (TCP)
// or offers a pseudo-terminal as its serial line, keeps a small hotel in
// memory, answers the daemon's requests as a PMS does, and sends guest
// events on operator commands from standard input or a script.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "sim_command.h"
#include "sim_log.h"
#include "sim_protocol.h"

namespace {

using Clock = std::chrono::steady_clock;

volatile sig_atomic_t g_stop = 0;
void onStop(int) { g_stop = 1; }

struct Options {
    std::string listen;
    bool serial = false;
    std::string files;
    std::string hotel;
    std::string script;
    std::string protocol = "fias";
};

void usage(FILE* out) {
    fprintf(out,
            "Usage: vornpms_pmssim (--listen HOST:PORT | --serial | --files DIR) [--hotel FILE] [--script FILE]\n"
            "                      [--protocol NAME | --vendor NAME]\n"
            "  --listen HOST:PORT  TCP server for the daemon's PMS link (port 0: any free port)\n"
            "  --serial            create a pseudo-terminal and print the device the daemon opens\n"
            "  --files DIR         write the PMS's files into DIR (an SFTP server's directory)\n"
            "  --hotel FILE        rooms, guests, folios, messages and refusals to start with\n"
            "  --script FILE       operator commands to run first (then standard input)\n"
            "  --protocol NAME     PMS protocol:");
    for (const auto& p : sim_protocols()) fprintf(out, " %s (%s)", p.name, p.description);
    fprintf(out, "\n  --vendor NAME       the protocol of the daemon's VENDOR setting NAME (\"Marriott 2-way\" ...)");
    fprintf(out, "\n\nOperator %s\n", sim_command_help());
}

std::optional<Options> parseOptions(int argc, char* argv[]) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) return false;
            into = argv[++i];
            return true;
        };
        bool ok = true;
        if (a == "--listen") ok = value(o.listen);
        else if (a == "--serial") o.serial = true;
        else if (a == "--files") ok = value(o.files);
        else if (a == "--hotel") ok = value(o.hotel);
        else if (a == "--script") ok = value(o.script);
        else if (a == "--protocol") ok = value(o.protocol);
        else if (a == "--vendor") {
            std::string vendor;
            ok = value(vendor);
            if (ok) {
                const char* proto = sim_protocol_for_vendor(vendor);
                ok = proto != nullptr;
                if (ok) o.protocol = proto;
                else fprintf(stderr, "vornpms_pmssim: no protocol module for vendor '%s'\n", vendor.c_str());
            }
        }
        else if (a == "--help" || a == "-h") {
            usage(stdout);
            exit(0);
        } else ok = false;
        if (!ok) return std::nullopt;
    }
    if (int(o.serial) + int(!o.listen.empty()) + int(!o.files.empty()) != 1) return std::nullopt;
    return o;
}

// Commands waiting to run: the script first, then what arrives on stdin.
class CommandStream {
public:
    bool loadScript(const std::string& path) {
        std::ifstream in(path);
        if (!in) return false;
        std::string line;
        while (std::getline(in, line)) lines_.push_back(line);
        return true;
    }
    void feed(const char* data, size_t n) {
        partial_.append(data, n);
        size_t nl;
        while ((nl = partial_.find('\n')) != std::string::npos) {
            lines_.push_back(partial_.substr(0, nl));
            partial_.erase(0, nl + 1);
        }
    }
    void finish() {
        if (!partial_.empty()) lines_.push_back(partial_);
        partial_.clear();
    }
    bool next(std::string& line) {
        if (lines_.empty()) return false;
        line = lines_.front();
        lines_.pop_front();
        return true;
    }

private:
    std::deque<std::string> lines_;
    std::string partial_;
};

// A pause of the command stream: a sleep, or a wait for something to happen.
struct Pause {
    Clock::time_point until;
    std::string what;  // empty: plain sleep
    long baseline = 0;
};

class Simulator {
public:
    Simulator(SimHotel& hotel, SimTransport& transport, const SimProtocolEntry& proto)
        : ctx_(hotel, transport), transport_(transport), protocol_(proto.make(ctx_)) {
        ctx_.faults().attach(*protocol_);
    }

    int run(CommandStream& commands, bool read_stdin) {
        bool stdin_open = read_stdin;
        while (!g_stop) {
            runCommands(commands);
            if (quit_) break;
            std::vector<pollfd> fds;
            if (stdin_open) fds.push_back({0, POLLIN, 0});
            transport_.addPollFds(fds);
            int n = poll(fds.data(), fds.size(), 100);
            if (n < 0 && errno != EINTR) {
                sim_note("poll: %s", strerror(errno));
                return 1;
            }
            if (stdin_open && n > 0 && fds[0].revents) {
                char buf[4096];
                ssize_t r = read(0, buf, sizeof buf);
                if (r > 0) {
                    commands.feed(buf, static_cast<size_t>(r));
                } else if (r == 0 || errno != EINTR) {
                    commands.finish();
                    stdin_open = false;
                }
            }
            // Through the fault layer, which keeps what a dead line would lose.
            transport_.service(fds, ctx_.faults());
            protocol_->tick();
            ctx_.faults().tick();
        }
        sim_note("stopping");
        return 0;
    }

private:
    bool paused() {
        if (!pause_) return false;
        const Pause& p = *pause_;
        bool done = p.what.empty()              ? false
                    // A silent or dead line would swallow what is sent: not up.
                    : p.what == "link"          ? protocol_->linkUp() && !ctx_.faults().muted()
                    : p.what == "connect"       ? transport_.connected()
                                                : ctx_.seenCount(p.what) > p.baseline;
        if (!done && Clock::now() >= p.until) {
            if (!p.what.empty()) sim_note("wait %s: timed out", p.what.c_str());
            done = true;
        }
        if (done) pause_.reset();
        return !done;
    }

    void runCommands(CommandStream& commands) {
        std::string line;
        while (!quit_ && !paused() && commands.next(line)) {
            SimCmd c = sim_run_command(line, ctx_.hotel());
            size_t first = line.find_first_not_of(" \t\r");
            if (first != std::string::npos && line[first] != '#') sim_note("command: %s", line.c_str() + first);
            switch (c.kind) {
                case SimCmdKind::None: break;
                case SimCmdKind::Event:
                    protocol_->send(c.event);
                    for (const auto& ev : c.more) protocol_->send(ev);
                    break;
                case SimCmdKind::Sleep:
                    pause_ = Pause{Clock::now() + toDuration(c.seconds), "", 0};
                    break;
                case SimCmdKind::Wait:
                    pause_ = Pause{Clock::now() + toDuration(c.seconds), c.what, ctx_.seenCount(c.what)};
                    break;
                case SimCmdKind::Show:
                    for (const auto& l : ctx_.hotel().describe()) sim_note("%s", l.c_str());
                    break;
                case SimCmdKind::Help: fprintf(stdout, "%s\n", sim_command_help()); fflush(stdout); break;
                case SimCmdKind::Fault: {
                    std::string why;
                    if (!ctx_.faults().command(c.what, c.seconds >= 0 ? std::optional<double>(c.seconds) : std::nullopt,
                                               why))
                        sim_note("error: %s", why.c_str());
                    break;
                }
                case SimCmdKind::Quit: quit_ = true; break;
                case SimCmdKind::Error: sim_note("error: %s", c.error.c_str()); break;
            }
        }
    }

    static Clock::duration toDuration(double seconds) {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    }

    SimContext ctx_;
    SimTransport& transport_;
    std::unique_ptr<SimProtocol> protocol_;
    std::optional<Pause> pause_;
    bool quit_ = false;
};

}  // namespace

int main(int argc, char* argv[]) {
    auto opts = parseOptions(argc, argv);
    if (!opts) {
        usage(stderr);
        return 2;
    }
    const SimProtocolEntry* proto = sim_find_protocol(opts->protocol);
    if (!proto) {
        fprintf(stderr, "vornpms_pmssim: unknown protocol '%s'\n", opts->protocol.c_str());
        return 2;
    }
    SimHotel hotel;
    std::string error;
    if (!opts->hotel.empty() && !sim_load_hotel(opts->hotel, hotel, error)) {
        fprintf(stderr, "vornpms_pmssim: %s\n", error.c_str());
        return 1;
    }
    CommandStream commands;
    if (!opts->script.empty() && !commands.loadScript(opts->script)) {
        fprintf(stderr, "vornpms_pmssim: cannot read script %s\n", opts->script.c_str());
        return 1;
    }
    auto transport = opts->serial            ? sim_serial_open(error)
                     : !opts->files.empty() ? sim_files_open(opts->files, error)
                                            : sim_tcp_listen(opts->listen, error);
    if (!transport) {
        fprintf(stderr, "vornpms_pmssim: %s\n", error.c_str());
        return 1;
    }

    struct sigaction sa {};
    sa.sa_handler = onStop;
    // Started in the background with SIGINT ignored (as scripts/demo does), a
    // Ctrl-C meant for the script must not stop the simulator before the
    // daemon has said goodbye to it: an ignored SIGINT stays ignored.
    struct sigaction old_int {};
    sigaction(SIGINT, nullptr, &old_int);
    if (old_int.sa_handler != SIG_IGN) sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    if (transport->serial())
        sim_note("serial device %s (%s)", transport->where().c_str(), proto->name);
    else if (!opts->files.empty())
        sim_note("writing files into %s (%s)", transport->where().c_str(), proto->name);
    else
        sim_note("listening on %s (%s)", transport->where().c_str(), proto->name);
    sim_note("hotel: %zu rooms, %zu guests", hotel.rooms().size(), hotel.guests().size());

    Simulator sim(hotel, *transport, *proto);
    return sim.run(commands, true);
}
