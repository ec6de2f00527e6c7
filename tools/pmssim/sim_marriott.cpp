// The Marriott line protocol from the PMS side: each side bids for the line
// with ENQ, sends STX/ETX/LRC frames acknowledged one by one, and ends its
// turn with EOT. The PMS answers LOOK with NAME records (ERR 4 for an empty
// room, ERR 3 for one it does not know), POST and CONF with VER or ERR, and
// announces check-ins and check-outs with CHKI and CHKO.
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <cstdio>
#include <deque>
#include <optional>
#include <string>

#include "sim_log.h"
#include "sim_protocol.h"
#include "sim_words.h"
#include "vendors/common/control_bytes.h"

namespace {

using Clock = std::chrono::steady_clock;
using ctl::ACK, ctl::ENQ, ctl::EOT, ctl::ETB, ctl::ETX, ctl::NAK, ctl::STX;

constexpr auto kAckWait = std::chrono::milliseconds(2000);
constexpr int kMaxSends = 4;
constexpr size_t kMaxFrame = 512;

char lrcOf(const std::string& text) {
    char x = 0;
    for (char c : text) x ^= c;
    return x;
}

std::string trimmed(const std::string& s) {
    size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

std::string field(const std::string& rec, size_t pos, size_t len) {
    return pos < rec.size() ? rec.substr(pos, len) : std::string();
}

std::string errRecord(int code) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%6d", code);
    return std::string("ERR ") + buf + std::string(12, ' ');
}

std::string room6(const std::string& room) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%6.6s", room.c_str());
    return buf;
}

bool startsWithNoCase(const std::string& name, const std::string& prefix) {
    if (prefix.size() > name.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(name[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

class LinePms : public SimProtocol {
public:
    explicit LinePms(SimContext& ctx) : ctx_(ctx) {}

    void connected() override { reset(); }
    void disconnected() override {
        if (link_up_) sim_note("link down");
        reset();
    }
    void received(const std::string& bytes) override {
        for (char c : bytes) byte(c);
    }
    void tick() override {
        const auto now = Clock::now();
        if ((turn_ == Turn::Bidding || turn_ == Turn::Ours) && now >= deadline_) {
            if (++sends_ < kMaxSends) {
                resend();
            } else if (turn_ == Turn::Bidding) {
                // Try again later; the records stay queued.
                sim_note("the interface does not take the line");
                turn_ = Turn::Free;
                next_bid_ = now + kAckWait;
            } else {
                sim_note("no ACK after %d sends, giving up: %s", kMaxSends, out_.front().c_str());
                out_.pop_front();
                if (answer_at_ > 0) --answer_at_;  // a lost answer is no answer
                endOurTurn();
            }
        }
        if (turn_ == Turn::Free && !out_.empty() && now >= next_bid_) bid();
    }
    bool linkUp() const override { return link_up_; }

    void send(const SimEvent& ev) override {
        switch (ev.kind) {
            case SimEventKind::CheckIn: queue("CHKI" + room6(ev.guest.room)); break;
            case SimEventKind::CheckOut: queue("CHKO" + room6(ev.guest.room)); break;
            case SimEventKind::Raw: queue(ev.raw); break;
            case SimEventKind::Drop: ctx_.transport().hangUp(*this); break;
            case SimEventKind::LinkStart: queue("INIT"); break;
            default: sim_note("not a record of this protocol"); break;
        }
    }

private:
    enum class Turn { Free, Theirs, Bidding, Ours };

    void reset() {
        turn_ = Turn::Free;
        out_.clear();
        answer_at_ = 0;
        in_frame_ = want_lrc_ = false;
        frame_.clear();
        link_up_ = false;
    }

    void queue(const std::string& body) {
        if (!ctx_.transport().connected()) {
            sim_note("not connected, not sent: %s", body.c_str());
            return;
        }
        out_.push_back(body);
    }

    void raw(char c) {
        ctx_.write(std::string(1, c));
        const char* n = ctl::name(c);
        sim_log(SimDir::Sent, n ? std::string("<") + n + ">" : std::string(1, c));
    }

    void bid() {
        turn_ = Turn::Bidding;
        deadline_ = Clock::now() + kAckWait;
        sends_ = 0;
        raw(ENQ);
    }

    void resend() {
        deadline_ = Clock::now() + kAckWait;
        if (turn_ == Turn::Bidding) {
            raw(ENQ);
            return;
        }
        const std::string& body = out_.front();
        ctx_.write(std::string(1, STX) + body + ETX + lrcOf(body + ETX));
        sim_log(SimDir::Sent, body);
    }

    void endOurTurn() {
        raw(EOT);
        turn_ = Turn::Free;
    }

    void byte(char c) {
        if (in_frame_) return frameByte(c);
        switch (c) {
            case STX:
                in_frame_ = true;
                frame_.clear();
                return;
            case ENQ:
                // The interface bids; it wins over a bid of ours.
                raw(ACK);
                turn_ = Turn::Theirs;
                return;
            case EOT:
                sim_log(SimDir::Received, "<EOT>");
                turn_ = Turn::Free;
                return;
            case ACK:
                if (turn_ == Turn::Bidding) {
                    turn_ = Turn::Ours;
                    sends_ = 0;
                    resend();
                } else if (turn_ == Turn::Ours) {
                    out_.pop_front();
                    if (answer_at_ > 0 && --answer_at_ == 0) ctx_.fault(SimPoint::Answered);
                    sends_ = 0;
                    if (out_.empty()) {
                        endOurTurn();
                    } else {
                        resend();
                    }
                }
                return;
            case NAK:
                if (turn_ == Turn::Ours) resend();
                return;
            default: return;
        }
    }

    void frameByte(char c) {
        if (want_lrc_) {
            in_frame_ = want_lrc_ = false;
            const char want = lrcOf(frame_ + ETX);
            if (c != want && c != '\r' && c != '\n') {
                sim_note("bad LRC, frame refused");
                raw(NAK);
                return;
            }
            raw(ACK);
            sim_log(SimDir::Received, frame_);
            handle(frame_);
            return;
        }
        if (c == ETX || c == ETB) {
            want_lrc_ = true;
            return;
        }
        if (frame_.size() >= kMaxFrame) {
            sim_note("frame longer than %zu bytes dropped", kMaxFrame);
            in_frame_ = false;
            return;
        }
        frame_ += c;
    }

    void handle(const std::string& rec) {
        const std::string type = rec.substr(0, 4);
        ctx_.recordSeen(type);
        if (type == "STRT") {
            link_up_ = true;
            sim_note("link up");
        } else if (type == "TEST" || type == "ECHO") {
        } else if (type == "LOOK") {
            look(trimmed(field(rec, 4, 6)));
        } else if (type == "POST") {
            post(rec);
        } else if (type == "CONF") {
            conf(trimmed(field(rec, 4, 6)), trimmed(field(rec, 10, 4)), trimmed(field(rec, 14, 4)));
        } else {
            sim_note("record %s not handled", type.c_str());
        }
    }

    void look(const std::string& room) {
        auto guests = ctx_.hotel().inRoom(room);
        if (guests.empty()) {
            out_.push_back(errRecord(ctx_.hotel().hasRoom(room) ? 4 : 3));
            return;
        }
        for (const SimGuest* g : guests) {
            std::string name = g->last + (g->first.empty() ? "" : "/" + g->first);
            name.resize(20, ' ');
            out_.push_back("NAME" + std::string(18, ' ') + name);
        }
    }

    void post(const std::string& rec) {
        if (ctx_.fault(SimPoint::Posting)) return;
        const std::string room = trimmed(field(rec, 4, 6));
        const std::string amount = trimmed(rec.size() >= 11 ? rec.substr(rec.size() - 11) : "");
        if (auto refusal = ctx_.hotel().refusal(room)) {
            const int code = std::atoi(refusal->status.c_str());
            out_.push_back(errRecord(code > 0 ? code : 3));
            sim_note("post to room %s refused with ERR %d", room.c_str(), code > 0 ? code : 3);
            return;
        }
        SimGuest* g = ctx_.hotel().find(room, "");
        if (!g) {
            out_.push_back(errRecord(ctx_.hotel().hasRoom(room) ? 4 : 3));
            return;
        }
        const long cents = std::atol(amount.c_str());
        g->folio.push_back({"Internet", cents, time(nullptr)});
        sim_note("posted %s to room %s, balance %s", sim_format_amount(cents).c_str(), room.c_str(),
                 sim_format_amount(g->balance()).c_str());
        ctx_.taken(room, cents);
        if (ctx_.fault(SimPoint::Taken)) return;
        out_.push_back("VER");
        // Answered once the interface acknowledged it: it must first give us the line.
        answer_at_ = out_.size();
    }

    void conf(const std::string& room, const std::string& first, const std::string& last) {
        for (const SimGuest* g : ctx_.hotel().inRoom(room)) {
            if (startsWithNoCase(g->first, first) && startsWithNoCase(g->last, last)) {
                out_.push_back("VER");
                return;
            }
        }
        out_.push_back(errRecord(5));
    }

    SimContext& ctx_;
    Turn turn_ = Turn::Free;
    std::deque<std::string> out_;
    size_t answer_at_ = 0;  // place in out_ of a posting's answer not yet acknowledged (1: the first)
    Clock::time_point deadline_{};
    Clock::time_point next_bid_{};
    int sends_ = 0;
    bool in_frame_ = false, want_lrc_ = false;
    std::string frame_;
    bool link_up_ = false;
};

}  // namespace

std::unique_ptr<SimProtocol> sim_make_marriott(SimContext& ctx) { return std::make_unique<LinePms>(ctx); }
