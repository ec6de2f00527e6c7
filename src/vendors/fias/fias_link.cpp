#include "vendors/fias/fias_link.h"
#include "db_settings.h"
#include "vendors/fias/fias_settings.h"

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>

#include "config.h"
#include "io_gwy/server.h"
#include "link.h"
#include "platform/log.h"
#include "signals.h"
#include "state.h"
#include "utils/strutils.h"
#include "vendor.h"
#include "vendors/fias/fias_frame.h"
#include "vendors/fias/fias_post.h"
#include "vendors/fias/fias_record.h"

static constexpr char kLogSrc[] = "vendors/fias/fias_link";

namespace {

// The serial start waits this long for the PMS to fall silent, and this long
// after its own LS before collecting the answers.
constexpr int kSerialFlushSeconds = 30;
constexpr int kAfterLinkStartSeconds = 5;

std::optional<std::string> stamped_body(const char* type, time_t when) {
    std::string da, ti;
    if (!fias_date_time(when, da, ti)) return std::nullopt;
    return strFormat("%s|DA%s|TI%s|", type, da.c_str(), ti.c_str());
}

bool wanted(unsigned when, const FiasVendor& v, bool online_msgs, bool online_folio) {
    const FiasState& s = v.s;
    if ((when & kFiasUserStringsOn) && !s.user_strings) return false;
    if ((when & kFiasUserStringsOff) && s.user_strings) return false;
    if ((when & kFiasPsPostOn) && !s.use_ps_post) return false;
    if ((when & kFiasPsPostOff) && s.use_ps_post) return false;
    if ((when & kFiasOnlineMessages) && !online_msgs) return false;
    if ((when & kFiasOnlineFolio) && !online_folio) return false;
    if ((when & kFiasInquiryOn) && !s.post_inquiry) return false;
    if ((when & kFiasInquiryOff) && s.post_inquiry) return false;
    return true;
}

// Link start done by the PMS's LA: describe the link and take requests.
int started_by_la(FiasVendor& v, const std::string& la) {
    fias_cmd_linkalive(v, la);
    if (v.p.describes_link) fias_describe_link(v);
    svr_setReady();
    return 1;
}

// Sends LS, gives the PMS 5 seconds and starts the link from what came back:
// its LS, else its LA. Other records are dispatched with a warning that is
// tagged "(B)" after the 30-second serial drain.
int link_start_and_collect(FiasVendor& v, bool tagged) {
    VLOG_DEBUG(3, 0, "%s_vendor_init: pipe clean, run link start", v.p.prefix);
    fias_send_link_start(v);
    sleep(kAfterLinkStartSeconds);
    std::string rec;
    std::optional<std::string> ls, la;
    while (fias_read_response(v, rec) > 0) {
        if (fias_is_type(rec, "LS")) {
            ls = rec;
        } else if (fias_is_type(rec, "LA")) {
            la = rec;
        } else {
            if (tagged)
                VLOG_WARN(0, "%s", fmt_string(v.p.out_of_place_b, rec.c_str()).c_str());
            else
                VLOG_WARN(0, "Out-of-place message found.. trying to handle '%s'", rec.c_str());
            vendor_handle_data(rec);
        }
    }
    if (ls) return fias_cmd_start(v, *ls);
    if (la) return started_by_la(v, *la);
    return 0;
}

int serial_start(FiasVendor& v) {
    const char* pre = v.p.prefix;
    VLOG_DEBUG(3, 0, "%s_vendor_init: rs232, flush pipe for %d seconds", pre, kSerialFlushSeconds);
    std::string rec;
    for (;;) {
        int n = fias_read_msg(v, kSerialFlushSeconds, rec);
        if (n < 0) return 0;
        if (n == 0) break;
        VLOG_DEBUG(3, 0, "%s_vendor_init: msg on pipe [%s]", pre, rec.c_str());
        if (fias_is_type(rec, "LS")) {
            VLOG_DEBUG(3, 0, "%s_vendor_init: msg is LS, cmd start", pre);
            return fias_cmd_start(v, rec);
        }
        VLOG_WARN(0, "%s", fmt_string(v.p.out_of_place_a, rec.c_str()).c_str());
        vendor_handle_data(rec);
    }
    return link_start_and_collect(v, true);
}

// The drain-first start: what the PMS has sent is read with the short flush
// time-out rather than 30 seconds of listening, then LS goes out.
int drain_start(FiasVendor& v) {
    const char* pre = v.p.prefix;
    std::string rec;
    for (;;) {
        int n = fias_read_flush(v, rec);
        if (n < 0) return 0;
        if (n == 0) break;
        if (fias_is_type(rec, "LS")) return fias_cmd_start(v, rec);
        VLOG_INFO("%s_vendor_init - trying to start interface but found mesg on pipe '%s'", pre, rec.c_str());
        vendor_handle_data(rec);
        VLOG_DEBUG(4, 0, "%s_vendor_init: read flush start", pre);
    }
    return link_start_and_collect(v, false);
}

// The start of a vendor without a link description: drain, LS and one
// answer.
int ls_one_answer_start(FiasVendor& v) {
    const char* pre = v.p.prefix;
    std::string rec;
    VLOG_DEBUG(4, 0, "%s_vendor_init: read flush", pre);
    for (;;) {
        int n = fias_read_flush(v, rec);
        if (n < 0) return 0;
        if (n == 0) break;
        if (fias_is_type(rec, "LS")) return fias_cmd_start(v, rec);
        VLOG_INFO("%s_vendor_init - trying to init but found mesg on pipe '%s'", pre, rec.c_str());
        vendor_handle_data(rec);
        VLOG_DEBUG(4, 0, "%s_vendor_init: read flush", pre);
    }
    if (!fias_send_link_start(v)) return 0;
    int n = fias_read_response(v, rec);
    if (n < 0) return 0;
    if (n == 0) {
        VLOG_ERROR(0, "Error initializing PMS connection.. no response");
        return 0;
    }
    if (fias_is_type(rec, "LS")) return fias_cmd_start(v, rec);
    if (fias_is_type(rec, "LA")) return started_by_la(v, rec);
    VLOG_WARN(0, "Out-of-place message found.. expecting LS/LA");
    return 0;
}

}  // namespace

void fias_note_record(FiasVendor& v, const char* type) {
    v.s.last_rec_type = type;
    v.s.last_rec_time = time(nullptr);
}

bool fias_load_settings(FiasVendor& v) {
    if (!fias_load_vip_table(v)) return false;
    FiasState& s = v.s;
    const unsigned reads = v.p.reads;
    s.use_ps_post = (reads & kFiasReadsPsPost) && setting_flag(kSetUsePsPost);
    s.user_strings = setting_flag(kSetFiasUserStrings);
    s.retries = (reads & kFiasReadsMsgRetries)
                    ? static_cast<int>(config_get_number(kSetMsgRetries.key, v.p.default_retries))
                    : v.p.default_retries;
    s.psi_no = static_cast<int>(setting_number(kSetPsiNo));
    s.post_null_guest = (reads & kFiasReadsPostNullGuest) && setting_flag(kSetPostNullGuest);
    switch (v.p.inquiry_rule) {
        case FiasInquiryRule::Always: s.post_inquiry = true; break;
        case FiasInquiryRule::Never: s.post_inquiry = false; break;
        case FiasInquiryRule::SettingAndNoGuest:
            s.post_inquiry = (reads & kFiasReadsSendPostInquiry) && setting_flag(kSetSendPostInquiry);
            break;
    }
    if (v.p.settings_hook) return v.p.settings_hook(v);
    VLOG_DEBUG(3, 0, "%s_vendor_init with ps = '%d' and pi = '%d' and mr = '%d' and psi = '%d'", v.p.prefix,
               s.use_ps_post, s.post_inquiry, s.retries, s.psi_no);
    return true;
}

void fias_reset_link(FiasVendor& v) {
    // A resync the PMS began on an earlier link ended with that link: its DE
    // never comes, and a flag left at 1 would refuse every later resync.
    const bool resync_cut = v.s.dbswap_flag != 0;
    static_cast<FiasLinkState&>(v.s) = FiasLinkState{};
    if (resync_cut) v.s.dbswap_time = time(nullptr);
}

int fias_vendor_init(FiasVendor& v) {
    if (!fias_load_settings(v)) return 0;
    fias_reset_link(v);
    if (v.p.start == FiasStart::LsOneAnswer) return ls_one_answer_start(v);
    // The start follows the link type; a vendor that frames the serial way
    // on TCP too still starts a TCP link the TCP way.
    if (link_type() == LINK_TYPE_TCP) {
        const char* pre = v.p.prefix;
        std::string rec;
        VLOG_DEBUG(4, 0, "%s_vendor_init: read flush a", pre);
        int n = fias_read_flush(v, rec);
        if (n < 0) return 0;
        if (n > 0) {
            if (fias_is_type(rec, "LS")) {
                VLOG_INFO("%s_vendor_init - trying to init but we found an LS on the pipe '%s'", pre, rec.c_str());
                return fias_cmd_start(v, rec);
            }
            do {
                VLOG_INFO("%s_vendor_init - trying to init but found mesg on pipe '%s'", pre, rec.c_str());
                vendor_handle_data(rec);
                VLOG_DEBUG(4, 0, "%s_vendor_init: read flush b", pre);
            } while (fias_read_flush(v, rec) > 0);
            return v.p.start == FiasStart::DrainFirst ? drain_start(v) : serial_start(v);
        }
        if (!fias_send_link_start(v)) return 0;
        n = fias_read_response(v, rec);
        if (n < 0) return 0;
        if (n == 0) {
            VLOG_ERROR(0, "Error initializing PMS connection.. no response");
            return 0;
        }
        if (fias_is_type(rec, "LS")) return fias_cmd_start(v, rec);
        if (fias_is_type(rec, "LA")) return started_by_la(v, rec);
        VLOG_WARN(0, "Out-of-place message found.. expecting LS/LA");
        return 0;
    }
    return v.p.start == FiasStart::DrainFirst ? drain_start(v) : serial_start(v);
}

int fias_send_link_start(FiasVendor& v) {
    auto body = stamped_body("LS", time(nullptr));
    if (!body) {
        VLOG_ERROR(0, "Unable to retrieve current time values for Link Start message");
        return 0;
    }
    if (!fias_write_msg(v, *body)) {
        VLOG_ERROR(0, "Unable to send Link Start message");
        return 0;
    }
    return 1;
}

int fias_describe_link(FiasVendor& v) {
    const char* pre = v.p.prefix;
    const bool online = v.p.reads & kFiasReadsOnlineRequests;
    bool online_msgs = online && setting_flag(kSetOnlineMessages);
    bool online_folio = online && setting_flag(kSetOnlineFolio);
    std::vector<const char*> records;
    for (const auto& r : v.p.link_records)
        if (wanted(r.when, v, online_msgs, online_folio)) records.push_back(r.body);

    auto frame = fias_stamped_frame(
        v, time(nullptr),
        [](const std::string& da, const std::string& ti) -> std::optional<std::string> {
            return strFormat("LD|DA%s|IFWW|TI%s|V#%s|", da.c_str(), ti.c_str(), kVersion);
        },
        v.p.ld_bad_lrc_text);
    if (!frame) return 0;

    if (fias_serial_rules(v)) {
        std::string rec;
        VLOG_DEBUG(4, 0, "%s_describe_link: read flush aa", pre);
        while (fias_read_flush(v, rec) > 0) {
            VLOG_INFO("%s_describe_link - trying to send LD but found mesg on pipe '%s'", pre, rec.c_str());
            if (fias_keep_answer(v, rec)) continue;
            VLOG_DEBUG(3, 0, "%s_describe_link: throwing away [%s]", pre, rec.c_str());
            VLOG_DEBUG(4, 0, "%s_describe_link: read flush b", pre);
        }
    }
    if (!fias_write_frame(v, *frame)) {
        VLOG_ERROR(0, "sending link description failed");
        return 0;
    }
    for (const char* r : records) {
        if (!fias_write_msg(v, r)) {
            VLOG_ERROR(0, "Failed to send '%s'", r);
            return 0;
        }
    }
    auto la = stamped_body("LA", time(nullptr));
    if (!la || !fias_write_msg(v, *la)) return 0;

    std::string rec;
    int n = fias_read_response(v, rec);
    if (n < 0) return 0;
    if (n == 0) {
        VLOG_INFO("PMS has not indicated that it is ready");
        return 0;
    }
    if (fias_is_type(rec, "LA")) return fias_cmd_linkalive(v, rec);
    fias_keep_answer(v, rec);
    return 1;
}

int fias_cmd_start(FiasVendor& v, const std::string&) {
    if (v.p.describes_link && !fias_describe_link(v)) return 0;
    if (setting_flag(kSetAutoDbSwap)) fias_init_db(v);
    svr_setReady();
    return 1;
}

int fias_cmd_end(FiasVendor& v, const std::string&) {
    VLOG_INFO("%s PMS has halted connection, raising SIGPIPE to close link", v.p.pms_name);
    if (pms_raise_link_sigpipe() != 0) {
        VLOG_ERROR(0, "Failed to raise sigpipe, exiting");
        exit(1);
    }
    return 1;
}

int fias_cmd_linkalive(FiasVendor& v, const std::string&) {
    VLOG_INFO("%s PMS has started/resumed connection", v.p.pms_name);
    return 1;
}

int fias_cmd_db_resync(FiasVendor& v, const std::string&) {
    return fias_write_msg(v, "LR|RIDS|FLDATI|") && fias_write_msg(v, "LR|RIDE|FLDATI|") ? 1 : 0;
}

int fias_cmd_db_resync_start(FiasVendor& v, const std::string&) {
    v.s.dbswap_flag = 1;
    v.s.dbswap_time = time(nullptr);
    return 1;
}

int fias_cmd_db_resync_done(FiasVendor& v, const std::string&) {
    svr_setReady();
    VLOG_INFO("%s DB Resync has completed", v.p.pms_name);
    v.s.dbswap_flag = 0;
    v.s.dbswap_time = time(nullptr);
    return 1;
}

int fias_cmd_night_audit_start(FiasVendor& v, const std::string&) {
    v.s.night_audit = true;
    VLOG_INFO(
        "PMS has gone into Night Audit mode..  All incoming messages (from GWY) will be ignored until a NE (Night "
        "audit End) record is recieved from the PMS.");
    svr_setBusy();
    return 1;
}

int fias_cmd_night_audit_end(FiasVendor& v, const std::string&) {
    v.s.night_audit = false;
    VLOG_INFO("PMS has awoke from Night Audit mode.. Normal processing resumes");
    svr_setReady();
    return 1;
}

void fias_init_db(FiasVendor& v) {
    const char* pre = v.p.prefix;
    if (v.s.dbswap_flag == 1) {
        VLOG_ERROR(0, "%s_init_db(): Already in the middle of a db swap", pre);
        VLOG_DEBUG(3, 0, "%s_init_db(): setting ready status", pre);
        svr_setReady();
        return;
    }
    auto body = stamped_body("DR", time(nullptr));
    if (!body) {
        VLOG_ERROR(0, "Unable to convert current time to string format");
        return;
    }
    if (!fias_write_msg(v, *body)) {
        VLOG_ERROR(0, "Unable to send DB RESYNC message!");
        return;
    }
    std::string rec;
    if (fias_read_msg(v, static_cast<int>(setting_number(kSetDbInitTimeout)), rec) <= 0) {
        svr_setReady();
        VLOG_WARN(0, "PMS refused resync request.. Database may be out sync");
        return;
    }
    if (fias_is_type(rec, "DS")) {
        v.s.dbswap_flag = 1;
        v.s.dbswap_time = time(nullptr);
        return;
    }
    VLOG_ERROR(0, "Invalid PMS Record.. expecting DS, trying to handle it anyway '%s'", rec.c_str());
    vendor_handle_data(rec);
}

ReqResult fias_handle_db_swap(FiasVendor& v) {
    fias_init_db(v);
    return ReqResult::Ok;
}

namespace {

void count_unanswered_keepalive(FiasVendor& v) {
    const int limit = v.p.keepalive_timeout_limit;
    if (limit <= 0 || ++v.s.keepalive_timeouts <= limit) return;
    VLOG_ERROR(0, "%s_link_keep_alive - too man timeouts %d+, closing conn", v.p.prefix, limit);
    v.s.keepalive_timeouts = 0;
    link_close();
}

}  // namespace

int fias_keep_alive(FiasVendor& v) {
    const char* pre = v.p.prefix;
    const char* type = v.p.keepalive_type;
    const char* named = v.p.keepalive_log_type ? v.p.keepalive_log_type : type;
    if (link_type() == LINK_TYPE_RS232 && !v.p.keepalive_on_serial) {
        VLOG_DEBUG(4, 0, "%s_link_keep_alive: rs232, no keep alive required", pre);
        return 0;
    }
    auto body = stamped_body(type, time(nullptr));
    if (!body) return 0;
    // An unanswered keep-alive is not a link failure: neither the empty
    // drain before the LS nor the wait for its LA may add to the count that
    // closes the link, or a PMS that never answers LS would see a healthy
    // link closed every eleven cycles.
    const int failures_before = v.s.fail_count;
    if (fias_drain(v, strFormat("%s_link_keep_alive", pre), strFormat("send %s", type).c_str()) > 0) return 0;
    v.s.fail_count = std::min(v.s.fail_count, failures_before);
    // The keep-alive's own acknowledgement does not count as an answer, or
    // the unanswered count could never pass 1.
    const int unanswered = v.s.keepalive_timeouts;
    if (!fias_write_msg(v, *body)) return 0;
    v.s.keepalive_timeouts = unanswered;
    std::string rec;
    int n = fias_read_response(v, rec);
    if (n < 0) return 0;
    if (n == 0) {
        v.s.fail_count = std::min(v.s.fail_count, failures_before);
        VLOG_ERROR(0, "%s_link_keep_alive - timeout reading LA response", pre);
        count_unanswered_keepalive(v);
        return 0;
    }
    for (;;) {
        if (fias_is_type(rec, "LA")) {
            VLOG_DEBUG(3, 0, "%s_link_keep_alive - sent %s, got LA back", pre, named);
            fias_note_record(v, "LA");
            return 0;
        }
        v.s.keepalive_timeouts = 0;
        VLOG_DEBUG(3, 0, "%s_link_keep_alive - sent %s got back '%s'", pre, named, rec.c_str());
        vendor_handle_data(rec);
        n = fias_read_response(v, rec);
        if (n < 0) {
            VLOG_DEBUG(3, 0, "%s_link_keep_alive - error reading after non LA", pre);
            return 0;
        }
        if (n == 0) {
            VLOG_DEBUG(3, 0, "%s_link_keep_alive - timeout reading after non LA", pre);
            return 0;
        }
    }
}

std::optional<std::string> fias_parse_cmd(FiasVendor& v, const std::string& body) {
    auto type = fias_record_type(body);
    if (!type) {
        ++v.s.fail_count;
        VLOG_DEBUG(3, 0, "%s_vendor_parse_cmd unknown message, incrementing counter, now %d", v.p.prefix,
                   v.s.fail_count);
        return std::nullopt;
    }
    fias_note_record(v, type->c_str());
    return type;
}

void fias_handle_check_status(FiasVendor& v, std::optional<std::string>& status) {
    status = strFormat("%s^%ld", v.s.last_rec_type.c_str(), static_cast<long>(v.s.last_rec_time));
}

void fias_handle_check_db_swap_status(FiasVendor& v, std::optional<std::string>& status) {
    status = strFormat("%d|%ld", v.s.dbswap_flag, static_cast<long>(v.s.dbswap_time));
}

int fias_vendor_close(FiasVendor& v) {
    auto body = stamped_body("LE", time(nullptr));
    if (!body) {
        VLOG_ERROR(0, "Unable to retrieve current time values for Link End message");
        return 0;
    }
    if (!fias_write_msg(v, *body)) {
        VLOG_ERROR(0, "Unable to send Link End message");
        return 0;
    }
    std::string rec;
    fias_read_response(v, rec);
    v.s.vip_loaded = false;
    return 1;
}
