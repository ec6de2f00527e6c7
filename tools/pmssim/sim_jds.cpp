// The JDS PMS: fixed-width records framed STX, text, ETX, LRC, each answered
// with an ACK or NAK frame carrying its sequence number. It reports check-in,
// check-out, guest change and room move as "53", night audit as "62"/"63",
// acknowledges postings ("03"), and answers guest information ("12") with a
// "66" and folio requests ("11") with a "65".
#include <chrono>
#include <cstdio>
#include <deque>
#include <string>

#include "sim_log.h"
#include "sim_protocol.h"
#include "vendors/common/control_bytes.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kMaxSends = 3;
constexpr auto kAckWait = std::chrono::seconds(3);

std::string pad(std::string s, size_t n) {
    s.resize(n, ' ');
    return s;
}

std::string frameOf(const std::string& body) {
    unsigned char lrc = ctl::ETX;
    for (char c : body) lrc ^= static_cast<unsigned char>(c);
    return std::string(1, ctl::STX) + body + ctl::ETX + static_cast<char>(lrc);
}

class JdsPms : public SimProtocol {
public:
    explicit JdsPms(SimContext& ctx) : ctx_(ctx) {}

    void connected() override {
        // No start exchange: the connection is the link.
        up_ = true;
        sim_note("link up");
        in_.clear();
        out_.clear();
        sends_ = 0;
    }
    void disconnected() override { up_ = false; }

    void received(const std::string& bytes) override {
        in_ += bytes;
        for (;;) {
            size_t stx = in_.find(ctl::STX);
            if (stx == std::string::npos) {
                in_.clear();
                return;
            }
            size_t etx = in_.find(ctl::ETX, stx);
            if (etx == std::string::npos || etx + 1 >= in_.size()) {
                in_.erase(0, stx);
                return;
            }
            const std::string body = in_.substr(stx + 1, etx - stx - 1);
            const bool good = frameOf(body).back() == in_[etx + 1];
            in_.erase(0, etx + 2);
            sim_log(SimDir::Received, frameOf(body).substr(0, body.size() + 2));
            if (body.size() == 6 && (body[0] == ctl::ACK || body[0] == ctl::NAK)) {
                linkResponse(body[0], body.substr(1));
                continue;
            }
            const std::string seq = body.size() >= 5 ? body.substr(body.size() - 5) : pad(body, 5);
            if (good && body.size() == 105 && body.compare(0, 2, "03") == 0) {
                // The ACK is the posting's answer: taken before it goes out.
                posting(body, seq);
                continue;
            }
            raw(frameOf(std::string(1, good ? ctl::ACK : ctl::NAK) + seq));
            if (good) record(body, seq);
        }
    }

    void tick() override {
        if (!up_ || out_.empty() || sends_ == 0) return;
        if (Clock::now() - sent_at_ < kAckWait) return;
        resendOrDrop("no answer");
    }

    void send(const SimEvent& ev) override {
        const SimGuest& g = ev.guest;
        switch (ev.kind) {
            case SimEventKind::CheckIn: queue(guestRecord('1', g.room, "", g)); break;
            case SimEventKind::CheckOut: queue(guestRecord('2', g.room, "", g)); break;
            case SimEventKind::GuestChange: queue(guestRecord('4', g.room, "", g)); break;
            case SimEventKind::RoomMove: queue(guestRecord('3', ev.old_room, g.room, g)); break;
            case SimEventKind::NightAuditStart: queue("62" + seq()); break;
            case SimEventKind::NightAuditEnd: queue("63" + seq()); break;
            case SimEventKind::Raw: queue(ev.raw); break;
            default: sim_note("jds: this PMS has no record for that event; ignored"); break;
        }
    }

    bool linkUp() const override { return up_; }

private:
    std::string seq() {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%05d", next_seq_);
        next_seq_ = next_seq_ % 99999 + 1;
        return buf;
    }

    // "53", 74 characters: the guest's last name, arrival date, 14:00.
    std::string guestRecord(char status, const std::string& room, const std::string& newRoom, const SimGuest& g) {
        const std::string date = g.arrival.size() == 6 ? "20" + g.arrival : "20300101";
        return "53" + pad(room, 6) + pad(g.number, 7) + status + "1" + pad(g.last, 30) + pad(g.language, 1) +
               pad(g.vip, 1) + pad(newRoom, 6) + "1" + (status == '3' ? "1" : "0") + date + "1400" + seq();
    }

    void raw(const std::string& bytes) {
        ctx_.write(bytes);
        sim_log(SimDir::Sent, bytes.substr(0, bytes.size() - 1));
    }

    void queue(const std::string& body) {
        out_.push_back(body);
        if (out_.size() == 1) transmit();
    }
    void transmit() {
        if (out_.empty() || !up_) return;
        raw(frameOf(out_.front()));
        ++sends_;
        sent_at_ = Clock::now();
    }
    void resendOrDrop(const char* why) {
        if (sends_ < kMaxSends) {
            sim_note("jds: %s, sending again", why);
            transmit();
            return;
        }
        sim_note("jds: %s after %d sends, record dropped", why, sends_);
        next();
    }
    void next() {
        out_.pop_front();
        sends_ = 0;
        transmit();
    }
    void linkResponse(char code, const std::string& seq) {
        if (out_.empty()) return;
        const std::string& body = out_.front();
        if (code == ctl::ACK && body.size() >= 5 && body.substr(body.size() - 5) == seq) {
            next();
            return;
        }
        resendOrDrop(code == ctl::ACK ? "ACK for another sequence number" : "NAK");
    }

    void posting(const std::string& body, const std::string& seq) {
        ctx_.recordSeen("03");
        if (ctx_.fault(SimPoint::Posting)) return;
        const std::string room = body.substr(2, 6);
        const std::string trimmed = room.substr(0, room.find(' '));
        long cents = std::strtol(body.substr(91, 9).c_str(), nullptr, 10);
        SimGuest* g = ctx_.hotel().find(trimmed, "");
        if (g) g->folio.push_back({"Internet", cents, time(nullptr)});
        sim_note("posted %ld.%02ld to room %s", cents / 100, cents % 100, trimmed.c_str());
        ctx_.taken(trimmed, cents);
        if (ctx_.fault(SimPoint::Taken)) return;
        raw(frameOf(std::string(1, ctl::ACK) + seq));
        ctx_.fault(SimPoint::Answered);
    }

    void record(const std::string& body, const std::string& seq) {
        const std::string code = body.substr(0, 2);
        ctx_.recordSeen(code);
        const std::string room = body.size() >= 8 ? body.substr(2, 6) : "";
        std::string trimmed = room.substr(0, room.find(' '));
        if (code == "12") {
            queue("66" + pad(room, 6) + std::string(16, ' ') + seq);
        } else if (code == "11") {
            SimGuest* g = ctx_.hotel().find(trimmed, "");
            char amount[16];
            std::snprintf(amount, sizeof amount, "%10ld", g ? g->balance() : 0L);
            queue(pad("65" + pad(room, 6) + pad(g ? g->last : "VACANT", 30) + amount, 77) + seq);
        } else if (code == "02") {
            sim_note("jds: the interface closes");
        }
    }

    SimContext& ctx_;
    bool up_ = false;
    std::string in_;
    std::deque<std::string> out_;  // records to send; the first waits for its ACK
    int sends_ = 0;
    Clock::time_point sent_at_;
    int next_seq_ = 1;
};

}  // namespace

std::unique_ptr<SimProtocol> sim_make_jds(SimContext& ctx) { return std::make_unique<JdsPms>(ctx); }
