// The STX/ETX decoder under one vendor's rule set (RULES names it): any
// byte stream must give one event per byte, never a body past the limit or
// holding its terminator, and every frame it accepts must survive a round
// trip through the encoder.
#include <string>

#include "fuzz_support.h"
#include "vendors/common/stx_frame.h"
#include "vendors/jds/jds_codec.h"

namespace {

#define STR2(x) #x
#define STR(x) STR2(x)

FrameRules rules_named(std::string_view name) {
    // Kept in step with the rules each link uses.
    if (name == "fias_tcp") return FrameRules{.lrc = false};
    if (name == "fias_serial") return FrameRules{.lrc = true, .lrc_covers_etx = true, .lf_as_lrc = true, .cr_as_lrc = true};
    if (name == "agilysys") return FrameRules{.lrc = true, .lrc_covers_etx = false, .lf_as_lrc = true, .cr_as_lrc = true};
    if (name == "jds") return jds::kFrames;
    if (name == "line")
        return FrameRules{.lrc = true, .lrc_covers_etx = true, .lf_as_lrc = true, .cr_as_lrc = true,
                          .etb_ends_frame = true, .max_body = 4096};
    if (name == "txn") return FrameRules{.lrc = true, .lrc_covers_etx = true, .lf_as_lrc = false, .cr_as_lrc = false};
    if (name == "txn_lf") return FrameRules{.lrc = true, .lrc_covers_etx = true, .lf_as_lrc = true, .cr_as_lrc = false};
    std::abort();
}

const FrameRules kRules = rules_named(STR(RULES));

// find() rather than a loop of instrumented compares: this check ran at a
// third of the target's speed.
void check_body(std::string_view body) {
    FUZZ_CHECK(body.size() <= kRules.max_body);
    FUZZ_CHECK(body.find(ctl::ETX) == std::string_view::npos);
    FUZZ_CHECK(!kRules.etb_ends_frame || body.find(ctl::ETB) == std::string_view::npos);
}

void round_trip(std::string_view body) {
    const std::string frame = stx_encode(body, kRules);
    StxDecoder dec(kRules);
    int frames = 0;
    for (size_t i = 0; i < frame.size(); ++i) {
        const StxDecoder::Event ev = dec.feed(frame[i]);
        if (i + 1 < frame.size()) {
            FUZZ_CHECK(ev == StxDecoder::Event::None);
        } else {
            FUZZ_CHECK(ev == StxDecoder::Event::Frame);
            ++frames;
        }
    }
    FUZZ_CHECK(frames == 1);
    FUZZ_CHECK(dec.body() == body);
    FUZZ_CHECK(dec.state() == StxDecoder::State::Idle);
}

}  // namespace

void fuzz_one(std::string_view input) {
    StxDecoder dec(kRules);
    for (char c : input) {
        const StxDecoder::State before = dec.state();
        switch (dec.feed(c)) {
            case StxDecoder::Event::Frame:
                check_body(dec.body());
                round_trip(dec.body());
                break;
            case StxDecoder::Event::BadLrc:
                FUZZ_CHECK(kRules.lrc && before == StxDecoder::State::Lrc);
                check_body(dec.body());
                break;
            case StxDecoder::Event::Control:
                FUZZ_CHECK(before == StxDecoder::State::Idle && dec.control() == c);
                break;
            case StxDecoder::Event::Overflow:
                FUZZ_CHECK(before == StxDecoder::State::Text);
                FUZZ_CHECK(dec.state() == StxDecoder::State::Idle);
                break;
            case StxDecoder::Event::None:
                check_body(dec.body());
                break;
        }
    }
    dec.reset();
    FUZZ_CHECK(dec.state() == StxDecoder::State::Idle && dec.body().empty());
}
