#include "sim_fault.h"

#include "sim_log.h"
#include "sim_words.h"

namespace {

// A serial line cannot be hung up from this side: a cut leaves it dead this
// long (both ways), then the PMS starts its link again.
constexpr double kDefaultDeadSeconds = 3;
// A cut after the answer waits this long, so that the answer (and on
// acknowledged links its ACK, or the line turn it needs) is through first.
constexpr auto kAnswerGrace = std::chrono::milliseconds(500);

std::chrono::steady_clock::duration toDuration(double seconds) {
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
}

}  // namespace

bool SimFaults::command(const std::string& what, std::optional<double> seconds, std::string& why) {
    static const struct {
        const char* name;
        Kind kind;
    } kKinds[] = {
        {"cut-after-inquiry", Kind::CutAfterInquiry}, {"cut-before-posting", Kind::CutBeforePosting},
        {"cut-after-posting", Kind::CutAfterPosting}, {"cut-after-answer", Kind::CutAfterAnswer},
        {"silent", Kind::Silent},
    };
    if (what == "noise") {
        sendNoise();
        return true;
    }
    if (what == "off") {
        armed_ = Kind::None;
        sim_note("fault: none armed");
        return true;
    }
    for (const auto& k : kKinds) {
        if (what != k.name) continue;
        if (k.kind == Kind::Silent && !seconds) {
            why = "usage: fault silent SECONDS";
            return false;
        }
        armed_ = k.kind;
        seconds_ = seconds.value_or(kDefaultDeadSeconds);
        sim_note("fault: %s armed for the next posting", k.name);
        return true;
    }
    why = "unknown fault '" + what + "'";
    return false;
}

bool SimFaults::at(SimPoint point) {
    switch (armed_) {
        case Kind::None: return false;
        case Kind::CutAfterInquiry:
            if (point != SimPoint::Inquiry) return false;
            cut("after the inquiry");
            return true;
        case Kind::CutBeforePosting:
            if (point != SimPoint::Posting) return false;
            cut("before the posting is taken");
            return true;
        case Kind::CutAfterPosting:
            if (point != SimPoint::Taken) return false;
            cut("after the posting was taken, before its answer");
            return true;
        case Kind::CutAfterAnswer:
            if (point != SimPoint::Answered) return false;
            armed_ = Kind::None;
            cut_at_ = Clock::now() + kAnswerGrace;
            return false;  // the answer is out; the cut follows it
        case Kind::Silent:
            if (point != SimPoint::Posting) return false;
            armed_ = Kind::None;
            sim_note("fault: silent for %.1f s, the posting is not taken", seconds_);
            dead_ = true;
            dead_until_ = Clock::now() + toDuration(seconds_);
            restart_ = false;
            return true;
    }
    return false;
}

void SimFaults::taken(const std::string& room, long hundredths) {
    sim_note("charge taken: room %s amount %s", room.c_str(), sim_format_amount(hundredths).c_str());
}

void SimFaults::cut(const char* when) {
    armed_ = Kind::None;
    sim_note("fault: link cut %s", when);
    dead_ = true;
    if (transport_.serial()) {
        dead_until_ = Clock::now() + toDuration(seconds_);
        restart_ = true;
    } else {
        // Not from inside the protocol's handling of a record: at the end of the turn.
        hang_up_ = true;
    }
}

void SimFaults::tick() {
    const auto now = Clock::now();
    if (cut_at_ && now >= *cut_at_) {
        cut_at_.reset();
        cut("after the answer");
    }
    if (hang_up_) {
        hang_up_ = false;
        transport_.hangUp(*this);
        dead_ = false;
    }
    if (dead_until_ && now >= *dead_until_) endDeadTime();
}

void SimFaults::endDeadTime() {
    dead_until_.reset();
    dead_ = false;
    if (!restart_) {
        sim_note("fault: the PMS speaks again");
        return;
    }
    restart_ = false;
    sim_note("fault: the line is back");
    if (protocol_ && transport_.connected()) {
        protocol_->disconnected();
        protocol_->connected();
    }
}

void SimFaults::sendNoise() {
    // NUL runs, bytes no text holds, a frame of garbage with a wrong check
    // byte, an empty frame, a lone ETX and line ends; no byte that asks the
    // interface for anything (ENQ, ACK, NAK, EOT, SOH).
    static const char kNoise[] = "\0\0\0\0\xff\xfe\x80\x7f"
                                 "\x02ZZ|\0garbage \x01\x1f|RN\0|\x03\x5a"
                                 "\0\0\r\n\x02\x03\x03\0 noise \xff\r\n";
    const std::string bytes(kNoise, sizeof kNoise - 1);
    sim_log(SimDir::Sent, bytes);
    if (!transport_.write(bytes)) sim_note("fault: noise not sent (no connection)");
    else sim_note("fault: noise sent (%zu bytes)", bytes.size());
}

void SimFaults::connected() {
    if (protocol_) protocol_->connected();
}

void SimFaults::disconnected() {
    if (protocol_) protocol_->disconnected();
}

void SimFaults::received(const std::string& bytes) {
    if (dead_) return;
    if (protocol_) protocol_->received(bytes);
}
