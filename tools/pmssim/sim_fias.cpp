// The FIAS protocol from the PMS side: frames (with LRC and ACK/NAK on the
// serial line, on TCP too for HN MUX; ACK/NAK without LRC everywhere for
// Regal), the link start exchange, answers to the interface's requests and the unprompted guest records of operator events.
#include <chrono>
#include <deque>
#include <optional>
#include <string>

#include "sim_log.h"
#include "sim_protocol.h"
#include "sim_words.h"
#include "vendor.h"
#include "vendors/common/control_bytes.h"
#include "vendors/fias/fias_record.h"

namespace {

using Clock = std::chrono::steady_clock;

using ctl::ACK, ctl::ENQ, ctl::ETX, ctl::NAK, ctl::STX;
constexpr auto kAckWait = std::chrono::milliseconds(2000);
constexpr int kMaxSends = 4;  // a frame goes out at most this often
constexpr int kMaxEnquiries = 3;
// After the interface opens the serial line it sets its line settings;
// a link start sent in that moment could be flushed away.
constexpr auto kSerialGrace = std::chrono::milliseconds(1000);
constexpr auto kLsRepeat = std::chrono::seconds(10);  // an unanswered LS is sent again (serial line)

std::string stamp(const char* tag_da = "DA", const char* tag_ti = "TI") {
    std::string da, ti;
    fias_date_time(time(nullptr), da, ti);
    return std::string(tag_da) + da + "|" + tag_ti + ti + "|";
}

std::string dateOf(time_t when) {
    std::string da, ti;
    fias_date_time(when, da, ti);
    return "DA" + da + "|TI" + ti + "|";
}

// Guest fields shared by GI, GC and PL.
std::string guestFields(const SimGuest& g) {
    std::string out = "G#" + g.number + "|GN" + g.last + "|GF" + g.first + "|";
    if (!g.title.empty()) out += "GT" + g.title + "|";
    out += "GV" + g.vip + "|GL" + g.language + "|GG" + g.group + "|GA" + g.arrival + "|GD" + g.departure +
           "|NP" + (g.no_post ? "1" : "0") + "|";
    return out;
}

// TA: a whole number of hundredths.
std::optional<long> hundredths(const std::string& text) {
    if (text.empty() || text.size() > 12) return std::nullopt;
    long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

// Where the FIAS PMSs differ on the wire.
struct FiasFlavour {
    bool lrc = true;               // frames on the serial line carry an LRC
    bool acks_everywhere = false;  // ACK/NAK on every link type, not only serial
    bool describes = true;         // the interface describes the link (LD ... LA) before it is up
    bool serial_rules_everywhere = false;  // LRC and ACK/NAK on TCP too, as on the serial line
};

class FiasPms : public SimProtocol {
public:
    FiasPms(SimContext& ctx, FiasFlavour flavour)
        : ctx_(ctx),
          flavour_(flavour),
          serial_(ctx.transport().serial() || flavour.acks_everywhere || flavour.serial_rules_everywhere),
          lrc_((ctx.transport().serial() || flavour.serial_rules_everywhere) && flavour.lrc),
          line_(ctx.transport().serial()) {}

    void connected() override {
        reset();
        start_at_ = Clock::now() + (line_ ? kSerialGrace : std::chrono::milliseconds(200));
    }

    void disconnected() override {
        if (link_up_) sim_note("link down");
        reset();
    }

    void received(const std::string& bytes) override {
        for (char c : bytes) serial_ ? serialByte(c) : tcpByte(c);
    }

    void tick() override {
        if (start_at_ && Clock::now() >= *start_at_) {
            start_at_.reset();
            sendRecord("LS|" + stamp());
            if (line_) repeat_ls_at_ = Clock::now() + kLsRepeat;
        }
        // On a serial line an LS can go unheard (the interface was waiting
        // for an ACK of its own): a PMS asks again until the link is described.
        if (repeat_ls_at_ && Clock::now() >= *repeat_ls_at_) {
            if (link_up_ || ended_ || !ctx_.transport().connected()) {
                repeat_ls_at_.reset();
            } else if (!describing_ && !in_flight_ && queue_.empty()) {
                sim_note("no link description since the LS: link start again");
                sendRecord("LS|" + stamp());
                repeat_ls_at_ = Clock::now() + kLsRepeat;
            }
        }
        if (in_flight_ && Clock::now() >= deadline_) ackTimedOut();
    }

    bool linkUp() const override { return link_up_; }

    void send(const SimEvent& ev) override {
        switch (ev.kind) {
            case SimEventKind::CheckIn: sendRecord("GI|RN" + ev.guest.room + "|" + guestFields(ev.guest) + stamp()); break;
            case SimEventKind::CheckOut: {
                std::string body = "GO|RN" + ev.guest.room + "|";
                if (ev.only_guest) body += "G#" + ev.guest.number + "|GSY|";
                sendRecord(body + stamp());
                break;
            }
            case SimEventKind::GuestChange:
                sendRecord("GC|RN" + ev.guest.room + "|" + guestFields(ev.guest) + stamp());
                break;
            case SimEventKind::RoomMove:
                sendRecord("GC|RN" + ev.guest.room + "|RO" + ev.old_room + "|" + guestFields(ev.guest) + stamp());
                break;
            case SimEventKind::Message:
                sendRecord("XL|RN" + ev.guest.room + "|G#" + ev.guest.number + "|MI" + ev.message.id + "|MT" +
                           ev.message.text + "|" + stamp());
                break;
            case SimEventKind::FolioUpdate:
                sendRecord("XO|RN" + ev.guest.room + "|G#" + ev.guest.number + "|BD" + ev.item.description + "|BI" +
                           std::to_string(ev.item.amount) + "|BA" + std::to_string(ev.guest.balance()) + "|" +
                           stamp());
                break;
            case SimEventKind::NightAuditStart:
                night_audit_ = true;
                sendRecord("NS|" + stamp());
                break;
            case SimEventKind::NightAuditEnd:
                night_audit_ = false;
                sendRecord("NE|" + stamp());
                break;
            case SimEventKind::Resync: resync(); break;
            case SimEventKind::Drop:
                // A serial line cannot be cut from this side; a link end makes
                // the interface close and reopen it all the same.
                if (!ctx_.transport().hangUp(*this)) sendRecord("LE|" + stamp());
                break;
            case SimEventKind::LinkStart: sendRecord("LS|" + stamp()); break;
            case SimEventKind::LinkEnd:
                sendRecord("LE|" + stamp());
                link_up_ = false;
                break;
            case SimEventKind::Raw: sendRecord(ev.raw); break;
        }
    }

private:
    void reset() {
        in_frame_ = false;
        want_lrc_ = false;
        frame_.clear();
        queue_.clear();
        in_flight_.reset();
        start_at_.reset();
        repeat_ls_at_.reset();
        link_up_ = false;
        describing_ = false;
        night_audit_ = false;
        ended_ = false;
        last_answer_ = NAK;
    }

    // Without a link description the link is up at the first exchange.
    void exchanged() {
        if (flavour_.describes || link_up_ || ended_) return;
        link_up_ = true;
        sim_note("link up (no link description)");
    }

    // ---- framing ----

    // A frame longer than any FIAS record is noise: dropped.
    static constexpr size_t kMaxFrame = 64 * 1024;

    void tcpByte(char c) {
        if (c == STX) {
            in_frame_ = true;
            frame_.clear();
        } else if (!in_frame_) {
            // Bytes between frames mean nothing on TCP.
        } else if (c == ETX) {
            in_frame_ = false;
            handle(frame_);
        } else if (frame_.size() < kMaxFrame) {
            frame_ += c;
        } else {
            sim_note("frame longer than %zu bytes dropped", kMaxFrame);
            in_frame_ = false;
        }
    }

    void serialByte(char c) {
        if (want_lrc_) {
            want_lrc_ = false;
            int lrc = vendor_calc_lrc(frame_ + ETX);
            if (static_cast<unsigned char>(c) == lrc) {
                // The trace shows the frame, then the ACK that answers it.
                sim_log(SimDir::Received, frame_);
                writeControl(ACK);
                process(frame_);
            } else {
                sim_log(SimDir::Received, frame_);
                sim_note("bad LRC %02X (expected %02X), frame refused", static_cast<unsigned char>(c), lrc);
                writeControl(NAK);
            }
            return;
        }
        if (in_frame_) {
            if (c == ETX && !lrc_) {
                in_frame_ = false;
                sim_log(SimDir::Received, frame_);
                writeControl(ACK);
                process(frame_);
            } else if (c == ETX) {
                in_frame_ = false;
                want_lrc_ = true;
            } else if (c == STX) {
                frame_.clear();
            } else if (frame_.size() < kMaxFrame) {
                frame_ += c;
            } else {
                sim_note("frame longer than %zu bytes dropped", kMaxFrame);
                in_frame_ = false;
            }
            return;
        }
        switch (c) {
            case STX:
                in_frame_ = true;
                frame_.clear();
                break;
            case ACK:
                sim_log(SimDir::Received, std::string(1, c));
                if (in_flight_) {
                    in_flight_.reset();
                    exchanged();
                    pump();
                }
                break;
            case NAK:
                sim_log(SimDir::Received, std::string(1, c));
                if (in_flight_) resend();
                break;
            case ENQ:
                sim_log(SimDir::Received, std::string(1, c));
                writeControl(last_answer_);
                break;
            default:
                sim_log(SimDir::Received, std::string(1, c));
                break;
        }
    }

    void writeControl(char c) {
        if (c == ACK || c == NAK) last_answer_ = c;
        sim_log(SimDir::Sent, std::string(1, c));
        ctx_.write(std::string(1, c));
    }

    std::string frameOf(const std::string& body) const {
        std::string f;
        f += STX;
        f += body;
        f += ETX;
        if (lrc_) f += static_cast<char>(vendor_calc_lrc(body + ETX));
        return f;
    }

    void sendRecord(const std::string& body) {
        if (!ctx_.transport().connected()) {
            sim_note("not connected, not sent: %s", body.c_str());
            return;
        }
        if (!serial_) {
            sim_log(SimDir::Sent, body);
            if (!ctx_.write(frameOf(body))) sim_note("write failed");
            return;
        }
        queue_.push_back(body);
        pump();
    }

    // Serial line: one frame at a time, each waits for its ACK.
    void pump() {
        if (in_flight_ || queue_.empty()) return;
        in_flight_ = queue_.front();
        queue_.pop_front();
        sends_ = 0;
        resend();
    }

    void resend() {
        if (++sends_ > kMaxSends) {
            sim_note("no ACK after %d sends, giving up: %s", kMaxSends, in_flight_->c_str());
            in_flight_.reset();
            pump();
            return;
        }
        enquiries_ = 0;
        sim_log(SimDir::Sent, *in_flight_);
        ctx_.write(frameOf(*in_flight_));
        deadline_ = Clock::now() + kAckWait;
    }

    void ackTimedOut() {
        if (++enquiries_ > kMaxEnquiries) {
            resend();
            return;
        }
        writeControl(ENQ);
        deadline_ = Clock::now() + kAckWait;
    }

    // ---- records from the interface ----

    void handle(const std::string& body) {
        sim_log(SimDir::Received, body);
        process(body);
    }

    void process(const std::string& body) {
        auto rec = fias_parse(body);
        if (!rec) {
            sim_note("not a record");
            return;
        }
        ctx_.recordSeen(rec->type);
        const std::string& t = rec->type;
        if (t == "LS") ended_ = false;
        if (t == "LE") ended_ = true;
        exchanged();
        if (t == "LS") {
            sendRecord("LA|" + stamp());
        } else if (t == "LD") {
            describing_ = true;
            link_records_ = 0;
        } else if (t == "LR") {
            ++link_records_;
        } else if (t == "LA") {
            if (describing_) {
                describing_ = false;
                sendRecord("LA|" + stamp());
                link_up_ = true;
                sim_note("link up (%d link records)", link_records_);
            } else if (link_up_) {
                sendRecord("LA|" + stamp());  // a keep-alive
            }
        } else if (t == "LE") {
            sendRecord("LA|" + stamp());
            link_up_ = false;
            sim_note("the interface ended the link");
        } else if (t == "PR" && rec->has("PI")) {
            postingInquiry(*rec);
        } else if (t == "PR" || t == "PS") {
            posting(*rec);
        } else if (t == "XR") {
            folio(*rec);
        } else if (t == "XM") {
            messages(*rec);
        } else if (t == "XD") {
            deleteMessage(*rec);
        } else if (t == "XC") {
            checkOut(*rec);
        } else if (t == "DR") {
            resync();
        } else if (t == "RE") {
            sim_note("room %s equipment status %s", rec->text("RN").c_str(), rec->text("RS").c_str());
        } else {
            sim_note("record %s not handled", t.c_str());
        }
    }

    // The answer's P# field: the request's number, or nothing for a vendor
    // whose records carry none.
    static std::string seqField(const FiasRecord& rec) { return rec.has("P#") ? "P#" + rec.text("P#") + "|" : ""; }

    void postingInquiry(const FiasRecord& rec) {
        if (ctx_.fault(SimPoint::Inquiry)) return;
        std::string room = rec.text("PI");
        std::string seq = seqField(rec);
        auto guests = ctx_.hotel().inRoom(room);
        if (guests.empty()) {
            sendRecord("PA|" + seq + "ASNG|CTGuest not found|RN" + room + "|" + stamp());
            return;
        }
        // Date and time first, in the order the link description asks for:
        // the interface closes each guest at the next RN and needs them then.
        std::string body = "PL|" + seq + stamp();
        for (SimGuest* g : guests) body += "RN" + room + "|" + guestFields(*g);
        sendRecord(body);
    }

    void posting(const FiasRecord& rec) {
        if (ctx_.fault(SimPoint::Posting)) return;
        if (night_audit_) sim_note("a posting during night audit");
        std::string room = rec.text("RN");
        std::string number = rec.text("G#");
        std::string answer = "PA|" + seqField(rec);
        std::string tail = "RN" + room + "|" + stamp();
        SimGuest* g = ctx_.hotel().find(room, number);
        auto amount = hundredths(rec.text("TA"));
        if (auto refusal = ctx_.hotel().refusal(room)) {
            sendRecord(answer + "AS" + refusal->status + "|CT" + refusal->text + "|" + tail);
        } else if (!g) {
            sendRecord(answer + "ASNG|CTGuest not found|" + tail);
        } else if (g->no_post) {
            sendRecord(answer + "ASNP|CTNo post allowed|" + tail);
        } else if (!amount) {
            sendRecord(answer + "ASUR|CTInvalid amount|" + tail);
        } else {
            std::string what = rec.has("CT") && !rec.text("CT").empty() ? "Internet " + rec.text("CT") : "Internet";
            time_t when = rec.has("DA") ? fias_pms_to_time(rec.text("DA"), rec.get("TI")) : time(nullptr);
            g->folio.push_back({what, *amount, when});
            sim_note("posted %s to room %s guest %s, balance %s", sim_format_amount(*amount).c_str(), room.c_str(),
                     g->number.c_str(), sim_format_amount(g->balance()).c_str());
            ctx_.taken(room, *amount);
            if (ctx_.fault(SimPoint::Taken)) return;
            sendRecord(answer + "ASOK|CTPosting accepted|" + tail);
            ctx_.fault(SimPoint::Answered);
        }
    }

    void folio(const FiasRecord& rec) {
        std::string room = rec.text("RN");
        std::string number = rec.text("G#");
        SimGuest* g = ctx_.hotel().find(room, number);
        long balance = 0;
        if (g) {
            for (const auto& item : g->folio) {
                sendRecord("XI|BD" + item.description + "|BI" + std::to_string(item.amount) + "|DCIN|G#" + g->number +
                           "|RN" + room + "|" + dateOf(item.when) + "F#1|FDY|");
            }
            balance = g->balance();
        }
        sendRecord("XB|BA" + std::to_string(balance) + "|G#" + number + "|RN" + room + "|" + stamp());
    }

    void messages(const FiasRecord& rec) {
        std::string room = rec.text("RN");
        std::string number = rec.text("G#");
        SimGuest* g = ctx_.hotel().find(room, number);
        if (!g || g->messages.empty()) {
            // An answer without a message id: nothing is waiting.
            sendRecord("XT|G#" + number + "|RN" + room + "|" + stamp());
            return;
        }
        for (const auto& m : g->messages)
            sendRecord("XT|G#" + g->number + "|MI" + m.id + "|MT" + m.text + "|RN" + room + "|" + dateOf(m.when));
    }

    void deleteMessage(const FiasRecord& rec) {
        std::string room = rec.text("RN");
        std::string number = rec.text("G#");
        std::string id = rec.text("MI");
        bool found = false;
        if (SimGuest* g = ctx_.hotel().find(room, number)) {
            for (auto it = g->messages.begin(); it != g->messages.end(); ++it) {
                if (it->id == id) {
                    g->messages.erase(it);
                    found = true;
                    break;
                }
            }
        }
        sendRecord("XD|MI" + id + "|RN" + room + "|G#" + number + "|AS" + (found ? "OK" : "NG") + "|" + stamp());
    }

    void checkOut(const FiasRecord& rec) {
        std::string room = rec.text("RN");
        std::string number = rec.text("G#");
        SimGuest* g = ctx_.hotel().find(room, number);
        if (!g || number.empty()) {
            sendRecord("XC|RN" + room + "|G#" + number + "|ASNG|" + stamp());
            return;
        }
        sendRecord("XC|RN" + room + "|G#" + number + "|ASOK|" + stamp());
        ctx_.hotel().checkOut(room, number);
        bool others = !ctx_.hotel().inRoom(room).empty();
        sendRecord("GO|RN" + room + "|G#" + number + "|" + (others ? "GSY|" : "") + stamp());
    }

    void resync() {
        sendRecord("DS|" + stamp());
        for (const auto& g : ctx_.hotel().guests()) sendRecord("GI|RN" + g.room + "|" + guestFields(g) + "SF|" + stamp());
        sendRecord("DE|" + stamp());
    }

    SimContext& ctx_;
    FiasFlavour flavour_;
    bool serial_;  // ACK/NAK and one frame at a time
    bool lrc_;     // frames carry an LRC
    bool line_;    // a serial line
    bool night_audit_ = false;
    bool ended_ = false;  // the interface ended the link; its next LS starts it again
    // Incoming frame.
    bool in_frame_ = false;
    bool want_lrc_ = false;
    std::string frame_;
    char last_answer_ = NAK;
    // Outgoing frames on the serial line.
    std::deque<std::string> queue_;
    std::optional<std::string> in_flight_;
    int sends_ = 0;
    int enquiries_ = 0;
    Clock::time_point deadline_{};
    // Link life.
    std::optional<Clock::time_point> start_at_;
    std::optional<Clock::time_point> repeat_ls_at_;  // serial line: LS again if nothing describes the link
    bool describing_ = false;
    int link_records_ = 0;
    bool link_up_ = false;
};

}  // namespace

std::unique_ptr<SimProtocol> sim_make_fias(SimContext& ctx) { return std::make_unique<FiasPms>(ctx, FiasFlavour{}); }

std::unique_ptr<SimProtocol> sim_make_fias_hnmux(SimContext& ctx) {
    return std::make_unique<FiasPms>(ctx, FiasFlavour{.serial_rules_everywhere = true});
}

std::unique_ptr<SimProtocol> sim_make_regal(SimContext& ctx) {
    return std::make_unique<FiasPms>(ctx, FiasFlavour{.lrc = false, .acks_everywhere = true, .describes = false});
}
