// The JDS record codec: the records we send, the ACK/NAK frame, the "53" and
// "59" layouts, and a bounded fuzz of every decoder. The expected bytes are
// written out here, with the test's own LRC, never built by the codec.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "vendors/jds/jds_codec.h"

namespace {

char xorOf(std::string_view s) {
    unsigned char x = 0;
    for (char c : s) x ^= static_cast<unsigned char>(c);
    return static_cast<char>(x);
}

// A "53" with the given status, swap flag, date and time, 74 or 123 long.
std::string guestRecord(char status, char swap, const std::string& date, const std::string& time, bool longForm,
                        const std::string& seq = "00042") {
    std::string r = "53101   F12345 " + std::string(1, status) + "2" + "Smith, Ann                    " + "EV" +
                    "102   " + "2" + std::string(1, swap) + date + time;
    if (longForm) r += "GROUP1  " "Dr.       " "Swiss          " "Switzerland    " + seq + "X";
    else r += seq;
    return r;
}

TEST(JdsCodec, RecordsWeSendAreLaidOutColumnByColumn) {
    setenv("TZ", "UTC", 1);
    tzset();
    // 2009-03-04 14:05 UTC.
    const time_t start = 1236175500;
    auto post = jds::post_record("101", start, 12.50, "102  ");
    ASSERT_TRUE(post);
    EXPECT_EQ(*post, "03101   " + std::string(7, ' ') + "99" + "20090304" + "1405" + std::string(62, ' ') +
                         "     1250" + "102  ");
    EXPECT_EQ(post->size(), 105u);
    EXPECT_EQ(jds::guest_info_request("7", "101  "), "127     " + std::string(7, ' ') + "101  ");
    EXPECT_EQ(jds::folio_request("7", "101  "), "117     " + std::string(7, ' ') + "101  ");
    EXPECT_EQ(jds::equipment_request("7", "1", "101  "), "047     " + std::string(12, ' ') + "1 101  ");
    EXPECT_EQ(jds::db_swap_request("101  "), "081" + std::string(13, ' ') + "101  ");
    EXPECT_EQ(jds::close_record("101  "), "02101  ");
    EXPECT_EQ(jds::seq_text(100123), "123  ");
    EXPECT_EQ(jds::seq_text(99999), "99999");

    // Values that do not fit their columns are refused, not cut or shifted.
    EXPECT_FALSE(jds::post_record("1234567", start, 1, "101  "));
    EXPECT_FALSE(jds::post_record("", start, 1, "101  "));
    EXPECT_FALSE(jds::post_record("10|1", start, 1, "101  "));
    EXPECT_FALSE(jds::post_record("10\x03", start, 1, "101  "));
    EXPECT_FALSE(jds::post_record("101", start, 100000000.0, "101  "));
    EXPECT_TRUE(jds::post_record("101", start, 9999999.99, "101  "));
    EXPECT_FALSE(jds::equipment_request("101", "123", "101  "));
}

TEST(JdsCodec, LinkResponseCarriesItsSequenceNumberAndLrc) {
    const std::string ack = std::string("\x02\x06") + "00042" + "\x03";
    const std::string frame = ack + xorOf(ack.substr(1));
    EXPECT_EQ(jds::link_response('\x06', "00042"), frame);
    auto lr = jds::decode_link_response(frame);
    ASSERT_TRUE(lr);
    EXPECT_EQ(lr->code, '\x06');
    EXPECT_EQ(lr->seq, "00042");
    std::string bad = frame;
    bad[8] ^= 1;
    EXPECT_FALSE(jds::decode_link_response(bad));
    EXPECT_FALSE(jds::decode_link_response(frame.substr(0, 8)));
}

struct SeqCase {
    const char* name;
    std::string body;
    std::string seq;
};
void PrintTo(const SeqCase& c, std::ostream* os) { *os << c.name; }

class JdsReceivedSeq : public ::testing::TestWithParam<SeqCase> {};

TEST_P(JdsReceivedSeq, IsReadWhereTheLayoutKeepsIt) {
    EXPECT_EQ(jds::received_seq(GetParam().body), GetParam().seq);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, JdsReceivedSeq,
    ::testing::Values(SeqCase{"GuestShort", guestRecord('1', '0', "20300501", "1400", false, "12345"), "12345"},
                      SeqCase{"GuestLong", guestRecord('1', '0', "20300501", "1400", true, "12345"), "12345"},
                      SeqCase{"ClassOfService", "59101   312345", "12345"},
                      SeqCase{"Answer66", "66101   " + std::string(16, ' ') + "12345", "12345"},
                      SeqCase{"Marker", "5112345", "12345"}, SeqCase{"Short", "51", "51   "}),
    [](const auto& i) { return std::string(i.param.name); });

TEST(JdsCodec, GuestRecordFieldsAndDates) {
    for (bool longForm : {false, true}) {
        auto g = jds::decode_guest_info(guestRecord('3', '1', "20300501", "1405", longForm));
        ASSERT_TRUE(g);
        EXPECT_EQ(g->room, "101");
        EXPECT_EQ(g->folio, "F12345");
        EXPECT_EQ(g->status, '3');
        EXPECT_EQ(g->name, "Smith, Ann");
        EXPECT_EQ(g->language, "E");
        EXPECT_EQ(g->vip, "V");
        EXPECT_EQ(g->new_room, "102");
        EXPECT_EQ(g->swap, '1');
        EXPECT_EQ(g->seq, "00042");
        EXPECT_EQ(g->stay_time(), "2030-05-01 14:05:00");
        if (longForm) {
            EXPECT_EQ(g->country, "Switzerland");
        }
    }
    EXPECT_EQ(jds::decode_guest_info(guestRecord('1', '0', "20280229", "    ", false))->stay_time(),
              "2028-02-29 00:00:00");
    for (const char* bad : {"20300230", "20291301", "2030050A", "        "})
        EXPECT_FALSE(jds::decode_guest_info(guestRecord('1', '0', bad, "1200", false))->stay_time()) << bad;
    for (const char* bad : {"2400", "1260", "12 0"})
        EXPECT_FALSE(jds::decode_guest_info(guestRecord('1', '0', "20300501", bad, false))->stay_time()) << bad;
    EXPECT_FALSE(jds::decode_guest_info(guestRecord('1', '0', "20300501", "1400", false) + " "));

    auto c = jds::decode_class_of_service("5912    312345");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->room, "12");
    EXPECT_EQ(c->cos, "3");
    EXPECT_FALSE(jds::decode_class_of_service("5912    31234"));
}

// Garbled records of every length around the layouts: the decoders must
// neither read out of bounds (the sanitizer build watches) nor take a record
// of a wrong length.
TEST(JdsCodec, DecodersSurviveGarbage) {
    std::mt19937 rng(1414);
    const std::string seeds[] = {guestRecord('1', '1', "20300501", "1400", false),
                                 guestRecord('4', '0', "20300501", "1400", true), "5912    312345"};
    for (int i = 0; i < 20000; ++i) {
        std::string s = seeds[rng() % 3];
        const int edits = 1 + rng() % 6;
        for (int e = 0; e < edits; ++e) {
            switch (rng() % 3) {
                case 0: if (!s.empty()) s[rng() % s.size()] = static_cast<char>(rng()); break;
                case 1: if (!s.empty()) s.erase(rng() % s.size(), 1); break;
                default: s.insert(s.begin() + rng() % (s.size() + 1), static_cast<char>(rng())); break;
            }
        }
        auto g = jds::decode_guest_info(s);
        if (g) {
            EXPECT_TRUE(s.size() == 74 || s.size() == 123);
            if (auto t = g->stay_time()) {
                EXPECT_EQ(t->size(), 19u);
            }
        }
        if (jds::decode_class_of_service(s)) {
            EXPECT_EQ(s.size(), 14u);
        }
        EXPECT_EQ(jds::received_seq(s).size(), 5u);
        if (s.size() >= 9) (void)jds::decode_link_response(s.substr(0, 9));
    }
}

}  // namespace
