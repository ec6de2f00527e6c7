// The Micros 4700 message codec: the sum, the names request and answer, the
// posting text and answer, and a bounded fuzz of the decoders. The expected
// bytes are written out here, never built by the codec.
#include <gtest/gtest.h>

#include <random>

#include "vendors/micros4700/m4700_codec.h"

namespace {

// What the PMS sends between SOH and EOT: header, STX, code, data, ETX, sum.
std::string answer(const std::string& code, const std::string& data) {
    std::string body = std::string("01Micros 4700 Sys.") + '\x02' + code + data + '\x03';
    unsigned sum = 0;
    for (char c : body) sum += static_cast<unsigned char>(c);
    char hex[8];
    std::snprintf(hex, sizeof hex, "%04X", sum % 65536);
    return body + hex;
}
std::string field(const std::string& s) { return s + std::string(16 - s.size(), ' '); }

TEST(M4700Codec, RequestsAreFramedAndSummed) {
    const std::string msg = *m4700::names_request("101");
    EXPECT_EQ(msg, " 1 101                0");
    const std::string framed = m4700::encode(msg);
    EXPECT_EQ(framed, "\x01" + answer("", msg).substr(0) + "\x04");
    auto post = m4700::post_text("101", "SMITH,JOHN", 10123, 9.95);
    ASSERT_TRUE(post);
    EXPECT_EQ(post->substr(0, 39), " 2 101                 SMITH,JOHN      ");
    EXPECT_EQ(post->substr(39, 25), "1   1   1  1  1 123   1  ");
    EXPECT_NE(post->find("      9.95      9.95      0.00"), std::string::npos);
    EXPECT_EQ(post->size(), 3u + 16 + 4 + 16 + 1 + 4 + 4 + 3 + 3 + 4 + 4 + 4 + 3 + 13 * 10);
    EXPECT_FALSE(m4700::post_text("12345678901234567", "X", 1, 1));
    EXPECT_FALSE(m4700::post_text("101", "X", 1, 1e12));
    EXPECT_FALSE(m4700::names_request("1|1"));
}

TEST(M4700Codec, NamesAnswers) {
    auto three = m4700::decode_names(answer(" 1", field("SMITH,JOHN") + field("DOE,JANE") + field("ROE,RICHARD")));
    ASSERT_TRUE(three);
    EXPECT_EQ(three->names, (std::vector<std::string>{"SMITH,JOHN", "DOE,JANE", "ROE,RICHARD"}));
    EXPECT_FALSE(m4700::cannot_charge(*three));
    auto cash = m4700::decode_names(answer(" 2", field("CASH-ONLY GUEST")));
    ASSERT_TRUE(cash);
    EXPECT_TRUE(m4700::cannot_charge(*cash));
    // No name field: no guest, and nothing to read past the end.
    auto none = m4700::decode_names(answer(" 1", ""));
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->names.empty());
    EXPECT_FALSE(m4700::cannot_charge(*none));
    EXPECT_FALSE(m4700::decode_names(answer(" 3", field("SMITH,JOHN"))));
    EXPECT_FALSE(m4700::decode_names("01Micros"));
    // Letters of the PMS's own character set stay; a control byte does not.
    auto latin = m4700::decode_names(answer(" 1", field("M\xdcLLER,J\xd6RG")));
    ASSERT_TRUE(latin);
    EXPECT_EQ(latin->names.at(0), "M\xdcLLER,J\xd6RG");
    EXPECT_TRUE(m4700::post_text("101", latin->names[0], 1, 1));
    EXPECT_FALSE(m4700::decode_names(answer(" 1", field("SMITH\x07,JOHN"))));
    auto s = m4700::split_name(" DOE , JANE ");
    EXPECT_EQ(s.last, "DOE");
    EXPECT_EQ(s.first, "JANE");
    EXPECT_EQ(m4700::split_name("DOE").first, "");

    auto denied = m4700::decode_post_answer(answer(" 2", "\\DENIED         "));
    ASSERT_TRUE(denied);
    EXPECT_TRUE(denied->denied());
    EXPECT_TRUE(m4700::decode_post_answer(answer(" 2", "?ACCOUNT        "))->wants_account());
    EXPECT_FALSE(m4700::decode_post_answer(answer(" 2", "OK")));
}

TEST(M4700Codec, DecodersSurviveGarbage) {
    std::mt19937 rng(4700);
    const std::string seed = answer(" 1", field("SMITH,JOHN") + field("DOE,JANE"));
    for (int i = 0; i < 20000; ++i) {
        std::string s = seed.substr(0, rng() % (seed.size() + 1));
        for (int e = 0; e < 4; ++e)
            if (!s.empty()) s[rng() % s.size()] = static_cast<char>(rng());
        if (auto a = m4700::decode_names(s)) {
            for (const auto& n : a->names) EXPECT_LE(n.size(), 16u);
            (void)m4700::cannot_charge(*a);
        }
        if (auto p = m4700::decode_post_answer(s)) {
            EXPECT_EQ(p->status.size(), 16u);
        }
    }
}

}  // namespace
