#include "vendors/fias/fias_frame.h"
#include "settings_core.h"
#include "vendors/fias/fias_settings.h"

#include "vendors/fias/fias_record.h"

#include <unistd.h>

#include "config.h"
#include "link.h"
#include "platform/log.h"
#include "vendor.h"
#include "vendors/common/stx_frame.h"

static constexpr char kLogSrc[] = "vendors/fias/fias_frame";

namespace {

// Garbled records skipped while one answer is awaited; more end the wait.
constexpr int kMaxGarbledInWait = 16;


constexpr int kXoffSleep = 10;
constexpr int kEnquiryTries = 3;
constexpr const char* kTerminated =
    "PMS connection has been terminated.. will attempt to reopen in POSTDELAY seconds (see config file format or "
    "-C option)";

enum class Link { Tcp, Serial, Other };

Link link_kind() {
    switch (link_type()) {
        case LINK_TYPE_TCP: return Link::Tcp;
        case LINK_TYPE_RS232: return Link::Serial;
        default: return Link::Other;
    }
}

// One byte with the given time-out (< 0: the link's own); the read's result.
int read_byte(IoWait timeout, char& byte) {
    std::string buf;
    int n = timeout.ms < 0 ? link_read_nbytes(buf, 1) : link_read_nbytes_timeout(buf, 1, timeout);
    byte = (n > 0 && !buf.empty()) ? buf[0] : 0;
    return n;
}

int write_byte(char byte) { return link_write(std::string_view(&byte, 1)); }

void close_after_failures(FiasVendor& v) {
    VLOG_INFO("%s", kTerminated);
    v.s.fail_count = 0;
    link_close();
}

// Frames on TCP carry no LRC; on a serial line the LRC covers the text and
// ETX, and a CR or LF in its place is accepted.
constexpr FrameRules kTcpFrames{.lrc = false};
constexpr FrameRules kSerialFrames{.lrc = true, .lrc_covers_etx = true, .lf_as_lrc = true, .cr_as_lrc = true};

int read_tcp(FiasVendor& v, IoWait timeout, std::string& body) {
    StxReader reader(kTcpFrames);
    v.s.last_read_garbled = false;
    // Bytes before STX mean nothing on TCP and are dropped, a NUL included;
    // an ETX among them ends a record that never began.
    std::string stray;
    for (;;) {
        switch (reader.next(timeout)) {
            case StxReader::Result::Failed:
                VLOG_ERRNO(0, "%s_read_msg: read failed", v.p.prefix);
                return -1;
            case StxReader::Result::Timeout:
                fias_count_failure(v, "read_msg timeout message");
                return 0;
            case StxReader::Result::Control:
                if (reader.control() != ctl::ETX && stray.size() < kStxMaxBody) {
                    stray += reader.control();
                    continue;
                }
                VLOG_ERROR(0, "Malformed record - %s", stray.empty() ? "(null)" : stray.c_str());
                v.s.last_read_garbled = true;
                return -1;
            case StxReader::Result::Frame:
                break;
            case StxReader::Result::BadLrc:
            case StxReader::Result::Overflow:
                v.s.last_read_garbled = true;
                return -1;
        }
        body = reader.body();
        if (body.empty()) {
            VLOG_ERROR(0, "Memory allocation error");
            v.s.last_read_garbled = true;
            return -1;
        }
        v.s.fail_count = 0;
        VLOG_DEBUG(3, 0, "%s_read_msg successfull read, counter reset", v.p.prefix);
        // Every byte read, less the ETX.
        return static_cast<int>(stray.size() + 1 + body.size());
    }
}

int read_serial(FiasVendor& v, IoWait timeout, std::string& body) {
    StxReader reader(kSerialFrames);
    v.s.last_read_garbled = false;
    for (;;) {
        const StxReader::Result r = reader.next(timeout);
        if (r == StxReader::Result::Failed) {
            if (reader.stage() == StxReader::Stage::Head) VLOG_ERRNO(0, "%s_read_msg: read failed", v.p.prefix);
            return -1;
        }
        if (r == StxReader::Result::Timeout) {
            fias_count_failure(v, "read_msg timeout message");
            return 0;
        }
        if (r == StxReader::Result::Overflow) {
            v.s.last_read_garbled = true;
            return -1;
        }
        if (r == StxReader::Result::Control) {
            const char b = reader.control();
            if (b == ctl::ENQ) {
                write_byte(v.p.lenient_frame_wait ? ctl::NAK : static_cast<char>(v.s.last_answer));
            } else if (b == ctl::XOFF) {
                VLOG_INFO("Recieved XOF.. sleeping for %d seconds", kXoffSleep);
                sleep(kXoffSleep);
            } else if (b == ctl::XON) {
                VLOG_INFO("Recieved XOF.. PMS has resumed connection");
            } else if (!v.p.lenient_frame_wait) {
                VLOG_ERROR(0, "PMS received unexpected link byte - %c", b);
                v.s.last_read_garbled = true;
                return -1;
            } else if (b == ctl::ACK) {
                VLOG_INFO("Recieved ACK... not sure how to deal with this year, skipping");
            } else {
                VLOG_ERROR(0, "PMS read unexpected link byte - [%c] / [%d], skipping", b,
                           static_cast<int>(static_cast<unsigned char>(b)));
            }
            continue;
        }
        const char lrc = reader.lrc_received();
        const bool good = r == StxReader::Result::Frame;
        VLOG_DEBUG(4, 0, "LRC = %d [%c] : %s", static_cast<unsigned char>(lrc), lrc, good ? "VERIFIED" : "INVALID");
        if (!good) {
            VLOG_WARN(0, "PMS message failed checksum.. got %c, expected %c", lrc,
                      static_cast<char>(reader.expected_lrc()));
            write_byte(ctl::NAK);
            v.s.last_answer = ctl::NAK;
            v.s.last_read_garbled = true;
            return -1;
        }
        write_byte(ctl::ACK);
        v.s.last_answer = ctl::ACK;
        body = reader.body();
        v.s.fail_count = 0;
        // The text read, less the ETX.
        return reader.text_count() - 1;
    }
}

// Noise bytes skipped while one answer byte is awaited; past them the next
// byte is taken as it is.
constexpr int kMaxNoiseInAckWait = 512;
// Seconds for the rest of a PMS frame that began in an ACK wait.
constexpr int kFrameInAckWait = 10;

// The PMS's answer to a frame we sent: ACK, NAK, XON or XOFF (1), nothing
// before the time-out (0) or an error (-1). Noise is not an answer: it is
// skipped. An ENQ of the PMS's is answered with our last answer. A frame the
// PMS begins is read and refused with NAK, so that
// the PMS sends it again, and the wait goes on: taken for noise, its bytes
// made us send our record again, and the PMS took it twice.
int answer_byte(FiasVendor& v, IoWait timeout, char& b) {
    for (int noise = 0;; ++noise) {
        const int r = read_byte(timeout, b);
        if (r <= 0) return r;
        if (b == ctl::ACK || b == ctl::NAK || b == ctl::XON || b == ctl::XOFF || noise >= kMaxNoiseInAckWait)
            return 1;
        if (b == ctl::ENQ) {
            write_byte(static_cast<char>(v.s.last_answer));
        } else if (b == ctl::STX) {
            VLOG_DEBUG(3, 0, "%s_write_msg_has_lrc: unexpected STX while looking for ACK", v.p.prefix);
            StxReader reader(kSerialFrames);
            reader.take(ctl::STX);
            StxReader::Result fr;
            do fr = reader.next(kFrameInAckWait); while (fr == StxReader::Result::Control);
            if (fr == StxReader::Result::Failed) return -1;
            if (fr == StxReader::Result::Frame || fr == StxReader::Result::BadLrc)
                VLOG_DEBUG(3, 0, "%s_write_msg_has_lrc: unexpected [%s], sending a NAK", v.p.prefix,
                           std::string(reader.body()).c_str());
            write_byte(ctl::NAK);
        }
    }
}

// Outcome of the enquiry tries after an unanswered or garbled frame.
enum class Enquiry { Acked, Failed, Resend };

Enquiry enquire(FiasVendor& v, bool counts_timeouts) {
    for (int i = 0; i < kEnquiryTries; ++i) {
        write_byte(ctl::ENQ);
        char b = 0;
        int n = answer_byte(v, -1, b);
        if (n < 0) {
            VLOG_DEBUG(2, 0, "Error while receiving ENQ response");
            return Enquiry::Failed;
        }
        if (n == 0) {
            if (!counts_timeouts) continue;
            ++v.s.fail_count;
            VLOG_DEBUG(2, 0, "%s_write_msg_has_lrc: timeout, incrementing counter, now %d", v.p.prefix,
                       v.s.fail_count);
            if (v.s.fail_count >= 11) {
                close_after_failures(v);
                return Enquiry::Failed;
            }
            continue;
        }
        if (b == ctl::ACK) {
            if (counts_timeouts) v.s.fail_count = 0;
            return Enquiry::Acked;
        }
        if (b == ctl::NAK) {
            if (counts_timeouts) v.s.fail_count = 0;
            VLOG_DEBUG(2, 0, "NACK received");
            return Enquiry::Resend;
        }
    }
    return Enquiry::Resend;
}


}  // namespace

bool fias_serial_rules(const FiasVendor& v) { return v.p.framing.serial_rules_everywhere || link_kind() == Link::Serial; }

void fias_count_failure(FiasVendor& v, const char* what) {
    ++v.s.fail_count;
    VLOG_DEBUG(3, 0, "%s_%s incrementing counter, now %d", v.p.prefix, what, v.s.fail_count);
}

int fias_read_msg(FiasVendor& v, IoWait timeout, std::string& body) {
    body.clear();
    if (v.p.read_override) return v.p.read_override(v, timeout, body);
    if (v.s.fail_count > 10) close_after_failures(v);
    Link kind = link_kind();
    if (kind != Link::Other && fias_serial_rules(v)) return read_serial(v, timeout, body);
    if (kind == Link::Tcp) return read_tcp(v, timeout, body);
    VLOG_ERROR(0, "Link down or invalid");
    return -1;
}

int fias_read_response(FiasVendor& v, std::string& body) {
    return fias_read_msg(v, static_cast<int>(setting_number(kSetCommTimeout)), body);
}

int fias_read_flush(FiasVendor& v, std::string& body) {
    return fias_read_msg(v, IoWait::millis(setting_millis(kSetFlushTimeout)), body);
}

std::string fias_frame(const FiasVendor& v, std::string_view body) {
    return stx_encode(body, fias_serial_rules(v) && v.p.framing.lrc ? kSerialFrames : kTcpFrames);
}

int fias_write_msg(FiasVendor& v, std::string_view body) {
    if (body.empty()) return 0;
    return fias_write_frame(v, fias_frame(v, body));
}

int fias_write_frame(FiasVendor& v, std::string_view frame) {
    if (frame.empty()) return 0;
    if (v.p.write_override) return v.p.write_override(v, frame);
    int n = 0;
    while (n <= v.s.retries) {
        if (!link_write(frame)) return 0;
        Link kind = link_kind();
        if (kind == Link::Tcp && !fias_serial_rules(v)) return 1;
        if (kind == Link::Other || !fias_serial_rules(v)) {
            VLOG_ERROR(0, "Unsupported %s communication protocol!", v.p.proto_name);
            return 0;
        }
        char b = 0;
        int r = answer_byte(v, -1, b);
        if (r < 0) {
            VLOG_DEBUG(2, 0, "Error while checking for ACK");
            return 0;
        }
        if (r == 0) {
            VLOG_DEBUG(2, 0, "Timeout receiving response.. Sending ENQ");
            write_byte(ctl::ENQ);
            Enquiry e = enquire(v, v.p.enquiry_counts_failures);
            if (e == Enquiry::Acked) return 1;
            if (e == Enquiry::Failed) return 0;
            ++n;
        } else if (b == ctl::ACK) {
            return 1;
        } else if (b == ctl::NAK) {
            VLOG_DEBUG(2, 0, "NACK received");
            ++n;
        } else if (b == ctl::XOFF) {
            VLOG_INFO("Received XOF.. sleeping for %d seconds", kXoffSleep);
            sleep(kXoffSleep);
            n = 1;
        } else if (b == ctl::XON) {
            ++n;
        } else {
            VLOG_WARN(0, "Received unexpected data.. expected '%c', got '%c' - Sending ENQ", ctl::ACK, b);
            Enquiry e = enquire(v, false);
            if (e == Enquiry::Acked) return 1;
            if (e == Enquiry::Failed) return 0;
            ++n;
        }
    }
    VLOG_ERROR(0, "Too many failed attempts during send");
    return 0;
}

std::optional<std::string> fias_stamped_frame(
    const FiasVendor& v, time_t when, const std::function<std::optional<std::string>(const std::string& da, const std::string& ti)>& body_of,
    const FmtText<char, const char*>& bad_text) {
    bool serial = fias_serial_rules(v) && v.p.framing.lrc;
    for (int offset = 0;; ++offset) {
        std::string da, ti;
        if (!fias_date_time(when, da, ti, offset)) return std::nullopt;
        auto body = body_of(da, ti);
        if (!body) return std::nullopt;
        std::string frame = fias_frame(v, *body);
        if (!serial) return frame;
        const char lrc = frame.back();
        frame.pop_back();
        VLOG_DEBUG(4, 0, "lrc is '%c' for '%s'", lrc, frame.c_str());
        if ((lrc != ctl::ENQ && lrc != 0) || offset == 3) {
            frame += lrc;
            return frame;
        }
        VLOG_DEBUG_TEXT(3, bad_text, lrc, frame.c_str());
    }
}

int fias_drain(FiasVendor& v, const std::string& op, const char* what) {
    int drained = 0;
    std::string rec;
    VLOG_DEBUG(4, 0, "%s: read flush a", op.c_str());
    while (fias_read_flush(v, rec) > 0) {
        ++drained;
        VLOG_INFO("%s - trying to %s but found mesg on pipe '%s'", op.c_str(), what, rec.c_str());
        vendor_handle_data(rec);
        VLOG_DEBUG(4, 0, "%s: read flush b", op.c_str());
    }
    return drained;
}

bool fias_keep_answer(FiasVendor& v, const std::string& record) {
    constexpr size_t kMaxKept = 8;
    if (!fias_is_type(record, "PA") && !fias_is_type(record, "PL")) return false;
    if (v.s.kept_answers.size() >= kMaxKept) v.s.kept_answers.pop_front();
    v.s.kept_answers.push_back(record);
    VLOG_INFO("%s: answer kept for the wait it belongs to: '%s'", v.p.prefix, record.c_str());
    return true;
}

bool fias_await(FiasVendor& v, std::initializer_list<std::string_view> types, std::string& answer) {
    // Line noise does not end the wait: the answer may still follow it, and
    // a posting answer given up on would be posted again.
    int garbled = 0;
    for (;;) {
        if (!v.s.kept_answers.empty()) {
            answer = std::move(v.s.kept_answers.front());
            v.s.kept_answers.pop_front();
            for (auto t : types)
                if (fias_is_type(answer, t)) return true;
            continue;
        }
        const int n = fias_read_response(v, answer);
        if (n < 0 && v.s.last_read_garbled && ++garbled <= kMaxGarbledInWait) continue;
        if (n <= 0) return false;
        for (auto t : types)
            if (fias_is_type(answer, t)) return true;
        vendor_handle_data(answer);
    }
}
