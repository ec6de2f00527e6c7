#include "vendors/fias/fias_post.h"
#include "vendors/fias/fias_settings.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "config.h"
#include "db.h"
#include "platform/log.h"
#include "scan.h"
#include "start_dir.h"
#include "utils/strutils.h"
#include "vendors/common/field_check.h"
#include "vendors/fias/fias_frame.h"
#include "vendors/fias/fias_link.h"

static constexpr char kLogSrc[] = "vendors/fias/fias_post";

namespace {

constexpr int kVipCodes = 10;
constexpr const char* kNoWorkstation = "000000000000";

std::string workstation_of(const PMSPostInfo& post) {
    if (post.mac.empty()) return kNoWorkstation;
    std::string ws = post.mac.substr(0, 17);
    strRemoveColonsFromMAC(ws);
    return ws;
}

// True when every value may go into a record; otherwise logs which field of
// `what` (a charge row, an inquiry) cannot, so that nothing is sent.
bool values_sendable(const FiasValues& values, const std::string& what) {
    for (const auto& [tag, value] : values) {
        if (const char* why = pms_field_refusal(value)) {
            VLOG_ERROR(0, "Refusing %s: field %s cannot be sent to the PMS, %s", what.c_str(), tag.c_str(), why);
            return false;
        }
    }
    return true;
}

std::optional<std::string> body_from(const FiasLayout& layout, FiasValues values, const std::string& da,
                                     const std::string& ti) {
    values["DA"] = da;
    values["TI"] = ti;
    return fias_build_body(layout, values);
}

}  // namespace

std::string fias_departure_offset() {
    auto off = setting_text(kSetDepartureOffset);
    if (!off || off->size() < 6) return "000000";
    return *off;
}

bool fias_take_guest_field(FiasGuestFields& g, const FiasField& f) {
    const std::string& t = f.tag;
    if (t == "RN") g.room = f.value;
    else if (t == "G#") g.guest_no = f.value;
    else if (t == "GN") g.last = f.value;
    else if (t == "GF") g.first = f.value;
    else if (t == "GV") g.vip = f.value;
    else if (t == "GL") g.language = f.value;
    else if (t == "GG") g.group = f.value;
    else if (t == "GA") g.arrival = f.value;
    else if (t == "GD") g.departure = f.value;
    else if (t == "DA") g.da = f.value;
    else if (t == "TI") g.ti = f.value;
    else if (t == "NP") g.no_post = f.value;
    else if (t == "RF") g.resort_fee = f.value;
    else return fias_take_user_string(g.user, f);
    return true;
}

bool fias_storable(std::initializer_list<std::pair<const char*, const std::string*>> fields, std::string_view what) {
    for (const auto& [tag, value] : fields)
        if (!db_text_storable(*value, tag, what)) return false;
    return true;
}

std::optional<PmsGuest> fias_guest_row(const FiasGuestFields& g) {
    // A text the database cannot take would be stored empty, or fail the
    // insert after the guest was already checked out: refuse the record.
    if (!fias_storable({{"RN", &g.room}, {"G#", &g.guest_no}, {"GN", &g.last}, {"GF", &g.first}, {"GV", &g.vip},
                        {"GL", &g.language}, {"GG", &g.group}, {"NP", &g.no_post},
                        {"RF", &g.resort_fee}},
                       "guest record"))
        return std::nullopt;
    for (size_t i = 0; i < g.user.text.size(); ++i) {
        const std::string tag = "A" + std::to_string(i);
        if (!db_text_storable(g.user.text[i], tag.c_str(), "guest record")) return std::nullopt;
    }
    PmsGuest row;
    std::string off = fias_departure_offset();
    if (off != "000000") VLOG_DEBUG(3, 0, "Using departure time offset of: %s", off.c_str());
    if (!fias_pms_to_db_datetime(row.arrival, g.arrival, "000000") ||
        !fias_pms_to_db_datetime(row.departure, g.departure, off) ||
        !fias_pms_to_db_datetime(row.created, g.da, g.ti)) {
        VLOG_ERROR(0, "Error converting date/time values from the PMS to local datebase values!");
        return std::nullopt;
    }
    row.room = g.room;
    row.guest_no = g.guest_no;
    row.first = g.first;
    row.last = g.last;
    row.vip = g.vip;
    row.language = g.language;
    row.group = g.group;
    row.no_post = g.no_post;
    row.resort_fee = g.resort_fee;
    row.user = g.user.text;
    row.user_count = g.user.last_index;
    return row;
}

bool fias_load_vip_table(FiasVendor& v) {
    std::string path = pms_path_from_start(setting_text(kSetVipFile).value_or(kFiasDefaultVipFile));
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        int err = errno;
        VLOG_ERROR_TEXT(v.p.vip_open_error, path.c_str());
        VLOG_ERROR(0, "%s", strerror(err));
        return false;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    std::string text = ss.str();
    if (!text.empty() && text.back() == '\n') text.pop_back();
    // Every line counts, empty ones included.
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        size_t nl = text.find('\n', start);
        lines.push_back(text.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
        if (nl == std::string::npos) break;
        start = nl + 1;
    }
    if (text.empty()) lines.clear();
    if (static_cast<int>(lines.size()) != kVipCodes) {
        VLOG_ERROR(0, "Incorrect number of VIP codes found (expected %d, got %d)", kVipCodes,
                   static_cast<int>(lines.size()));
        return false;
    }
    std::array<float, 10> table;
    table.fill(100.0f);
    for (int i = 1; i <= kVipCodes; ++i) {
        int code = 0;
        float value = 0;
        if (std::sscanf(lines[i - 1].c_str(), "%d %f", &code, &value) < 2) {
            VLOG_ERROR(0, "Parse error in VIP code config file %s:%d", path.c_str(), i);
            return false;
        }
        if (code < 1 || code > kVipCodes) {
            VLOG_ERROR(0, "Invalid VIP code %d in VIP code config file %s:%d", code, path.c_str(), i);
            return false;
        }
        if (value < 0 || value > 100) {
            VLOG_ERROR(0, "Invalid item value %d in VIP code config file %s:%d (Must be 0-100 inclusive)",
                       static_cast<int>(value), path.c_str(), i);
            return false;
        }
        table[code - 1] = value;
    }
    v.s.vip = table;
    v.s.vip_loaded = true;
    return true;
}

namespace {

// What a record we sent is known by, to tell its answer from a stray one.
struct Sent {
    std::string seq;       // P#
    std::string room;      // RN or PI
    std::string guest_no;  // G#, "" when the record named none
};

// True when an answer's P# is the number we sent. An answer without P# is
// ours unless it names another room or another guest number: a stray
// "PA|ASOK|RN999|" must not mark this posting done.
bool answers_sent(const FiasRecord& rec, const Sent& sent) {
    auto got = rec.get("P#");
    if (!got || got->empty()) {
        auto rn = rec.get("RN");
        if (rn && !rn->empty() && *rn != sent.room) return false;
        auto gn = rec.get("G#");
        return !gn || gn->empty() || sent.guest_no.empty() || *gn == sent.guest_no;
    }
    char* end = nullptr;
    long n = strtol(got->c_str(), &end, 10);
    if (end == got->c_str() || *end != '\0') return *got == sent.seq;
    return std::to_string(n) == sent.seq;
}

}  // namespace

bool fias_take_late_answer(FiasVendor& v, const FiasRecord& rec) {
    if (!v.s.unanswered || rec.type != "PA") return false;
    // Only a numbered answer can be told apart from one to a later posting.
    auto got = rec.get("P#");
    if (!got || got->empty()) return false;
    char* end = nullptr;
    const long n = strtol(got->c_str(), &end, 10);
    if (end == got->c_str() || *end != '\0' || std::to_string(n) != v.s.unanswered->seq) return false;
    const PMSPostInfo post = std::move(v.s.unanswered->post);
    v.s.unanswered.reset();
    auto as = rec.get("AS");
    if (!as || *as != "OK") {
        VLOG_WARN(0, "Late answer to the posting of charge seq[%ld] (P# %s): %s; not posted",
                  static_cast<long>(post.db_seqno), got->c_str(), as ? as->c_str() : "no status");
        return true;
    }
    VLOG_WARN(0, "Late answer to the posting of charge seq[%ld] (P# %s): OK; the PMS took it, marked posted",
              static_cast<long>(post.db_seqno), got->c_str());
    pms_charge_taken(post);
    return true;
}

namespace {

// Sends a posting-side record numbered `seq` after draining pending input and
// waits for one of `types`; nullopt with `error` set when nothing usable came
// back.
std::optional<FiasRecord> send_and_await(FiasVendor& v, const std::string& frame, const Sent& sent,
                                         const std::string& op, const char* what,
                                         std::initializer_list<std::string_view> types, std::string& error,
                                         bool* unanswered = nullptr) {
    fias_drain(v, op, what);
    if (!fias_write_frame(v, frame)) {
        VLOG_ERROR(0, "Unable to send post message!");
        error = "Unable to send post message!";
        return std::nullopt;
    }
    std::string answer;
    for (;;) {
        if (!fias_await(v, types, answer)) {
            VLOG_ERROR(0, "%s", v.p.no_answer_text);
            error = v.p.no_answer_text;
            if (unanswered) *unanswered = true;
            return std::nullopt;
        }
        auto rec = fias_parse(answer);
        if (!rec) {
            VLOG_ERROR(0, "%s", v.p.bad_answer_text);
            error = v.p.bad_answer_text;
            return rec;
        }
        // A late answer to an earlier record whose wait ran out: its status
        // is not this record's.
        if (answers_sent(*rec, sent)) return rec;
        if (fias_take_late_answer(v, *rec)) continue;
        if (rec->has("P#"))
            VLOG_WARN(0, "%s: answer '%s' is for P# %s, not %s; ignored", op.c_str(), answer.c_str(),
                      rec->text("P#").c_str(), sent.seq.c_str());
        else
            VLOG_WARN(0, "%s: answer '%s' is for another room or guest, not room %s; ignored", op.c_str(),
                      answer.c_str(), sent.room.c_str());
    }
}

// The guest of a charge for a vendor that looks in the charge, then at the
// room's last occupant, then asks the PMS. "" posts to no guest; nullopt
// (with `error` set) posts nothing.
std::optional<std::string> charge_guest(FiasVendor& v, const PMSPostInfo& post, const std::string& ws,
                                        const std::string& op, std::string& error) {
    std::string guest = post.guest_no;
    if (guest.empty()) {
        VLOG_DEBUG(3, 0, "%s, calling db_get_last_occupant with %s", op.c_str(), post.room.c_str());
        guest = db_get_last_occupant(post.room).value_or("");
    }
    if (guest.empty() && v.s.post_inquiry && !v.s.use_ps_post) {
        FiasInquiryResult inq;
        if (fias_send_post_inquiry(v, post.room, ws, inq, error, false) != ReqResult::Ok) {
            VLOG_ERROR(0, "%s: PI request failed", op.c_str());
            return std::nullopt;
        }
        guest = inq.guest_no.value_or("");
    }
    if (!guest.empty()) return guest;
    if (v.s.post_null_guest || v.s.use_ps_post) {
        VLOG_INFO("Unable to find occupancy information for room '%s', posting anyway", post.room.c_str());
        return guest;
    }
    error = strFormat("Unable to find occupancy information for room '%s', not posting", post.room.c_str());
    VLOG_ERROR(0, "%s", error.c_str());
    return std::nullopt;
}

}  // namespace

ReqResult fias_send_post_inquiry(FiasVendor& v, const std::string& room, const std::string& workstation,
                           FiasInquiryResult& out, std::string& error, bool update) {
    const char* pre = v.p.prefix;
    out = {};
    FiasValues values{{"PI", room}, {"WS", workstation}, {"P#", std::to_string(db_get_message_seq_no() % 10000)}};
    if (!values_sendable(values, strFormat("posting inquiry P# %s", values["P#"].c_str()))) {
        error = "Invalid parameter data for the PMS";
        return ReqResult::Failed;
    }
    auto frame = fias_stamped_frame(
        v, time(nullptr),
        [&](const std::string& da, const std::string& ti) { return body_from(v.p.inquiry, values, da, ti); },
        v.p.bad_lrc_text);
    if (!frame) {
        error = "Memory allocation error";
        return ReqResult::Failed;
    }
    auto rec = send_and_await(v, *frame, {values["P#"], room, ""}, strFormat("%s_vendor_send_post_inquiry", pre), "send PI",
                              {"PL", "PA"}, error);
    if (!rec) return ReqResult::Failed;
    if (rec->type == "PA") {
        std::string as = rec->text("AS"), ct = rec->text("CT");
        VLOG_ERROR(0, "Got a PA for PI for room %s, %s - %s", room.c_str(), as.c_str(), ct.c_str());
        error = strFormat("PA from PI for room %s, %s - %s", room.c_str(), as.c_str(), ct.c_str());
        fias_note_record(v, "PA");
        return ReqResult::Failed;
    }

    FiasGuestFields g;
    // DA and TI date the whole record: take them before the walk, so that a
    // PMS writing them after the guests still closes every guest.
    g.da = rec->text("DA");
    g.ti = rec->text("TI");
    bool have_name = false;  // a GN since the last guest was closed
    bool any_closed = false;
    std::vector<PmsGuest> rows;
    auto close_guest = [&]() -> bool {
        auto row = fias_guest_row(g);
        if (!row) return false;
        row->room = room;
        rows.push_back(std::move(*row));
        if (!any_closed) {
            if (!g.guest_no.empty()) out.guest_no = g.guest_no;
            out.last_name = g.last;
            if (!g.vip.empty()) out.vip = g.vip;
        }
        any_closed = true;
        g.last.clear();
        have_name = false;
        return true;
    };
    const char* bad_dates = "Error converting date/time values from the PMS to local datebase values!";
    // A list with a guest it cannot date is garbled: the room's guests stay
    // as they are rather than being checked out for it.
    for (const auto& f : rec->fields) {
        if (f.tag == "RN") {
            if (have_name && !close_guest()) {
                error = bad_dates;
                return ReqResult::Failed;
            }
            continue;
        }
        if (f.tag == "GN") have_name = true;
        if (f.tag == "GT" || (f.tag == "RF" && !v.p.reads_resort_fee)) continue;
        fias_take_guest_field(g, f);
    }
    // The end of the record closes the last guest (a PL naming nobody
    // fails on its missing dates: the room has no guest to post to).
    if ((have_name || !any_closed) && !close_guest()) {
        if (update && !have_name && !any_closed) db_pms_guests_mark_room_stale(room, 0);
        error = bad_dates;
        return ReqResult::Failed;
    }
    if (update) {
        db_pms_guests_mark_room_stale(room, 0);
        for (const auto& row : rows)
            if (!db_pms_guests_add(row)) VLOG_ERROR(0, "Error inserting guest record for room %s", room.c_str());
    }
    fias_note_record(v, "PL");
    VLOG_DEBUG(3, 0, "%s_vendor_send_post_inquiry: GN '%s', GV '%s'", pre,
               out.last_name ? out.last_name->c_str() : "(null)", out.vip ? out.vip->c_str() : "(null)");
    return ReqResult::Ok;
}

ReqResult fias_handle_post_charge(FiasVendor& v, const PMSPostInfo& post, std::string& error) {
    const char* pre = v.p.prefix;
    const std::string op = strFormat("%s_handle_post_charge", pre);
    if (v.p.night_audit_holds_posting && v.s.night_audit) {
        // Not marked: the charge is offered again once the PMS sends NE.
        VLOG_DEBUG(3, 0, "%s: night audit mode, not posting", op.c_str());
        error = "PMS is in night audit mode";
        return ReqResult::Failed;
    }
    time_t when = static_cast<time_t>(post.start_time);
    std::string da, ti;
    if (post.start_time < 1 || !fias_date_time(when, da, ti)) {
        error = "DB reported invalid date";
        return ReqResult::Failed;
    }
    // A charge whose texts would add fields or split the frame is not sent;
    // it stays unposted.
    const std::string row = strFormat("charge row %lld", static_cast<long long>(post.db_seqno));
    if (!values_sendable({{"RN", post.room}, {"CT", post.mac}, {"G#", post.guest_no}, {"DD", post.dialed_digits}},
                         row)) {
        error = "Invalid parameter data for the PMS";
        return ReqResult::Failed;
    }
    if (const char* why = pms_amount_refusal(post.charge)) {
        VLOG_ERROR(0, "Refusing %s: field TA cannot be sent to the PMS, %s", row.c_str(), why);
        error = "Invalid parameter data for the PMS";
        return ReqResult::Failed;
    }
    std::string ws = workstation_of(post);

    std::string guest_no, guest_name;
    bool discounted = true;
    if (v.p.guest_from_charge_or_occupant) {
        auto guest = charge_guest(v, post, ws, op, error);
        if (!guest) return ReqResult::Failed;
        guest_no = *guest;
        // Without a guest the charge goes out as it stands.
        discounted = !guest_no.empty();
    }
    // Under the setting-and-no-guest rule a charge that names its guest
    // needs no inquiry.
    const bool inquire = v.s.post_inquiry && (v.p.inquiry_rule != FiasInquiryRule::SettingAndNoGuest ||
                                              post.guest_no.empty());
    if (!v.s.use_ps_post && !v.p.post_ps_always && inquire && !v.p.guest_from_charge_or_occupant) {
        FiasInquiryResult inq;
        if (fias_send_post_inquiry(v, post.room, ws, inq, error, false) != ReqResult::Ok) {
            VLOG_ERROR(0, "%s: PI request failed", op.c_str());
            return ReqResult::Failed;
        }
        guest_no = inq.guest_no.value_or("");
        guest_name = inq.last_name.value_or("");
        if (!post.guest_no.empty()) {
            if (auto name = db_get_guest_name(post.guest_no)) {
                guest_no = post.guest_no;
                guest_name = *name;
            }
        }
    }

    float amount = post.charge;
    int vip_code = 0;
    std::string vip_guest = guest_no;  // whose code gives the discount
    if (setting_number(kSetVip) != 0 && discounted) {
        if (vip_guest.empty() && v.p.vip_by_room_guest) {
            auto current = db_room_guest_numbers(post.room, "", v.s.psi_no);
            if (current && !current->empty()) vip_guest = current->front();
        }
        auto status = db_get_guest_vip_status(post.room, vip_guest);
        double pct = 100;
        if (status) {
            vip_code = static_cast<int>(strtol(status->c_str(), nullptr, 10));
            if (vip_code >= 1 && vip_code <= 10) pct = v.s.vip[vip_code - 1];
        }
        amount = static_cast<float>(pct * post.charge / 100.0);
        VLOG_DEBUG(3, 0, "Calculated new charge of %.02f from %.02f using the VIP code of %s", amount, post.charge,
                   status ? status->c_str() : "(null)");
        VLOG_DEBUG(3, 0, "vip enabled, %f becomes %f", post.charge, amount);
    } else if (!discounted) {
        VLOG_DEBUG(3, 0, "no guest, %f stays %f", post.charge, amount);
    } else {
        VLOG_DEBUG(3, 0, "vip disabled, %f stays %f", post.charge, amount);
    }

    FiasValues values{{"G#", guest_no},
                      {"GN", guest_name},
                      {"RN", post.room},
                      {"TA", strFormat("%.00f", amount * 100.0)},
                      {"WS", ws},
                      {"DD", post.dialed_digits},
                      {"DU", std::to_string(post.duration)},
                      {"CT", post.mac},
                      {"P#", v.p.post_seq_is_row ? std::to_string(post.db_seqno)
                                                 : std::to_string(db_get_message_seq_no() % 10000)}};
    if (!values_sendable(values, row)) {
        error = "Invalid parameter data for the PMS";
        return ReqResult::Failed;
    }
    const FiasLayout& layout = v.p.post_ps_always           ? v.p.post_ps_text
                               : !v.s.use_ps_post            ? v.p.post_pr
                               : !post.dialed_digits.empty() ? v.p.post_ps_digits
                                                             : v.p.post_ps_text;
    auto frame = fias_stamped_frame(
        v, when, [&](const std::string& d, const std::string& t) { return body_from(layout, values, d, t); },
        v.p.bad_lrc_text);
    if (!frame) {
        error = "Memory allocation error";
        return ReqResult::Failed;
    }

    bool unanswered = false;
    auto rec = send_and_await(v, *frame, {values["P#"], post.room, guest_no}, op, "send PR or PS", {"PA"}, error,
                              &unanswered);
    if (!rec) {
        if (unanswered) v.s.unanswered = FiasLatePosting{values["P#"], post};
        return ReqResult::Failed;
    }
    fias_note_record(v, "PA");
    auto as = rec->get("AS");

    if (as && *as == "OK") {
        float discount = post.charge - amount;
        if (discount > 0) {
            VLOG_DEBUG(3, 0, "Adding %.02f to the PMS slush fund (room='%s', guest='%s', vip_code=%d)", discount,
                       post.room.c_str(), vip_guest.c_str(), vip_code);
            // The PMS has booked the charge: whatever happens to the discount
            // row, the posting stands, or the next scan would post it twice.
            if (!db_add_discount(post.room, vip_guest, vip_code, discount))
                VLOG_ERROR(0, "Unable to add client discount info to database");
        } else {
            VLOG_DEBUG(3, 0, "Refusing to add negligible amount to slush fund (pms_discounts)");
        }
        return ReqResult::Ok;
    }
    if (as && *as == "UR" && post.charge == 0 && v.p.ur_zero_charge_ok) {
        VLOG_DEBUG(3, 0, "%s: special case, UR response to zero charge, considered a successful post", op.c_str());
        return ReqResult::Ok;
    }
    // A PA without AS carries no status: it is not a successful posting.
    std::string status = as.value_or("");
    VLOG_ERROR(0, "Post was unsuccessful: %s", status.c_str());
    for (const FiasRefusal& r : v.p.refusals) {
        if (status != r.status) continue;
        if (!db_mark_posted(post, r.posted_flag))
            VLOG_ERROR(0, "Unable to mark refused charge seq[%ld]", static_cast<long>(post.db_seqno));
        break;
    }
    error = strFormat("PMS returned unsuccessful post response: %s", status.c_str());
    return ReqResult::Failed;
}
