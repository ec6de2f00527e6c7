// The Micros 4700 PMS: it only answers. A message is SOH, the header
// "01Micros 4700 Sys.", STX, text, ETX, a four-hex-digit sum and EOT, and is
// acknowledged with ACK (NAK when the sum is wrong). A names request (" 1")
// is answered with the room's guests as 16-character "LAST,FIRST" fields, or
// a marker when the room cannot be charged; a posting (" 2") goes on the
// guest's folio unless the room refuses postings.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "sim_log.h"
#include "sim_protocol.h"
#include "vendors/common/control_bytes.h"

namespace {

constexpr char kHeader[] = "01Micros 4700 Sys.";
constexpr size_t kHeaderLen = sizeof kHeader - 1;
constexpr size_t kMaxMessage = 4096;

std::string pad(std::string s, size_t n) {
    s.resize(n, ' ');
    return s;
}

std::string sumOf(const std::string& afterSoh) {
    unsigned sum = 0;
    for (char c : afterSoh) sum += static_cast<unsigned char>(c);
    char hex[8];
    std::snprintf(hex, sizeof hex, "%04X", sum % 65536);
    return hex;
}

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

class Micros4700Pms : public SimProtocol {
public:
    explicit Micros4700Pms(SimContext& ctx) : ctx_(ctx) {}

    void connected() override {
        // No start exchange: the connection is the link.
        up_ = true;
        sim_note("link up");
        in_.clear();
    }
    void disconnected() override { up_ = false; }

    void received(const std::string& bytes) override {
        in_ += bytes;
        for (;;) {
            size_t soh = in_.find(ctl::SOH);
            if (soh == std::string::npos) {
                noteControls(in_);
                in_.clear();
                return;
            }
            noteControls(in_.substr(0, soh));
            size_t eot = in_.find(ctl::EOT, soh);
            if (eot == std::string::npos) {
                in_.erase(0, soh);
                if (in_.size() > kMaxMessage) in_.clear();
                return;
            }
            const std::string msg = in_.substr(soh + 1, eot - soh - 1);
            in_.erase(0, eot + 1);
            sim_log(SimDir::Received, std::string(1, ctl::SOH) + msg + ctl::EOT);
            message(msg);
        }
    }

    void tick() override {}

    void send(const SimEvent& ev) override {
        if (ev.kind == SimEventKind::Raw) {
            answer(ev.raw);
            return;
        }
        sim_note("micros4700: this PMS speaks only when asked; event ignored");
    }

    bool linkUp() const override { return up_; }

private:
    // ACKs and NAKs the interface sends between messages.
    void noteControls(const std::string& bytes) {
        for (char c : bytes)
            if (c == ctl::ACK || c == ctl::NAK) sim_log(SimDir::Received, std::string(1, c));
    }

    void raw(const std::string& bytes) {
        ctx_.write(bytes);
        sim_log(SimDir::Sent, bytes);
    }

    // header, STX, text, ETX, sum, without SOH and EOT.
    void message(const std::string& msg) {
        const size_t etx = msg.rfind(ctl::ETX);
        const bool framed = msg.size() > kHeaderLen + 1 && msg.compare(0, kHeaderLen, kHeader) == 0 &&
                            msg[kHeaderLen] == ctl::STX && etx != std::string::npos && etx + 5 == msg.size();
        if (!framed || sumOf(msg.substr(0, etx + 1)) != msg.substr(etx + 1)) {
            sim_note("micros4700: bad sum or framing, NAK");
            raw(std::string(1, ctl::NAK));
            return;
        }
        raw(std::string(1, ctl::ACK));
        const std::string text = msg.substr(kHeaderLen + 1, etx - kHeaderLen - 1);
        if (text.compare(0, 2, " 1") == 0 && text.size() >= 19) {
            ctx_.recordSeen("names");
            names(trim(text.substr(3, 16)));
        } else if (text.compare(0, 2, " 2") == 0 && text.size() >= 79) {
            ctx_.recordSeen("post");
            post(trim(text.substr(3, 16)), text.substr(69, 10));
        } else {
            sim_note("micros4700: unknown request [%s]", text.c_str());
        }
    }

    void answer(const std::string& text) {
        const std::string body = kHeader + std::string(1, ctl::STX) + text + ctl::ETX;
        raw(std::string(1, ctl::SOH) + body + sumOf(body) + ctl::EOT);
    }

    void names(const std::string& room) {
        if (ctx_.fault(SimPoint::Inquiry)) return;
        std::string data;
        if (!ctx_.hotel().hasRoom(room)) {
            data = pad("/INVALID", 16);
        } else {
            for (SimGuest* g : ctx_.hotel().inRoom(room)) {
                if (g->no_post) {
                    data = pad("CASH-ONLY GUEST", 16);
                    break;
                }
                data += pad(g->first.empty() ? g->last : g->last + "," + g->first, 16);
            }
            if (data.empty()) data = pad("/VACANT ROOM", 16);
        }
        sim_note("micros4700: names of room %s: [%s]", room.c_str(), data.c_str());
        answer(" 1" + data);
    }

    void post(const std::string& room, const std::string& amount) {
        if (ctx_.fault(SimPoint::Posting)) return;
        const long cents = std::lround(std::strtod(amount.c_str(), nullptr) * 100);
        if (auto refusal = ctx_.hotel().refusal(room)) {
            sim_note("micros4700: posting to room %s refused", room.c_str());
            answer(" 2" + pad("\\" + refusal->text, 16));
            return;
        }
        SimGuest* g = ctx_.hotel().find(room, "");
        if (g) g->folio.push_back({"Internet", cents, time(nullptr)});
        sim_note("posted %ld.%02ld to room %s", cents / 100, std::labs(cents % 100), room.c_str());
        ctx_.taken(room, cents);
        if (ctx_.fault(SimPoint::Taken)) return;
        answer(" 2" + pad("POSTED", 16));
        ctx_.fault(SimPoint::Answered);
    }

    SimContext& ctx_;
    bool up_ = false;
    std::string in_;
};

}  // namespace

std::unique_ptr<SimProtocol> sim_make_micros4700(SimContext& ctx) { return std::make_unique<Micros4700Pms>(ctx); }
