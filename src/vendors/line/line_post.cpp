// Posting a charge (POST) and authorising a guest (CONF, or comparing the
// names a LOOK returns), each answered with VER or ERR.
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "db.h"
#include "platform/log.h"
#include "utils/strutils.h"
#include "vendors/common/guest_match.h"
#include "vendors/line/line_core.h"

static constexpr char kLogSrc[] = "vendors/line/line_post";

namespace {

constexpr size_t kMaxAuthNames = 7;

bool is_record(const std::string& rec, std::string_view code) { return rec.compare(0, code.size(), code) == 0; }

// Sends one request record in a turn of its own; false (logged, in `reply`)
// when the line could not be won or the record not delivered.
bool send_request(LineVendor& v, const std::string& rec, const char* bid_fail, const char* send_fail,
                  std::string& reply) {
    if (!line_bid(v)) {
        VLOG_ERROR(0, "%s", bid_fail);
        strAppendFmt(reply, "%s", bid_fail);
        return false;
    }
    if (!line_write_msg(v, rec)) {
        VLOG_ERROR(0, "%s", send_fail);
        strAppendFmt(reply, "%s", send_fail);
        line_eot(v);
        return false;
    }
    line_eot(v);
    return true;
}

// The next VER, ERR or (when `names`) NAME answer; records of the PMS's own
// that come first are handled at once. False when nothing came in time.
bool await_answer(LineVendor& v, std::string& rec, int first_wait, bool names) {
    int wait = first_wait;
    for (;;) {
        if (line_read_msg_timeout(v, rec, wait) <= 0) return false;
        if (is_record(rec, "VER") || is_record(rec, "ERR") || (names && is_record(rec, "NAME"))) return true;
        vendor_handle_data(rec);
        wait = kLineReadWait;
    }
}

void no_answer(std::string& reply, const char* text) {
    VLOG_ERROR(0, "%s", text);
    strAppendFmt(reply, "%s", text);
}

}  // namespace

std::optional<std::string> line_post_record(const LineProfile& p, const PMSPostInfo& post) {
    const float hundredths = post.charge * 100.0f;
    const std::string amount = std::isfinite(hundredths) ? strFormat("%.0f", static_cast<double>(hundredths)) : "";
    VLOG_DEBUG(4, 0, "POST float amount '%f' string amount '%s'", static_cast<double>(post.charge), amount.c_str());
    // A room or amount cut to its field would charge another room or another sum.
    if (!line_room_fits(post.room)) {
        VLOG_ERROR(0, "Charge %ld not posted: room '%s' does not fit the POST record", static_cast<long>(post.db_seqno),
                   post.room.c_str());
        return std::nullopt;
    }
    if (amount.empty() || amount.size() > kLineAmountWidth) {
        VLOG_ERROR(0, "Charge %ld not posted: amount %f does not fit the POST record", static_cast<long>(post.db_seqno),
                   static_cast<double>(post.charge));
        return std::nullopt;
    }
    const LinePostClass cls = p.post_class(post.wired_flag);
    const std::string rec =
        strFormat("POST%6s%s%s%s%11s", post.room.c_str(), "     0", cls.type.c_str(), cls.klass.c_str(), amount.c_str());
    VLOG_DEBUG(4, 0, "charging amount %s to room %s", amount.c_str(), post.room.c_str());
    VLOG_DEBUG(4, 0, "Post String '%s'", rec.c_str());
    return rec;
}

PostOutcome line_post_charge(LineVendor& v, const PMSPostInfo& post, std::string& reply) {
    VLOG_DEBUG(4, 0, "entering %s_handle_post_charge charge = %f", v.p.prefix, static_cast<double>(post.charge));
    const std::optional<std::string> rec = line_post_record(v.p, post);
    if (!rec) {
        strAppendFmt(reply, "Charge does not fit the POST record");
        return PostOutcome::Failed;
    }
    if (!send_request(v, *rec, "Unable to send ENQ for post message!", "Unable to send post message!", reply))
        return PostOutcome::Failed;

    std::string ans;
    if (!await_answer(v, ans, kLineReadWait, false)) {
        no_answer(reply, "Did not receive response from PMS");
        return PostOutcome::Failed;
    }
    VLOG_DEBUG(3, 0, "After post received '%s'", ans.c_str());
    if (is_record(ans, "VER")) return PostOutcome::Posted;

    VLOG_ERROR(0, "Post was unsuccessful: %s", ans.c_str());
    const int code = line_parse_error(ans, reply);
    strAppendFmt(reply, "PMS returned unsuccessful post response: %s", ans.c_str());
    if (code == 3 || code == 4 || code == 5) {
        VLOG_ERROR(0, "Post was unsuccessful but will be marked as posted %s of return code '%d'", v.p.because_word,
                   code);
        VLOG_ERROR(0, "Charge %ld of %0.2f to room %s refused by the PMS with ERR %d; marked posted, not billed",
                   static_cast<long>(post.db_seqno), static_cast<double>(post.charge), post.room.c_str(), code);
        return PostOutcome::Settled;
    }
    return PostOutcome::Failed;
}

namespace {

// The compare length of an authorisation mode, or nullopt when the mode is
// not a number.
std::optional<size_t> compare_length(const std::string& mode) {
    if (mode.empty() || mode.size() > 4) return std::nullopt;
    size_t n = 0;
    for (char c : mode) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + static_cast<size_t>(c - '0');
    }
    return n == 2 ? 20 : n;
}

ReqResult authorize_by_conf(LineVendor& v, const std::string& room, const std::string& first,
                            const std::string& last, std::string& reply) {
    VLOG_DEBUG(4, 0, "Sending Conf with %s, %s, %s", room.c_str(), first.c_str(), last.c_str());
    const std::string rec = strFormat("CONF%6s%4.4s%4.4s", room.c_str(), first.c_str(), last.c_str());
    VLOG_DEBUG(4, 0, "Sending Conf '%s'", rec.c_str());
    if (!send_request(v, rec, "Unable to send ENQ authorization request!", "Unable to send authorization request!",
                      reply))
        return ReqResult::Failed;
    std::string ans;
    if (!await_answer(v, ans, kLineReadWait, false)) {
        no_answer(reply, "Did not receive response from PMS");
        return ReqResult::Failed;
    }
    VLOG_DEBUG(4, 0, "Conf received '%s'", ans.c_str());
    if (is_record(ans, "VER")) return ReqResult::Ok;
    VLOG_ERROR(0, "Authorization was unsuccessful: %s", ans.c_str());
    line_parse_error(ans, reply);
    strAppendFmt(reply, " PMS returned unsuccessful authorization response: %s", ans.c_str());
    return ReqResult::Failed;
}

ReqResult authorize_by_name(LineVendor& v, const std::string& room, const std::string& first,
                            const std::string& last, size_t len, std::string& reply) {
    VLOG_DEBUG(4, 0, "Sending Look for room %s", room.c_str());
    const std::string rec = strFormat("LOOK%6s", room.c_str());
    VLOG_DEBUG(4, 0, "Sending Look '%s'", rec.c_str());
    if (!send_request(v, rec, "Unable to send ENQ authorization request!", "Unable to send authorization request!",
                      reply))
        return ReqResult::Failed;
    std::string ans;
    if (!await_answer(v, ans, v.p.auth_look_wait, true)) {
        no_answer(reply, v.p.auth_look_silence);
        return ReqResult::Failed;
    }
    VLOG_DEBUG(3, 0, "After Look received '%s'", ans.c_str());
    VLOG_DEBUG(4, 0, "Attempting auth for name '%s %s' in room '%s', len '%zu'", first.c_str(), last.c_str(),
               room.c_str(), len);
    if (!is_record(ans, "NAME")) {
        VLOG_ERROR(0, "Look was unsuccessful: %s", ans.c_str());
        line_parse_error(ans, reply);
        strAppendFmt(reply, "PMS returned unsuccessful Look response: %s", ans.c_str());
        VLOG_ERROR(0, "%s", reply.c_str());
        return ReqResult::Failed;
    }
    VLOG_DEBUG(4, 0, "Comparing names up to %zu characters for room '%s'", len, room.c_str());
    const GuestNameRules rules{.hash_any_first = false, .xxxx_any_name = true, .xxxx_any_case = false,
                               .last_xxxx_needs_first = true, .compare_len = len};
    const bool first_any = guest_name_is_wildcard(first);
    bool matched = false;
    for (size_t seen = 0; seen < kMaxAuthNames; ++seen) {
        if (!is_record(ans, "NAME")) {
            VLOG_ERROR(0, "Invalid response: resp %s", ans.c_str());
        } else if (!matched) {
            VLOG_DEBUG(4, 0, "response is [%s]", ans.c_str());
            const std::string name = strTrimRight(ans.size() > 22 ? ans.substr(22, 20) : "").value_or("");
            VLOG_DEBUG(4, 0, "name is [%s]", name.c_str());
            VLOG_DEBUG(4, 0, "Received pms name '%s' for room '%s'", name.c_str(), room.c_str());
            const std::vector<std::string> f = strSplit(name, "/");
            if (f.empty()) {
                VLOG_ERROR(0, "Splitting of '%s' failed", name.c_str());
            } else {
                const std::string& pms_last = f[0];
                // Comparing both names needs the PMS's first name.
                const bool has_first = f.size() > 1;
                matched = (first_any || has_first) &&
                          guest_name_matches(rules, first, last, has_first ? f[1] : "", pms_last);
                VLOG_DEBUG(4, 0, "%s for cgi first '%s', pms first '%s', and cgi last '%s', pms last '%s'",
                           matched ? "Success" : "Failure", first.c_str(), has_first ? f[1].c_str() : "",
                           last.c_str(), pms_last.c_str());
            }
        }
        if (line_read_msg_timeout(v, ans, kLineReadWait) <= 0) break;
    }
    if (matched) return ReqResult::Ok;
    VLOG_ERROR(0, "Got an EOT before we got a match???");
    strAppendFmt(reply, "No match found");
    return ReqResult::Failed;
}

}  // namespace

ReqResult line_authorize(LineVendor& v, const std::string& room, const std::string& data, std::string& reply) {
    VLOG_DEBUG(4, 0, "entering %s_handle_authorize()", v.p.prefix);
    if (room.empty() || data.empty()) {
        VLOG_ERROR(0, "Null parameter info.");
        strAppendFmt(reply, "Null parameter info.");
        return ReqResult::Failed;
    }
    const std::vector<std::string> f = strSplit(data, "^");
    if (f.size() != 3) {
        VLOG_ERROR(0, "Incorrect arguments passed. '%s', '%i'", data.c_str(), static_cast<int>(f.size()));
        strAppendFmt(reply, "Incorrect arguments passed. '%s', '%i'", data.c_str(), static_cast<int>(f.size()));
        return ReqResult::Failed;
    }
    if (!line_room_fits(room)) {
        VLOG_ERROR(0, "Room '%s' does not fit the request record", room.c_str());
        strAppendFmt(reply, "Room '%s' does not fit the request record", room.c_str());
        return ReqResult::Failed;
    }
    const std::string& first = f[0];
    const std::string& last = f[1];
    const std::string& mode = f[2];
    for (const std::string& field : f)
        for (char c : field)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
                VLOG_ERROR(0, "Incorrect arguments passed. '%s', '%i'", data.c_str(), static_cast<int>(f.size()));
                strAppendFmt(reply, "Incorrect arguments passed: control characters");
                return ReqResult::Failed;
            }
    if (!mode.empty() && mode[0] == '1') return authorize_by_conf(v, room, first, last, reply);
    // A mode that is not a number would otherwise compare nothing and match anyone.
    const std::optional<size_t> len = compare_length(mode);
    if (!len) {
        VLOG_ERROR(0, "Invalid compare length '%s'", mode.c_str());
        strAppendFmt(reply, "Invalid compare length '%s'", mode.c_str());
        return ReqResult::Failed;
    }
    return authorize_by_name(v, room, first, last, *len, reply);
}
