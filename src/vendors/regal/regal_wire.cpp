#include "vendors/regal/regal_wire.h"

#include "link.h"
#include "platform/log.h"
#include "vendor.h"
#include "vendors/common/control_bytes.h"
#include "vendors/common/stx_frame.h"

static constexpr char kLogSrc[] = "vendors/regal/regal_wire";

namespace {

// One byte within `seconds` (< 0: the link's own time-out); the read's result.
int read_byte(IoWait wait, char& byte) {
    std::string buf;
    int n = wait.ms < 0 ? link_read_nbytes(buf, 1) : link_read_nbytes_timeout(buf, 1, wait);
    byte = (n > 0 && !buf.empty()) ? buf[0] : 0;
    return n;
}

void answer(FiasVendor& v, char byte) {
    link_write(std::string_view(&byte, 1));
    v.s.last_answer = byte;
}

enum class Text { Read, Cut, Failed };

// Regal frames carry no LRC on any link type; the common decoder under
// these rules is the one the fuzz targets check.
constexpr FrameRules kRegalFrames{.lrc = false};

// The text of a frame whose STX was just read, up to its ETX. A frame the
// PMS did not finish in time is answered NAK so that it sends it again; an
// ACK would tell it that a check-in or check-out it never completed arrived.
Text read_text(FiasVendor& v, std::string& body) {
    StxDecoder dec(kRegalFrames);
    dec.feed(ctl::STX);
    for (;;) {
        char b = 0;
        int n = read_byte(kRegalTextSeconds, b);
        if (n < 0) return Text::Failed;
        const StxDecoder::Event ev = n == 0 ? StxDecoder::Event::Overflow : dec.feed(b);
        if (ev == StxDecoder::Event::None) continue;
        body.assign(dec.body());
        if (ev != StxDecoder::Event::Frame) {
            VLOG_WARN(0, "regal_read_msg_timeout: frame cut off after [%s], sending NAK", body.c_str());
            answer(v, ctl::NAK);
            return Text::Cut;
        }
        if (body.empty()) {
            answer(v, ctl::NAK);
            return Text::Cut;
        }
        answer(v, ctl::ACK);
        return Text::Read;
    }
}

enum class Answer { Acked, Retry, Failed };

// After an STX in place of the answer byte: the PMS's own frame is read and
// dispatched, then the answer to ours is awaited once more.
Answer frame_instead_of_answer(FiasVendor& v) {
    VLOG_DEBUG(2, 0, "regal_write_msg: got a STX instead of an ACK");
    std::string body;
    Text t = read_text(v, body);
    if (t == Text::Failed) return Answer::Failed;
    if (t == Text::Read) vendor_handle_data(body);
    char b = 0;
    int n = read_byte(kRegalAnswerSeconds, b);
    if (n < 0) {
        VLOG_DEBUG(2, 0, "Error while checking for ACK after STX");
        return Answer::Failed;
    }
    if (n == 0) {
        VLOG_DEBUG(2, 0, "Timeout receiving response after STX.. try again");
        return Answer::Retry;
    }
    if (b == ctl::ACK) return Answer::Acked;
    VLOG_WARN(0, "Received unexpected data.. expected '%c', got '%c' - try again", ctl::ACK, b);
    return Answer::Retry;
}

}  // namespace

int regal_read_msg(FiasVendor& v, IoWait timeout, std::string& body) {
    for (;;) {
        char b = 0;
        int n = read_byte(timeout, b);
        if (n < 0) {
            VLOG_ERRNO(0, "regal_read_msg_timeout: read failed");
            return -1;
        }
        if (n == 0) return 0;
        if (b == ctl::ENQ) {
            // The answer last given, so that a frame the PMS is unsure of
            // is not taken for acknowledged when it was refused.
            const char last = static_cast<char>(v.s.last_answer);
            link_write(std::string_view(&last, 1));
            continue;
        }
        if (b != ctl::STX) {
            VLOG_ERROR(0, "regal_read_msg_timeout: PMS received unexpected link byte, skipping - [%c/%d]", b,
                       static_cast<unsigned char>(b));
            continue;
        }
        switch (read_text(v, body)) {
            case Text::Failed: return -1;
            case Text::Cut: return 0;
            case Text::Read: return static_cast<int>(body.size());
        }
    }
}

int regal_write_frame(FiasVendor& v, std::string_view frame) {
    for (int attempt = 0; attempt <= v.s.retries; ++attempt) {
        if (!link_write(frame)) return 0;
        char b = 0;
        int n = read_byte(kRegalAnswerSeconds, b);
        if (n < 0) {
            VLOG_DEBUG(2, 0, "Error while checking for ACK");
            return 0;
        }
        if (n == 0) {
            VLOG_DEBUG(2, 0, "Timeout receiving response.. try again");
            continue;
        }
        if (b == ctl::ACK) {
            v.s.keepalive_timeouts = 0;
            return 1;
        }
        if (b == ctl::NAK) {
            VLOG_DEBUG(2, 0, "NACK received");
            continue;
        }
        if (b == ctl::STX) {
            Answer a = frame_instead_of_answer(v);
            if (a == Answer::Failed) return 0;
            if (a == Answer::Acked) {
                v.s.keepalive_timeouts = 0;
                return 1;
            }
            continue;
        }
        VLOG_WARN(0, "Received unexpected data.. expected '%c', got '%c' - try again", ctl::ACK, b);
    }
    VLOG_ERROR(0, "Too many failed attempts during send");
    return 0;
}
