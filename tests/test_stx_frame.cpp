// The STX/ETX framing codec: each rule set the PMS protocols use, a fuzz of
// the decoder under each, and the reader on a real TCP link. The test frames
// with its own LRC so that a codec fault shows instead of being mirrored.
#include <gtest/gtest.h>

#include <random>

#include "link.h"
#include "link_env.h"
#include "logcapture.h"
#include "loopback_peer.h"
#include "vendors/common/control_bytes.h"
#include "vendors/common/stx_frame.h"

namespace {

using ctl::ACK, ctl::CR, ctl::ENQ, ctl::ETB, ctl::ETX, ctl::LF, ctl::STX, ctl::XOFF;
using Event = StxDecoder::Event;

struct RuleSet {
    const char* name;
    FrameRules rules;
};
void PrintTo(const RuleSet& r, std::ostream* os) { *os << r.name; }

// The framings of the PMS protocols.
const RuleSet kRuleSets[] = {
    {"FiasSerial", {.lrc = true, .lrc_covers_etx = true, .lf_as_lrc = true, .cr_as_lrc = true}},
    {"PlainNoLrc", {.lrc = false}},
    {"Agilysys", {.lrc = true, .lrc_covers_etx = false, .lf_as_lrc = true, .cr_as_lrc = true}},
    {"Marriott", {.lrc = true, .lrc_covers_etx = true, .lf_as_lrc = true, .cr_as_lrc = true, .etb_ends_frame = true}},
    {"GalaVu", {.lrc = true, .lrc_covers_etx = true, .lf_as_lrc = true, .cr_as_lrc = false}},
    {"Jds", {.lrc = true, .lrc_covers_etx = true, .lf_as_lrc = false, .cr_as_lrc = false}},
    {"ShortTexts", {.lrc = true, .lrc_covers_etx = true, .lf_as_lrc = true, .cr_as_lrc = true, .max_body = 16}},
};

char xorOf(std::string_view s) {
    unsigned char x = 0;
    for (char c : s) x ^= static_cast<unsigned char>(c);
    return static_cast<char>(x);
}

// The LRC a frame of `text` ended by `end` must carry under `r`.
char lrcFor(const FrameRules& r, const std::string& text, char end = ETX) {
    return xorOf(r.lrc_covers_etx ? text + end : text);
}

bool standIn(const FrameRules& r, char c) { return (r.lf_as_lrc && c == LF) || (r.cr_as_lrc && c == CR); }

// Feeds every byte; the events other than None, in order.
std::vector<Event> feedAll(StxDecoder& d, std::string_view bytes) {
    std::vector<Event> out;
    for (char c : bytes)
        if (auto e = d.feed(c); e != Event::None) out.push_back(e);
    return out;
}

class StxRules : public ::testing::TestWithParam<RuleSet> {
protected:
    const FrameRules& r() const { return GetParam().rules; }
    std::string frame(const std::string& text, char end = ETX) const {
        std::string f = STX + text + end;
        if (r().lrc) f += lrcFor(r(), text, end);
        return f;
    }
};

TEST_P(StxRules, FramesControlBytesAndChecksums) {
    StxDecoder d(r());
    // Bytes outside a frame come out one by one; STX inside a text is text.
    EXPECT_EQ(feedAll(d, std::string{ENQ, '\0', 'x'}), std::vector<Event>(3, Event::Control));
    EXPECT_EQ(d.control(), 'x');
    const std::string text = std::string("GI|RN1") + STX + "|";
    EXPECT_EQ(feedAll(d, frame(text)), std::vector<Event>{Event::Frame});
    EXPECT_EQ(d.body(), text);
    EXPECT_EQ(stx_encode(text, r()), frame(text));
    EXPECT_EQ(feedAll(d, frame("")), std::vector<Event>{Event::Frame});
    EXPECT_EQ(d.body(), "");

    // ETB ends a frame only where the rules say so; elsewhere it is text.
    const std::string with_etb = std::string("AB") + ETB;
    EXPECT_EQ(feedAll(d, r().etb_ends_frame ? frame("AB", ETB) : frame(with_etb)), std::vector<Event>{Event::Frame});
    EXPECT_EQ(d.body(), r().etb_ends_frame ? "AB" : with_etb);

    if (!r().lrc) {
        // The byte after ETX is outside the next frame.
        EXPECT_EQ(feedAll(d, std::string{STX, 'A', ETX, 'A'}), (std::vector<Event>{Event::Frame, Event::Control}));
        return;
    }
    // A wrong LRC, or one computed over the wrong span, refuses the frame
    // but keeps its text for the log.
    const std::string text2 = "GO|RN2|";
    const char good = lrcFor(r(), text2);
    const char other_span = r().lrc_covers_etx ? xorOf(text2) : xorOf(text2 + ETX);
    for (char bad : {static_cast<char>(good ^ 0x20), other_span}) {
        ASSERT_FALSE(standIn(r(), bad));
        EXPECT_EQ(feedAll(d, STX + text2 + ETX + bad), std::vector<Event>{Event::BadLrc});
        EXPECT_EQ(d.body(), text2);
        EXPECT_EQ(d.expected_lrc(), static_cast<unsigned char>(good));
    }
    // CR and LF stand in for the LRC where allowed.
    for (char c : {CR, LF}) {
        ASSERT_NE(good, c);
        EXPECT_EQ(feedAll(d, STX + text2 + ETX + c),
                  std::vector<Event>{standIn(r(), c) ? Event::Frame : Event::BadLrc});
    }
    // The LRC byte may itself be STX or ETX: it is the LRC, not framing.
    for (char lrc : {STX, ETX}) {
        std::string t = "A";
        t += static_cast<char>(lrc ^ lrcFor(r(), "A"));
        ASSERT_EQ(lrcFor(r(), t), lrc);
        EXPECT_EQ(feedAll(d, frame(t)), std::vector<Event>{Event::Frame});
        EXPECT_EQ(d.state(), StxDecoder::State::Idle);
    }
}

TEST_P(StxRules, OverlongTextIsDroppedAndTheNextFrameRead) {
    FrameRules small = r();
    small.max_body = 8;
    StxDecoder d(small);
    EXPECT_EQ(feedAll(d, STX + std::string(8, 'a')), std::vector<Event>{});
    EXPECT_EQ(d.feed('a'), Event::Overflow);
    EXPECT_EQ(d.state(), StxDecoder::State::Idle);
    EXPECT_TRUE(d.body().empty());
    auto rest = feedAll(d, std::string("bc") + ETX + frame("OK"));
    ASSERT_FALSE(rest.empty());
    EXPECT_EQ(rest.back(), Event::Frame);
    EXPECT_EQ(d.body(), "OK");
}

// Random frames and random bytes. Invariants: an encoded body decodes to
// itself; a frame with a wrong LRC is never taken; every frame taken ends
// with a terminator and carries the LRC (or an accepted stand-in); the text
// kept never passes max_body.
TEST_P(StxRules, Fuzz) {
    std::mt19937 rng(20261208);
    auto upTo = [&](int n) { return std::uniform_int_distribution<int>(0, n)(rng); };
    const std::string terms = r().etb_ends_frame ? std::string{ETX, ETB} : std::string{ETX};
    auto randomText = [&](int max, char avoid = ETX) {
        std::string s;
        for (int n = upTo(max); n > 0; --n) {
            char c = static_cast<char>(upTo(255));
            if (terms.find(c) == std::string::npos && c != avoid) s += c;
        }
        return s;
    };

    StxDecoder d(r());
    for (int i = 0; i < 3000; ++i) {
        std::string text = randomText(static_cast<int>(std::min<size_t>(r().max_body, 300)));
        std::string wire = stx_encode(text, r());
        ASSERT_EQ(wire, frame(text)) << i;
        auto ev = feedAll(d, upTo(1) ? randomText(4, STX) + wire : wire);
        ASSERT_FALSE(ev.empty());
        ASSERT_EQ(ev.back(), Event::Frame) << i;
        ASSERT_EQ(d.body(), text);
        if (r().lrc) {
            char bad = static_cast<char>(upTo(255));
            if (bad == lrcFor(r(), text) || standIn(r(), bad)) continue;
            wire.back() = bad;
            ASSERT_EQ(feedAll(d, wire).back(), Event::BadLrc) << i;
        }
    }

    // Noise rich in framing bytes.
    const char kBiased[] = {STX, ETX, ETB, CR, LF, ENQ, ACK, '\0'};
    d.reset();
    char prev = 0;
    std::string body_before;
    for (int i = 0; i < 300000; ++i) {
        char c = upTo(3) ? kBiased[upTo(7)] : static_cast<char>(upTo(255));
        body_before = d.body();
        Event e = d.feed(c);
        ASSERT_LE(d.body().size(), r().max_body);
        if (e == Event::Frame || e == Event::BadLrc) {
            ASSERT_EQ(d.body(), body_before);
            if (!r().lrc) {
                ASSERT_EQ(e, Event::Frame);
                ASSERT_NE(terms.find(c), std::string::npos);
            } else {
                ASSERT_NE(terms.find(prev), std::string::npos);
                bool right = c == lrcFor(r(), std::string(d.body()), prev) || standIn(r(), c);
                ASSERT_EQ(e == Event::Frame, right) << i;
            }
        }
        prev = c;
    }
}

INSTANTIATE_TEST_SUITE_P(RuleSets, StxRules, ::testing::ValuesIn(kRuleSets),
                         [](const auto& info) { return std::string(info.param.name); });

// The reader on a TCP link: bytes before STX one by one, the text in one
// read, then the LRC; where each time-out struck; a failed read.
TEST(StxReader, ReadsFramesOffTheLink) {
    LogCapture log;
    LinkEnv env;
    TcpListener listener;
    env.configure({"PMSCOMMTYPE=tcp", "PMSCOMMTIMEOUT=1", "PMSCOMMOPTS=127.0.0.1|" + std::to_string(listener.port())});
    ASSERT_GE(link_open(), 0);
    StreamPeer peer = listener.accept();
    ASSERT_GE(peer.fd(), 0);

    const FrameRules rules{.lrc = true, .lrc_covers_etx = true, .lf_as_lrc = true, .cr_as_lrc = true,
                           .etb_ends_frame = true};
    StxReader reader(rules);
    ASSERT_TRUE(peer.send(std::string{XOFF} + STX + "PART1" + ETB + xorOf(std::string("PART1") + ETB) + STX +
                          "B" + ETX + 'z'));
    EXPECT_EQ(reader.next(1), StxReader::Result::Control);
    EXPECT_EQ(reader.control(), XOFF);
    EXPECT_EQ(reader.next(1), StxReader::Result::Frame);
    EXPECT_EQ(reader.body(), "PART1");
    EXPECT_EQ(reader.text_count(), 6);
    EXPECT_EQ(reader.next(1), StxReader::Result::BadLrc);
    EXPECT_EQ(reader.lrc_received(), 'z');
    EXPECT_EQ(reader.expected_lrc(), static_cast<unsigned char>(xorOf(std::string("B") + ETX)));

    // A frame whose STX the protocol has read itself.
    ASSERT_TRUE(peer.send(std::string("OK") + ETX + '\r'));
    EXPECT_EQ(reader.take(STX), StxDecoder::Event::None);
    EXPECT_EQ(reader.next(1), StxReader::Result::Frame);
    EXPECT_EQ(reader.body(), "OK");

    EXPECT_EQ(reader.next(1), StxReader::Result::Timeout);
    EXPECT_EQ(reader.stage(), StxReader::Stage::Head);
    ASSERT_TRUE(peer.send(std::string{STX} + "AB"));
    EXPECT_EQ(reader.next(1), StxReader::Result::Timeout);
    EXPECT_EQ(reader.stage(), StxReader::Stage::Text);
    ASSERT_TRUE(peer.send(std::string{STX} + "AB" + ETX));
    EXPECT_EQ(reader.next(1), StxReader::Result::Timeout);
    EXPECT_EQ(reader.stage(), StxReader::Stage::Lrc);

    peer.close();
    EXPECT_EQ(reader.next(1), StxReader::Result::Failed);
    EXPECT_EQ(link_type(), LINK_TYPE_CLOSED);
}

}  // namespace
