#include "vendors/jds/jds_link.h"

#include "config.h"
#include "link.h"
#include "platform/log.h"
#include "vendors/common/stx_frame.h"
#include "vendors/jds/jds_codec.h"
#include "vendors/jds/jds_settings.h"

static constexpr char kLogSrc[] = "vendors/JDS";

namespace {

// Records of another kind that a request lets through before it gives up
// waiting for its answer: a PMS that never stops talking cannot hold it.
constexpr int kMaxPassedOn = 100;

}  // namespace

JdsState& jds_state() {
    static JdsState state;
    return state;
}

void jds_write_link_resp(const JdsState& st, char code, std::string_view seq) {
    const std::string frame = jds::link_response(code, seq);
    const std::string shown = frame.substr(0, frame.size() - 1);
    VLOG_DEBUG(4, 0, "jds_write_link_resp: sending [%s]", shown.c_str());
    if (st.retries >= 1) link_write(frame);
}

int jds_read_msg_timeout(JdsState& st, int timeout, std::string& record) {
    record.clear();
    VLOG_DEBUG(4, 0, "jds_read_msg_timeout: start reading until we get an stx");
    StxReader reader(jds::kFrames);
    StxReader::Result r;
    for (;;) {
        r = reader.next(timeout);
        if (r == StxReader::Result::Control && reader.control() == ctl::ENQ) continue;
        break;
    }
    switch (r) {
        case StxReader::Result::Failed:
            if (reader.stage() == StxReader::Stage::Head)
                VLOG_ERROR(0, "jds_read_msg_timeout: Invalid data received");
            else
                VLOG_ERRNO(0, "jds_read_msg_timeout");
            return -1;
        case StxReader::Result::Timeout:
            if (reader.stage() == StxReader::Stage::Head) {
                VLOG_DEBUG(4, 0, "jds_read_msg_timeout: Timeout on read, retrying...");
                return -1;
            }
            if (reader.stage() == StxReader::Stage::Text)
                VLOG_DEBUG(4, 0, "jds_read_msg_timeout: timeout after stx");
            else
                VLOG_DEBUG(4, 0, "jds_read_msg_timeout: timeout for lrc");
            return 0;
        case StxReader::Result::Control:
            VLOG_ERROR(0, "jds_read_msg_timeout: PMS received unexpected link byte - [%c/%d]", reader.control(),
                       reader.control());
            return 0;
        case StxReader::Result::Overflow:
            return -1;
        case StxReader::Result::Frame:
        case StxReader::Result::BadLrc:
            break;
    }
    const std::string body(reader.body());
    const std::string seq = jds::received_seq(body);
    const int lrc = reader.expected_lrc();
    if (r == StxReader::Result::BadLrc) {
        VLOG_DEBUG(2, 0, "LRC = %d [%c] : %s", lrc, reader.lrc_received(), "INVALID");
        VLOG_DEBUG(2, 0, "jds_read_msg_timeout: LRC not matched, data might be corrupted, sending NACK to PMS");
        jds_write_link_resp(st, ctl::NAK, seq);
        return -1;
    }
    VLOG_DEBUG(2, 0, "LRC = %d [%c] : %s", lrc, reader.lrc_received(), "VERIFIED");
    VLOG_DEBUG(4, 0, "jds_read_msg_timeout: LRC match, sending ACK");
    jds_write_link_resp(st, ctl::ACK, seq);
    record = body;
    VLOG_DEBUG(4, 0, "jds_read_msg_timeout: return nbytes[%d], buffer[%s]", static_cast<int>(record.size()),
               record.c_str());
    return static_cast<int>(record.size());
}

int jds_read_msg(JdsState& st, std::string& record) {
    return jds_read_msg_timeout(st, static_cast<int>(setting_number(kSetJdsRead)), record);
}

void jds_read_msg_flush(JdsState& st) {
    VLOG_DEBUG(4, 0, "Entering jds_read_msg_flush()");
    std::string rec;
    int n = jds_read_msg_timeout(st, static_cast<int>(setting_number(kSetJdsFlush)), rec);
    while (n > 0) {
        VLOG_DEBUG(4, 0, "jds_read_msg_flush found msg [%s] of length [%d],attempting to handle", rec.c_str(), n);
        vendor_handle_data(rec);
        n = jds_read_msg(st, rec);
    }
}

namespace {

ReqResult jds_write_msg(JdsState& st, const std::string& body) {
    const std::string seq = jds::received_seq(body);
    VLOG_DEBUG(4, 0, "jds_write_msg: sending [%s], with seqno [%s]", body.c_str(), seq.c_str());
    const std::string frame = stx_encode(body, jds::kFrames);
    const char lrc = frame.back();
    VLOG_DEBUG(4, 0, "jds_write_msg: sending [%s], with lrc[%c/%d]", frame.c_str(), lrc,
               static_cast<unsigned char>(lrc));
    if (st.retries < 1) {
        VLOG_ERROR(0, "jds_write_msg: To many failed attempts during sending!");
        return ReqResult::Failed;
    }
    const int timeout = static_cast<int>(setting_number(kSetJdsAckWait));
    for (int attempt = 0; attempt < st.retries; ++attempt) {
        link_write(frame);
        std::string resp;
        int n = link_read_nbytes_timeout(resp, 8, timeout);
        if (n < 0) {
            VLOG_ERROR(0, "jds_write_message: Message sent, error reading");
            return ReqResult::Failed;
        }
        if (n == 0 || resp.size() != 8) {
            VLOG_ERROR(0, "jds_write_message: Message sent, but noting received, timeout");
            continue;
        }
        std::string got;
        n = link_read_nbytes_timeout(got, 1, timeout);
        if (n < 0) {
            VLOG_ERROR(0, "jds_write_message: error reading lrc");
            return ReqResult::Failed;
        }
        if (n == 0 || got.empty()) {
            VLOG_ERROR(0, "jds_write_message: timeout on lrc");
            return ReqResult::Failed;
        }
        const unsigned char want = stx_lrc(std::string_view(resp).substr(1));
        const bool verified = static_cast<unsigned char>(got[0]) == want;
        VLOG_DEBUG(4, 0, "jds_write_msg: LRC = %d [%c] : %s", static_cast<unsigned char>(got[0]), got[0],
                   verified ? "VERIFIED" : "INVALID");
        if (!verified) {
            VLOG_ERROR(0, "jds_write_msg: LRC failed.  Got %d [%c], wanted %d [%c]", static_cast<unsigned char>(got[0]),
                       got[0], want, static_cast<char>(want));
            continue;
        }
        VLOG_DEBUG(4, 0, "jds_write_msg: LRC match, checking for ACK");
        auto lr = jds::decode_link_response(resp + got);
        if (lr && lr->code == ctl::ACK && lr->seq == seq) {
            VLOG_DEBUG(4, 0, "jds_write_msg: Message successfully sent, received ACK from PMS");
            return ReqResult::Ok;
        }
    }
    VLOG_ERROR(0, "jds_write_msg: To many failed attempts during sending!");
    return ReqResult::Failed;
}

}  // namespace

ReqResult jds_send(JdsState& st, const std::string& body) {
    jds_read_msg_flush(st);
    return jds_write_msg(st, body);
}

std::optional<std::string> jds_await(JdsState& st, std::string_view code) {
    for (int passed = 0; passed <= kMaxPassedOn; ++passed) {
        std::string rec;
        if (jds_read_msg(st, rec) <= 0) break;
        if (rec.size() >= 2 && std::string_view(rec).substr(0, 2) == code) return rec;
        // Not the answer: a guest event or marker the PMS sent meanwhile.
        vendor_handle_data(rec);
    }
    VLOG_ERROR(0, "Did not receive response from PMS");
    return std::nullopt;
}
