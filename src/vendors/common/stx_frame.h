// STX/ETX frames with an optional LRC byte, the framing most PMS protocols
// share: a pure decoder fed one byte at a time (no I/O, no clock), the
// matching encoder, and a thin reader that pulls one frame off the PMS link
// with the link's timed reads.
//
// A frame on the wire is STX, text, ETX (or ETB where the rules allow), and,
// when the rules ask for one, an LRC byte: the exclusive-or of the text, and
// of the terminator too when the rules say so. Bytes outside a frame (ENQ,
// ACK, XON, noise) are handed to the caller one by one; what they mean is the
// protocol's business.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "io_pms/io_common.h"
#include "vendors/common/control_bytes.h"

// Longest text the decoder keeps: the link's delimiter reads stop at 65535
// bytes, terminator included.
inline constexpr size_t kStxMaxBody = 65534;

struct FrameRules {
    bool lrc = true;             // false: frames end at the terminator, no LRC byte
    bool lrc_covers_etx = true;  // false: the LRC covers the text only
    bool lf_as_lrc = true;       // an LF in the LRC's place is accepted
    bool cr_as_lrc = true;       // a CR in the LRC's place is accepted
    bool etb_ends_frame = false; // ETB ends a frame too (and enters the LRC as ETX would)
    size_t max_body = kStxMaxBody;
};

// XOR of every byte of `text`, 0-255.
unsigned char stx_lrc(std::string_view text);

class StxDecoder {
public:
    enum class Event {
        None,      // byte taken, nothing complete yet
        Frame,     // a whole frame: body() holds its text
        BadLrc,    // a whole frame whose LRC is wrong: body() holds its text
        Control,   // a byte outside a frame: control() tells which
        Overflow,  // the text grew past max_body: the frame is dropped
    };
    enum class State { Idle, Text, Lrc };

    explicit StxDecoder(const FrameRules& rules) : rules_(rules) {}

    Event feed(char byte);
    // Forgets any frame begun.
    void reset();

    State state() const { return state_; }
    // The text of the frame being read or last read, without STX, terminator and LRC.
    std::string_view body() const { return body_; }
    // The byte of the last Control event.
    char control() const { return control_; }
    // The LRC the frame being read or last read should carry.
    unsigned char expected_lrc() const { return lrc_; }
    const FrameRules& rules() const { return rules_; }

private:
    FrameRules rules_;
    State state_ = State::Idle;
    std::string body_;
    unsigned char lrc_ = 0;
    char control_ = 0;
};

// STX, body, ETX and, when the rules ask for one, the LRC.
std::string stx_encode(std::string_view body, const FrameRules& rules);

// Reading one frame off the PMS link: single bytes up to STX (so that the
// protocol can answer ENQ or pause on XOFF between frames), the text up to
// its terminator in one delimited read, then the LRC byte.
class StxReader {
public:
    enum class Result { Frame, BadLrc, Control, Timeout, Failed, Overflow };
    // Where a Timeout or Failed result happened.
    enum class Stage { Head, Text, Lrc };

    explicit StxReader(const FrameRules& rules) : dec_(rules) {}

    // Reads until the decoder has something to say, or the link times out
    // (`timeout` seconds of silence; < 0: the link's configured time-out) or
    // fails (the link layer has closed the link then). A Control result
    // returns at once: call next() again to go on waiting for the frame.
    Result next(IoWait timeout);
    // A byte the protocol read off the link itself, such as an STX that
    // came where an ACK was awaited; next() then goes on with the frame.
    StxDecoder::Event take(char byte) { return dec_.feed(byte); }

    Stage stage() const { return stage_; }
    std::string_view body() const { return dec_.body(); }
    char control() const { return dec_.control(); }
    // The LRC byte received (Frame and BadLrc, with an LRC) and the one expected.
    char lrc_received() const { return lrc_got_; }
    unsigned char expected_lrc() const { return dec_.expected_lrc(); }
    // Bytes the link delivered for the text, terminator included.
    int text_count() const { return text_count_; }

private:
    Result finish(StxDecoder::Event ev);

    StxDecoder dec_;
    Stage stage_ = Stage::Head;
    char lrc_got_ = 0;
    int text_count_ = 0;
};
