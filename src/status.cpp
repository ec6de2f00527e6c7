#include "status.h"

#include "config.h"
#include "settings_core.h"
#include "io_gwy/server.h"
#include "platform/log.h"
#include "state.h"
#include "utils/strutils.h"

static constexpr char kLogSrc[] = "status";

namespace {

std::string g_last_record;
time_t g_last_record_time = 0;

std::string localTime(time_t t) {
    if (t == 0) return "never";
    tm local{};
    localtime_r(&t, &local);
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

}  // namespace

void pms_status_note_record(std::string_view data) {
    // Reads of a byte or two are framing: STX, ACK, NAK, ENQ, an LRC byte.
    if (data.size() < 3) return;
    std::string shown;
    bool printable = false;
    for (char c : data) {
        if (shown.size() >= kRecordShown) break;
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) {
            // Framing bytes at either end say nothing; inside a record they show as dots.
            if (!shown.empty()) shown.push_back('.');
            continue;
        }
        shown.push_back(c);
        printable = true;
    }
    if (!printable) return;
    while (!shown.empty() && shown.back() == '.') shown.pop_back();
    g_last_record = std::move(shown);
    g_last_record_time = time(nullptr);
}

void pms_status_reset() {
    g_last_record.clear();
    g_last_record_time = 0;
}

bool pms_status_serve(int fd, const ServerMessage& msg) {
    int type = 0, subtype = 0;
    std::string data;
    if (!svr_parseMessage(msg, type, subtype, data)) return false;
    if (type != SVR_MSG_REQUEST || subtype != PMS_REQ_DAEMON_STATUS) return false;
    if (!data.empty()) {
        VLOG_ERROR(1000, "DAEMON_STATUS data must be null");
        svr_sendReply(fd, 2, "Invalid parameter data");
        return true;
    }
    VLOG_DEBUG(2, 1000, "DAEMON_STATUS request running");
    if (!svr_sendMessage(fd, svr_newMessage(SVR_MSG_ANSWER, PMS_REQ_DAEMON_STATUS, pms_status_answer(pms_status_now()))))
        VLOG_ERROR(1000, "DAEMON_STATUS: Unable to send the answer");
    return true;
}

PmsStatus pms_status_now() {
    PmsStatus s;
    s.vendor = setting_text(kSetVendor).value_or("");
    s.link_up = pms_fd_client > 0;
    s.ready = s.link_up && svr_isReady();
    s.last_record = g_last_record;
    s.last_record_time = g_last_record_time;
    s.last_post = g_last_post;
    return s;
}

std::string pms_status_answer(const PmsStatus& s) {
    return strFormat("vendor=%s\nlink=%s\nserver=%s\nrecord_time=%ld\nrecord=%s\nlast_post=%ld", s.vendor.c_str(),
                     s.link_up ? "up" : "down", s.ready ? "READY" : "BUSY", static_cast<long>(s.last_record_time),
                     s.last_record.c_str(), static_cast<long>(s.last_post));
}

std::string pms_status_line(const PmsStatus& s) {
    return strFormat("link %s, %s, %s, last posting %s", s.link_up ? "up" : "down",
                     s.vendor.empty() ? "no VENDOR" : s.vendor.c_str(), s.ready ? "READY" : "BUSY",
                     localTime(s.last_post).c_str());
}
