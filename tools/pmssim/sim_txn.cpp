// GalaVu, Galaxy and HTNG from the PMS side: frames with the LRC over text
// and ETX, each acknowledged; VER/ERR answers with the interface's ids, LOOK
// answered from the hotel, DISP and MSGR as multi-record answers, INIT
// answered VER (GalaVu) or DBST (Galaxy, HTNG), and guest records for the
// operator's events under ids of our own (S900-S999).
#include <cstdlib>
#include <string>

#include "sim_log.h"
#include "sim_protocol.h"
#include "vendors/common/control_bytes.h"
#include "vendors/common/stx_frame.h"

namespace {

enum class Flavour { GalaVu, Galaxy, Htng };

std::string pad(std::string s, size_t n) {
    s.resize(n, ' ');
    return s;
}

// YYMMDD of the hotel file as "YYYY-MM-DD".
std::string isoDate(const std::string& yymmdd) {
    if (yymmdd.size() != 6) return "";
    return "20" + yymmdd.substr(0, 2) + "-" + yymmdd.substr(2, 2) + "-" + yymmdd.substr(4, 2);
}

class TxnPms : public SimProtocol {
public:
    TxnPms(SimContext& ctx, Flavour f) : ctx_(ctx), f_(f), dec_(rules()) {}

    static FrameRules rules() { return FrameRules{.lrc = true, .lrc_covers_etx = true, .lf_as_lrc = false, .cr_as_lrc = false}; }

    void connected() override {
        dec_.reset();
        up_ = false;
    }
    void disconnected() override {
        if (up_) sim_note("link down");
        up_ = false;
    }
    void received(const std::string& bytes) override {
        for (char c : bytes) {
            switch (dec_.feed(c)) {
                case StxDecoder::Event::Frame: {
                    std::string rec(dec_.body());
                    // A posting the PMS does not take is not acknowledged either:
                    // the interface sends it again rather than wait for an answer.
                    if (rec.size() >= 12 && rec.compare(8, 4, "POST") == 0 && ctx_.fault(SimPoint::Posting)) {
                        sim_log(SimDir::Received, rec);
                        break;
                    }
                    ctx_.write(std::string(1, ctl::ACK));
                    sim_log(SimDir::Received, rec);
                    handle(rec);
                    break;
                }
                case StxDecoder::Event::BadLrc: ctx_.write(std::string(1, ctl::NAK)); break;
                default: break;
            }
        }
    }
    void tick() override {}
    bool linkUp() const override { return up_; }

    void send(const SimEvent& ev) override {
        switch (ev.kind) {
            case SimEventKind::CheckIn: sendRecord(checkin(ev.guest, "CHKI")); break;
            case SimEventKind::GuestChange: sendRecord(checkin(ev.guest, f_ == Flavour::GalaVu ? "NAME" : "CHKM")); break;
            case SimEventKind::CheckOut: sendRecord(checkout(ev.guest, ev.only_guest)); break;
            case SimEventKind::RoomMove:
                if (f_ == Flavour::GalaVu) {
                    SimGuest old;
                    old.room = ev.old_room;
                    sendRecord(checkout(old, false));
                    sendRecord(checkin(ev.guest, "CHKI"));
                } else if (f_ == Flavour::Galaxy) {
                    sendRecord(own() + "CMOV" + pad(ev.guest.room, 6) + pad(ev.old_room, 6) + pad(ev.guest.number, 10));
                } else {
                    sendRecord(own() + "CMOV" + pad(ev.guest.room, 16) + pad(ev.old_room, 16) + pad(ev.guest.number, 64));
                }
                break;
            case SimEventKind::Resync:
                if (f_ != Flavour::GalaVu) sendRecord(own() + "DBST");
                for (const auto& g : ctx_.hotel().guests()) sendRecord(checkin(g, "CHKI"));
                if (f_ != Flavour::GalaVu) sendRecord(own() + "DBED");
                break;
            case SimEventKind::LinkStart: sendRecord(own() + "STRT"); break;
            case SimEventKind::LinkEnd: sendRecord(own() + "XXXX"); break;
            case SimEventKind::Drop: ctx_.transport().hangUp(*this); break;
            case SimEventKind::Raw: sendRecord(ev.raw); break;
            default: sim_note("not part of this protocol"); break;
        }
    }

private:
    std::string own() {
        id_ = id_ >= 999 ? 900 : id_ + 1;
        return "S" + std::to_string(id_) + "9999";
    }

    void sendRecord(const std::string& rec) {
        sim_log(SimDir::Sent, rec);
        ctx_.write(stx_encode(rec, rules()));
    }

    void reply(const std::string& rec, const std::string& verb) { sendRecord(rec.substr(0, 4) + "9999" + verb); }

    std::string checkin(const SimGuest& g, const char* verb) {
        if (f_ == Flavour::GalaVu) {
            if (std::string(verb) == "NAME")
                return own() + "NAME" + pad(g.room, 6) + pad(g.number, 6) + pad(g.first + " " + g.last, 20);
            return own() + (g.no_post ? "CHKC" : "CHKI") + pad(g.room, 6);
        }
        if (f_ == Flavour::Galaxy) {
            std::string r = own() + verb + pad(g.room, 6) + pad(g.number, 10) + pad(g.last + ", " + g.first, 20) +
                            (g.no_post ? "N" : "Y") + "1" + "  " + pad(isoDate(g.arrival), 10) + "14:00" +
                            pad(isoDate(g.departure), 10) + "11:00" + pad(g.vip, 2);
            return std::string(verb) == "CHKM" ? r + "    " : r + "      ";
        }
        return own() + verb + pad(g.room, 16) + pad(g.number, 64) + pad(g.last + "|" + g.first, 128) + pad(g.group, 64) +
               (g.no_post ? "Y" : "N") + pad(isoDate(g.arrival) + " 14:00", 16) +
               pad(isoDate(g.departure) + " 11:00", 16) + g.language;
    }

    std::string checkout(const SimGuest& g, bool only_guest) {
        std::string number = only_guest ? g.number : "0";
        if (f_ == Flavour::GalaVu) return own() + "CHKO" + pad(g.room, 6);
        if (f_ == Flavour::Galaxy) return own() + "CHKO" + pad(g.room, 6) + pad(number, 10);
        return own() + "CHKO" + pad(g.room, 16) + pad(only_guest ? g.number : "", 64);
    }

    void handle(const std::string& rec) {
        if (rec.size() < 12) return;
        const std::string verb = rec.substr(8, 4);
        ctx_.recordSeen(verb);
        const std::string room = rec.size() >= 18 ? rec.substr(12, 6) : "";
        std::string r = room;
        while (!r.empty() && r.back() == ' ') r.pop_back();
        if (verb == "VER " || verb == "ERR ") return;
        if (verb == "STRT") {
            up_ = true;
            sim_note("link up");
            reply(rec, "VER ");
        } else if (verb == "INIT") {
            if (f_ == Flavour::GalaVu) {
                reply(rec, "VER ");
            } else {
                reply(rec, "DBST");
                for (const auto& g : ctx_.hotel().guests()) sendRecord(checkin(g, "CHKI"));
                sendRecord(own() + "DBED");
            }
        } else if (verb == "LOOK") {
            auto guests = ctx_.hotel().inRoom(r);
            if (guests.empty()) return reply(rec, "ERR 03");
            for (size_t i = 0; i < guests.size(); ++i) {
                const SimGuest& g = *guests[i];
                std::string seq = i + 1 == guests.size() ? "9999" : "0001";
                sendRecord(rec.substr(0, 4) + seq + "NAME" + room +
                           (f_ == Flavour::GalaVu ? pad(g.number, 6) + pad(g.first + " " + g.last, 20)
                                                  : pad(g.number, 10) + pad(g.last + ", " + g.first, 20)));
            }
        } else if (verb == "DISP" || verb == "MSGR") {
            SimGuest* g = ctx_.hotel().find(r, "");
            if (!g) return reply(rec, "ERR 03");
            const std::string id = rec.substr(0, 4);
            if (verb == "DISP") {
                sendRecord(id + "0001NAME" + g->first + " " + g->last);
                for (const auto& item : g->folio)
                    sendRecord(id + "0001ITEM" + pad(item.description, 20) + std::to_string(item.amount));
                char bal[16];
                snprintf(bal, sizeof bal, "%08.2f", static_cast<double>(g->balance()) / 100.0);
                sendRecord(id + "9999BAL " + bal);
            } else {
                if (g->messages.empty()) return reply(rec, "ERR 11");
                for (size_t i = 0; i < g->messages.size(); ++i)
                    sendRecord(id + (i + 1 == g->messages.size() ? "9999" : "0001") + "MTXT" + g->messages[i].text);
            }
        } else if (verb == "POST") {
            if (ctx_.hotel().inRoom(r).empty()) return reply(rec, "ERR 03");
            const std::string cents = rec.size() >= 7 ? rec.substr(rec.size() - 7) : "?";
            sim_note("posted %s cents to room %s", cents.c_str(), r.c_str());
            ctx_.taken(r, std::strtol(cents.c_str(), nullptr, 10));
            if (ctx_.fault(SimPoint::Taken)) return;
            reply(rec, "VER ");
            ctx_.fault(SimPoint::Answered);
        } else {
            reply(rec, "VER ");
        }
    }

    SimContext& ctx_;
    Flavour f_;
    StxDecoder dec_;
    bool up_ = false;
    int id_ = 899;
};

}  // namespace

std::unique_ptr<SimProtocol> sim_make_galavu(SimContext& ctx) { return std::make_unique<TxnPms>(ctx, Flavour::GalaVu); }
std::unique_ptr<SimProtocol> sim_make_galaxy(SimContext& ctx) { return std::make_unique<TxnPms>(ctx, Flavour::Galaxy); }
std::unique_ptr<SimProtocol> sim_make_htng(SimContext& ctx) { return std::make_unique<TxnPms>(ctx, Flavour::Htng); }
