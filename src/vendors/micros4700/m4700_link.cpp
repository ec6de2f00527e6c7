#include "vendors/micros4700/m4700_link.h"

#include "link.h"
#include "platform/log.h"
#include "vendors/common/control_bytes.h"
#include "vendors/micros4700/m4700_codec.h"

static constexpr char kLogSrc[] = "vendors/Micros4700";

namespace {

constexpr int kSends = 3;

bool micros4700_write_byte(char byte) { return link_write(std::string_view(&byte, 1)) == 1; }

}  // namespace

M4700State& m4700_state() {
    static M4700State state;
    return state;
}

int micros4700_read_msg_timeout(const M4700State& st, std::string& msg) {
    msg.clear();
    VLOG_DEBUG(4, 0, "Enter micros4700_read_msg_timeout...");
    for (;;) {
        std::string b;
        const int n = link_read_nbytes_timeout(b, 1, st.timeout);
        if (n < 0) {
            VLOG_ERRNO(0, "micros4700_read_msg_timeout");
            return -1;
        }
        if (n == 0 || b.empty()) return 0;
        const char c = b[0];
        if (c == ctl::ENQ) {
            if (!micros4700_write_byte(ctl::ACK)) {
                VLOG_ERROR(0, "micros4700_read_msg_timeout: Unable to respond to PMS ENQ");
                return -1;
            }
            continue;
        }
        if (c == ctl::EOT) {
            VLOG_DEBUG(4, 0, "micros4700_read_msg_timeout: received EOT, not sure what happened");
            return -1;
        }
        if (c == ctl::SOH) break;
        VLOG_ERROR(0, "micros4700_read_msg_timeout: Unexpected byte found during read - '%c', int('%d')", c, c);
        return -1;
    }
    std::string rest;
    const int n = link_read_delims_timeout(std::string_view("\x04", 1), st.timeout, rest);
    if (n < 0) {
        VLOG_DEBUG(4, 0, "micros4700_read_msg_timeout: Error reading the rest of transmisson");
        VLOG_ERRNO(0, "micros4700_read_msg_timeout");
        return -1;
    }
    if (n == 0 || rest.empty() || rest.back() != ctl::EOT) {
        VLOG_DEBUG(4, 0, "micros4700_read_msg_timeout: Time out reading the rest of transmisson");
        return 0;
    }
    micros4700_write_byte(ctl::ACK);
    rest.pop_back();
    msg = std::move(rest);
    return static_cast<int>(msg.size());
}

bool micros4700_write_msg(const M4700State& st, std::string_view text) {
    const std::string framed = m4700::encode(text);
    for (int attempt = 0; attempt < kSends; ++attempt) {
        link_write(framed);
        std::string b;
        const int n = link_read_nbytes_timeout(b, 1, st.timeout);
        if (n < 0) {
            VLOG_DEBUG(4, 0, "micros4700_write_msg: Error while checking for ACK/NAK");
            return false;
        }
        if (n == 0 || b.empty()) {
            VLOG_DEBUG(4, 0, "micros4700_write_msg: Timeout receiving response");
            continue;
        }
        switch (b[0]) {
            case ctl::ACK:
                VLOG_DEBUG(4, 0, "micros4700_write_msg: ACK received, return 1");
                return true;
            case ctl::NAK:
                VLOG_DEBUG(4, 0, "micros4700_write_msg: NACK received, continue");
                break;
            case ctl::EOT:
                VLOG_WARN(0, "micros4700_write_msg: EOT received, message block aborted.");
                return false;
            default:
                break;
        }
    }
    return false;
}
