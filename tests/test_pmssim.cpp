// The PMS simulator on its own: the test plays the interface against the
// built program, over TCP and over its pseudo-terminal.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <optional>
#include <regex>

#include <gtest/gtest.h>

#include "ctl_support.h"
#include "e2e_env.h"
#include "procrun.h"
#include "vendor.h"

namespace {

const char kHotel[] =
    "room 101 102 103\n"
    "guest 101 1001 Smith John vip=3 nights=2\n"
    "guest 101 1002 Smith Jane\n"
    "guest 102 2001 Nopost Ned nopost=1\n"
    "folio 101 1001 24.00 \"Room service\"\n"
    "folio 101 1001 -4.00 Refund\n"
    "refuse 103 RY \"Try again\"\n";

// The interface's end of the link: frames out, frames and link bytes in.
class Side {
public:
    explicit Side(int fd, bool serial) : fd_(fd), serial_(serial) {}
    ~Side() { close(fd_); }
    void send(const std::string& body, std::optional<char> lrc = std::nullopt) {
        std::string f = "\x02" + body + "\x03";
        if (serial_) f += lrc ? *lrc : static_cast<char>(vendor_calc_lrc(body + "\x03"));
        put(f);
    }
    void sendByte(char c) { put(std::string(1, c)); }
    int byte(int timeout_ms = 4000) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, timeout_ms) <= 0) return -1;
        unsigned char c;
        return read(fd_, &c, 1) == 1 ? c : -1;
    }
    // Next frame's body (link bytes before it are kept in `skipped`); on the
    // serial line the LRC is checked and, with `ack`, acknowledged.
    std::string frame(bool ack = true, int timeout_ms = 4000) {
        int c;
        while ((c = byte(timeout_ms)) != 0x02) {
            if (c < 0) return "<timeout>";
            skipped += static_cast<char>(c);
        }
        std::string body;
        while ((c = byte(timeout_ms)) != 0x03) {
            if (c < 0) return "<timeout>";
            body += static_cast<char>(c);
        }
        if (serial_) {
            int lrc = byte(timeout_ms);
            if (lrc != vendor_calc_lrc(body + "\x03")) return "<bad lrc>";
            if (ack) sendByte(0x06);
        }
        return body;
    }
    std::string skipped;

private:
    // write(), not send(): the serial side is a terminal, not a socket.
    void put(const std::string& bytes) {
        ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    int fd_;
    bool serial_;
};

bool matches(const std::string& body, const std::string& re) { return std::regex_match(body, std::regex(re)); }

std::unique_ptr<E2eSim> startSim(const TempDir& dir, bool serial) {
    auto sim = std::make_unique<E2eSim>(dir, kHotel, serial);
    return sim->ok() ? std::move(sim) : nullptr;
}

// Link start as the interface does it, after the simulator's LS.
void linkUp(Side& s) {
    ASSERT_TRUE(matches(s.frame(), "LS\\|DA\\d{6}\\|TI\\d{6}\\|"));
    s.send("LD|DA261208|IFWW|TI120000|V#0.24.2|");
    s.send("LR|RIPL|FLP#DATIRNG#GN|");
    s.send("LA|DA261208|TI120000|");
    std::string la = s.frame();
    ASSERT_TRUE(matches(la, "LA\\|.*")) << la;
}

}  // namespace

TEST(PmsSim, AnswersTheInterfaceOverTcp) {
    TempDir dir;
    auto sim = startSim(dir, false);
    ASSERT_TRUE(sim);
    std::string opts = sim->linkConfig();
    int port = std::stoi(opts.substr(opts.rfind('|') + 1));
    Side s(connectLoopback(port), false);
    linkUp(s);
    ASSERT_TRUE(sim->waitFor("-- link up (1 link records)", 2000));
    s.send("LS|DA261208|TI120001|");
    EXPECT_TRUE(matches(s.frame(), "LA\\|.*"));

    // Inquiry: both guests of the room, date and time before the first RN.
    s.send("PR|DA261208|PI101|TI120002|P#7|SO123|WS000000000000|IDELI|");
    EXPECT_TRUE(matches(s.frame(), "PL\\|P#7\\|DA\\d{6}\\|TI\\d{6}\\|RN101\\|G#1001\\|GNSmith\\|GFJohn\\|GV3\\|.*"
                                   "\\|RN101\\|G#1002\\|GNSmith\\|GFJane\\|.*"));
    s.send("PR|DA261208|PI104|TI120002|P#8|SO123|WS000000000000|IDELI|");
    EXPECT_TRUE(matches(s.frame(), "PA\\|P#8\\|ASNG\\|.*"));

    // Postings: accepted, refused by the room, no-post guest, wrong guest, bad amount.
    s.send("PR|DA261208|G#1001|RN101|TA995|TI120003|P#9|GNSmith|WS001122334455|PTC|");
    EXPECT_TRUE(matches(s.frame(), "PA\\|P#9\\|ASOK\\|.*RN101\\|.*"));
    s.send("PS|DA261208|PTC|RN103|PC4|TA100|TI120003|CT00:11|P#10|");
    EXPECT_TRUE(matches(s.frame(), "PA\\|P#10\\|ASRY\\|CTTry again\\|.*"));
    s.send("PR|DA261208|G#2001|RN102|TA100|TI120003|P#11|GNNopost|WS0|PTC|");
    EXPECT_TRUE(matches(s.frame(), "PA\\|P#11\\|ASNP\\|.*"));
    s.send("PR|DA261208|G#9999|RN101|TA100|TI120003|P#12|GNX|WS0|PTC|");
    EXPECT_TRUE(matches(s.frame(), "PA\\|P#12\\|ASNG\\|.*"));
    s.send("PR|DA261208|G#1001|RN101|TA1.00|TI120003|P#13|GNSmith|WS0|PTC|");
    EXPECT_TRUE(matches(s.frame(), "PA\\|P#13\\|ASUR\\|.*"));

    // The folio holds the file's items and the accepted posting.
    s.send("XR|G#1001|RN101|DA261208|TI120004|");
    EXPECT_TRUE(matches(s.frame(), "XI\\|BDRoom service\\|BI2400\\|DCIN\\|G#1001\\|RN101\\|DA\\d+\\|TI\\d+\\|F#1\\|FDY\\|"));
    EXPECT_TRUE(matches(s.frame(), "XI\\|BDRefund\\|BI-400\\|.*"));
    EXPECT_TRUE(matches(s.frame(), "XI\\|BDInternet\\|BI995\\|.*DA261208\\|TI120003\\|.*"));
    EXPECT_TRUE(matches(s.frame(), "XB\\|BA2995\\|G#1001\\|RN101\\|.*"));

    // Messages: none, then one from the operator, then deleted.
    s.send("XM|G#1001|RN101|");
    EXPECT_TRUE(matches(s.frame(), "XT\\|G#1001\\|RN101\\|DA\\d+\\|TI\\d+\\|"));
    sim->command("message 101 1001 Call \"the desk\"");
    EXPECT_TRUE(matches(s.frame(), "XL\\|RN101\\|G#1001\\|MI1\\|MTCall the desk\\|.*"));
    s.send("XM|G#1001|RN101|");
    EXPECT_TRUE(matches(s.frame(), "XT\\|G#1001\\|MI1\\|MTCall the desk\\|RN101\\|.*"));
    s.send("XD|MI1|RN101|G#1001|");
    EXPECT_TRUE(matches(s.frame(), "XD\\|MI1\\|RN101\\|G#1001\\|ASOK\\|.*"));
    s.send("XD|MI1|RN101|G#1001|");
    EXPECT_TRUE(matches(s.frame(), "XD\\|MI1\\|RN101\\|G#1001\\|ASNG\\|.*"));

    // Remote check-out of one guest: confirmed, then the PMS's GO for that guest only.
    s.send("XC|BA|G#1002|RN101|DA261208|TI120005|");
    EXPECT_TRUE(matches(s.frame(), "XC\\|RN101\\|G#1002\\|ASOK\\|.*"));
    EXPECT_TRUE(matches(s.frame(), "GO\\|RN101\\|G#1002\\|GSY\\|.*"));

    // Resync: DS, every guest in house with the swap flag, DE.
    s.send("DR|DA261208|TI120006|");
    EXPECT_TRUE(matches(s.frame(), "DS\\|.*"));
    EXPECT_TRUE(matches(s.frame(), "GI\\|RN101\\|G#1001\\|.*\\|SF\\|DA\\d+\\|TI\\d+\\|"));
    EXPECT_TRUE(matches(s.frame(), "GI\\|RN102\\|G#2001\\|.*\\|NP1\\|SF\\|.*"));
    EXPECT_TRUE(matches(s.frame(), "DE\\|.*"));

    // Operator events.
    sim->command("checkin 103 3001 Keller Anna title=Ms group=G7 arrive=261201 depart=261224");
    EXPECT_TRUE(matches(s.frame(), "GI\\|RN103\\|G#3001\\|GNKeller\\|GFAnna\\|GTMs\\|GV\\|GLEA\\|GGG7\\|GA261201\\|"
                                   "GD261224\\|NP0\\|DA\\d+\\|TI\\d+\\|"));
    sim->command("move 103 102 3001");
    EXPECT_TRUE(matches(s.frame(), "GC\\|RN102\\|RO103\\|G#3001\\|GNKeller\\|.*"));
    sim->command("change 102 3001 last=Keller-Roth vip=1");
    EXPECT_TRUE(matches(s.frame(), "GC\\|RN102\\|G#3001\\|GNKeller-Roth\\|GFAnna\\|GTMs\\|GV1\\|.*"));
    sim->command("folio 102 3001 12.5 Spa");
    EXPECT_TRUE(matches(s.frame(), "XO\\|RN102\\|G#3001\\|BDSpa\\|BI1250\\|BA1250\\|.*"));
    sim->command("checkout 102");
    EXPECT_TRUE(matches(s.frame(), "GO\\|RN102\\|DA\\d+\\|TI\\d+\\|"));
    sim->command("nightaudit start");
    EXPECT_TRUE(matches(s.frame(), "NS\\|.*"));
    sim->command("ne");
    EXPECT_TRUE(matches(s.frame(), "NE\\|.*"));
    sim->command("send XX|AB1|");
    EXPECT_EQ(s.frame(), "XX|AB1|");
    // Refused commands send nothing and say why.
    sim->command("checkout 999");
    sim->command("folio 101 1001 abc Bar");
    sim->command("bogus");
    EXPECT_TRUE(sim->waitFor("-- error: no guest in room 999", 2000));
    EXPECT_TRUE(sim->waitFor("-- error: amount wants a decimal", 2000));
    EXPECT_TRUE(sim->waitFor("-- error: unknown command 'bogus'", 2000));
    sim->command("drop");
    EXPECT_EQ(s.frame(true, 2000), "<timeout>");
    EXPECT_TRUE(sim->waitFor("-- link down", 2000));
    // Every record went into the trace with a time stamp.
    EXPECT_TRUE(std::regex_search(sim->proc().output(), std::regex("\n\\d\\d:\\d\\d:\\d\\d\\.\\d{3} <- XR\\|G#1001\\|")));
    EXPECT_EQ(sim->proc().stop(SIGTERM), 0);
}

TEST(PmsSim, SerialLineChecksumsAcknowledgesAndRepeats) {
    TempDir dir;
    auto sim = startSim(dir, true);
    ASSERT_TRUE(sim);
    struct Dump {
        E2eSim& s;
        ~Dump() { if (::testing::Test::HasFailure()) std::cerr << s.proc().output(); }
    } dump{*sim};
    std::string opts = sim->linkConfig();
    std::string dev = opts.substr(opts.find("PMSCOMMOPTS=") + 12);
    dev = dev.substr(0, dev.find('|'));
    int fd = open(dev.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0) << dev;
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    Side s(fd, true);
    ASSERT_TRUE(sim->waitFor("-- the interface opened " + dev, 2000));
    linkUp(s);
    EXPECT_EQ(s.skipped, "\x06\x06\x06");  // LD, LR and LA acknowledged before the answer
    // The trace shows each frame before the ACK that answers it.
    EXPECT_TRUE(std::regex_search(sim->proc().output(),
                                  std::regex("<- LA\\|DA261208\\|TI120000\\|\n[0-9:.]+ -> <ACK>\n")));

    // A bad LRC is refused; ENQ repeats the last answer; the good frame is taken.
    s.send("LS|DA261208|TI120001|", 'x');
    EXPECT_EQ(s.byte(), 0x15);
    s.sendByte(0x05);
    EXPECT_EQ(s.byte(), 0x15);
    s.send("LS|DA261208|TI120001|");
    EXPECT_EQ(s.byte(), 0x06);
    EXPECT_TRUE(matches(s.frame(), "LA\\|.*"));

    // A frame we refuse is sent again; one we leave unanswered brings an ENQ.
    sim->command("nightaudit start");
    std::string first = s.frame(false);
    ASSERT_TRUE(matches(first, "NS\\|.*"));
    s.sendByte(0x15);
    EXPECT_EQ(s.frame(false), first);
    EXPECT_EQ(s.byte(3000), 0x05);
    s.sendByte(0x06);
    // Accepted: the next queued frame follows.
    sim->command("nightaudit end");
    EXPECT_TRUE(matches(s.frame(), "NE\\|.*"));
    EXPECT_TRUE(sim->waitFor("-- bad LRC", 0));

    // "drop" cannot cut a serial line: the PMS ends the link instead.
    sim->command("drop");
    EXPECT_TRUE(matches(s.frame(), "LE\\|.*"));
}

TEST(PmsSim, ScriptsWaitAndHotelFilesAreChecked) {
    TempDir dir;
    std::string hotel = dir.write("bad.txt", "room 101\nguest 101 1001 Smith nights=x\n");
    RunResult bad = runProgram({binPath("vornpms_pmssim"), "--listen", "127.0.0.1:0", "--hotel", hotel});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find(hotel + ":2: nights wants a number 0-365"), std::string::npos) << bad.err;
    std::string timing = dir.write("timing.txt", "sleep 1\n");
    RunResult t = runProgram({binPath("vornpms_pmssim"), "--listen", "127.0.0.1:0", "--hotel", timing});
    EXPECT_NE(t.err.find(":1: 'sleep' does not belong in a hotel file"), std::string::npos) << t.err;
    EXPECT_EQ(runProgram({binPath("vornpms_pmssim")}).status, 2);
    EXPECT_EQ(runProgram({binPath("vornpms_pmssim"), "--listen", "127.0.0.1:0", "--serial"}).status, 2);
    EXPECT_EQ(runProgram({binPath("vornpms_pmssim"), "--listen", "localhost:99999"}).status, 1);

    // A script waits for the link and for records, then quits by itself.
    std::string script = dir.write("script.txt",
                                   "wait link 10\ncheckin 102 2002 Brown Tom\nwait XR 10\nsleep 0.2\n"
                                   "checkout 102\nwait PR 0.3\nquit\n");
    std::string hotel_ok = dir.write("hotel.txt", "room 101 102\n");
    E2eProcess sim({binPath("vornpms_pmssim"), "--listen", "127.0.0.1:0", "--hotel", hotel_ok, "--script", script},
                   dir.path() + "/out.txt");
    ASSERT_TRUE(sim.waitFor("-- listening on 127.0.0.1:", 3000));
    std::smatch m;
    std::string out = sim.output();
    ASSERT_TRUE(std::regex_search(out, m, std::regex("listening on 127\\.0\\.0\\.1:(\\d+)")));
    Side s(connectLoopback(std::stoi(m[1])), false);
    linkUp(s);
    EXPECT_TRUE(matches(s.frame(), "GI\\|RN102\\|G#2002\\|.*"));
    // Nothing more until the awaited record comes.
    EXPECT_EQ(s.frame(true, 600), "<timeout>");
    s.send("XR|G#2002|RN102|DA261208|TI120004|");
    EXPECT_TRUE(matches(s.frame(), "XB\\|BA0\\|.*"));
    EXPECT_TRUE(matches(s.frame(), "GO\\|RN102\\|.*"));
    EXPECT_TRUE(sim.waitFor("-- wait PR: timed out", 3000));
    EXPECT_TRUE(sim.waitFor("-- stopping", 3000));
    EXPECT_EQ(sim.stop(0, 5000), 0);  // "quit" ended it: signal 0 only waits
}
