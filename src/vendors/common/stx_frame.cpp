#include "vendors/common/stx_frame.h"

#include "link.h"

unsigned char stx_lrc(std::string_view text) {
    unsigned char x = 0;
    for (char c : text) x ^= static_cast<unsigned char>(c);
    return x;
}

void StxDecoder::reset() {
    state_ = State::Idle;
    body_.clear();
    lrc_ = 0;
}

StxDecoder::Event StxDecoder::feed(char byte) {
    switch (state_) {
        case State::Idle:
            if (byte == ctl::STX) {
                state_ = State::Text;
                body_.clear();
                lrc_ = 0;
                return Event::None;
            }
            control_ = byte;
            return Event::Control;

        case State::Text: {
            const bool ends = byte == ctl::ETX || (rules_.etb_ends_frame && byte == ctl::ETB);
            if (ends) {
                if (!rules_.lrc) {
                    state_ = State::Idle;
                    return Event::Frame;
                }
                if (rules_.lrc_covers_etx) lrc_ ^= static_cast<unsigned char>(byte);
                state_ = State::Lrc;
                return Event::None;
            }
            // A text that never ends must not grow without bound; the
            // decoder looks for the next STX after it.
            if (body_.size() >= rules_.max_body) {
                reset();
                return Event::Overflow;
            }
            body_ += byte;
            lrc_ ^= static_cast<unsigned char>(byte);
            return Event::None;
        }

        case State::Lrc: {
            state_ = State::Idle;
            // Some interfaces end a frame with CR or LF instead of its LRC.
            const bool stand_in = (rules_.lf_as_lrc && byte == ctl::LF) || (rules_.cr_as_lrc && byte == ctl::CR);
            if (stand_in || static_cast<unsigned char>(byte) == lrc_) return Event::Frame;
            return Event::BadLrc;
        }
    }
    return Event::None;
}

std::string stx_encode(std::string_view body, const FrameRules& rules) {
    std::string frame;
    frame.reserve(body.size() + 3);
    frame += ctl::STX;
    frame += body;
    frame += ctl::ETX;
    if (rules.lrc) {
        unsigned char lrc = stx_lrc(body);
        if (rules.lrc_covers_etx) lrc ^= static_cast<unsigned char>(ctl::ETX);
        frame += static_cast<char>(lrc);
    }
    return frame;
}

namespace {

// One byte; the link read's result.
int read_byte(IoWait timeout, char& byte) {
    std::string buf;
    int n = timeout.ms < 0 ? link_read_nbytes(buf, 1) : link_read_nbytes_timeout(buf, 1, timeout);
    byte = (n > 0 && !buf.empty()) ? buf[0] : 0;
    return n;
}

int read_text(const FrameRules& rules, IoWait timeout, std::string& text) {
    if (rules.etb_ends_frame) {
        const char ends[] = {ctl::ETX, ctl::ETB};
        return link_read_delims_timeout(std::string_view(ends, 2), timeout.ms < 0 ? IoWait(static_cast<int>(link_timeout())) : timeout,
                                        text);
    }
    return timeout.ms < 0 ? link_read_delim(ctl::ETX, text) : link_read_delim_timeout(ctl::ETX, timeout, text);
}

}  // namespace

StxReader::Result StxReader::finish(StxDecoder::Event ev) {
    switch (ev) {
        case StxDecoder::Event::Frame: return Result::Frame;
        case StxDecoder::Event::BadLrc: return Result::BadLrc;
        case StxDecoder::Event::Control: return Result::Control;
        case StxDecoder::Event::Overflow: return Result::Overflow;
        case StxDecoder::Event::None: break;
    }
    return Result::Failed;
}

StxReader::Result StxReader::next(IoWait timeout) {
    lrc_got_ = 0;
    for (;;) {
        switch (dec_.state()) {
            case StxDecoder::State::Idle: {
                stage_ = Stage::Head;
                text_count_ = 0;
                char b = 0;
                int n = read_byte(timeout, b);
                if (n <= 0) return n < 0 ? Result::Failed : Result::Timeout;
                auto ev = dec_.feed(b);
                if (ev != StxDecoder::Event::None) return finish(ev);
                break;
            }
            case StxDecoder::State::Text: {
                stage_ = Stage::Text;
                std::string text;
                int n = read_text(dec_.rules(), timeout, text);
                if (n <= 0) {
                    dec_.reset();
                    return n < 0 ? Result::Failed : Result::Timeout;
                }
                text_count_ = n;
                for (char c : text) {
                    auto ev = dec_.feed(c);
                    if (ev != StxDecoder::Event::None) return finish(ev);
                }
                break;
            }
            case StxDecoder::State::Lrc: {
                stage_ = Stage::Lrc;
                char b = 0;
                int n = read_byte(timeout, b);
                if (n <= 0) {
                    dec_.reset();
                    return n < 0 ? Result::Failed : Result::Timeout;
                }
                lrc_got_ = b;
                return finish(dec_.feed(b));
            }
        }
    }
}
