// Helpers the vendors share: fixed-position records and the authorisation
// name rules.
#include <gtest/gtest.h>

#include <random>

#include "vendors/common/fixed_record.h"
#include "vendors/common/guest_match.h"

TEST(FixedRecord, CutsFieldsAndRefusesShortRecords) {
    const FixedLayout layout{{"code", 0, 2}, {"room", 2, 6}, {"status", 15, 1}, {"name", 17, 30}};
    EXPECT_EQ(fixed_min_length(layout), 47u);
    const std::string rec = "53  101 1234567" "1" "1" "Smith, Ann                    ";
    ASSERT_EQ(rec.size(), 47u);
    auto f = fixed_decode(rec, layout);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->get("code"), "53");
    EXPECT_EQ(f->get("room"), "  101 ");
    EXPECT_EQ(f->stripped("room"), "101");
    EXPECT_EQ(f->stripped("name"), "Smith, Ann");
    EXPECT_EQ(f->get("none"), "");
    EXPECT_EQ(f->fields().size(), 4u);
    // One byte short of the last field: the whole record is refused.
    EXPECT_FALSE(fixed_decode(std::string_view(rec).substr(0, 46), layout));
    EXPECT_FALSE(fixed_decode("", layout));
    // Positions far past any record never wrap around.
    EXPECT_FALSE(fixed_decode(rec, {{"far", std::string::npos - 1, 4}}));
    EXPECT_FALSE(fixed_decode(rec, {{"long", 1, std::string::npos}}));

    // Random layouts and records: a record decodes exactly when it holds
    // every field, and each field has its width.
    std::mt19937 rng(47);
    auto upTo = [&](int n) { return static_cast<size_t>(std::uniform_int_distribution<int>(0, n)(rng)); };
    for (int i = 0; i < 2000; ++i) {
        FixedLayout l;
        for (size_t k = upTo(5); k > 0; --k) l.push_back({"f", upTo(40), upTo(20)});
        std::string r(upTo(70), 'x');
        auto d = fixed_decode(r, l);
        ASSERT_EQ(d.has_value(), r.size() >= fixed_min_length(l)) << i;
        if (!d) continue;
        for (size_t k = 0; k < l.size(); ++k) ASSERT_EQ(d->fields()[k].second.size(), l[k].len);
    }
}

TEST(GuestMatch, NameRulesOfTheInterfaces) {
    struct Case {
        const char* first;
        const char* last;
        bool fias, line, any_case_len3, hash_only;
    };
    // Guest in the room: Ann Smith.
    // fias: "###"/"XXXX" first and "XXXX" last are wildcards on their own.
    // line: "XXXX" last is a wildcard only with "XXXX" first; no "###".
    // any_case_len3: as line, "xxxx" counts too, names over 3 characters.
    // hash_only: "###" first, no "XXXX".
    const Case cases[] = {
        {"Ann", "Smith", true, true, true, true},
        {"ANN", "smith", true, true, true, true},
        {"Ann", "Smyth", false, false, false, false},
        {"Anne", "Smith", false, false, true, false},
        {"XXXX", "smith", true, true, true, false},
        {"xxxx", "Smith", false, false, true, false},
        {"XXXX", "XXXX", true, true, true, false},
        {"Ann", "XXXX", true, false, false, false},
        {"###", "Smith", true, false, false, true},
        {"###", "XXXX", true, false, false, false},
        {"Bob", "XXXX", false, false, false, false},
        {"", "", false, false, false, false},
        {"XXX", "Smith", false, false, false, false},
    };
    const GuestNameRules fias{.hash_any_first = true, .xxxx_any_name = true};
    const GuestNameRules line{.hash_any_first = false, .xxxx_any_name = true, .last_xxxx_needs_first = true};
    GuestNameRules any_case_len3 = line;
    any_case_len3.xxxx_any_case = true;
    any_case_len3.compare_len = 3;
    const GuestNameRules hash_only{.hash_any_first = true, .xxxx_any_name = false};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.first) + "/" + c.last);
        EXPECT_EQ(guest_name_matches(fias, c.first, c.last, "Ann", "Smith"), c.fias);
        EXPECT_EQ(guest_name_matches(line, c.first, c.last, "Ann", "Smith"), c.line);
        EXPECT_EQ(guest_name_matches(any_case_len3, c.first, c.last, "Ann", "Smith"), c.any_case_len3);
        EXPECT_EQ(guest_name_matches(hash_only, c.first, c.last, "Ann", "Smith"), c.hash_only);
    }
    // A compare length of 0 lets every name through.
    GuestNameRules zero = line;
    zero.compare_len = 0;
    EXPECT_TRUE(guest_name_matches(zero, "Bob", "Jones", "Ann", "Smith"));
    EXPECT_TRUE(guest_number_matches("ab12", "AB12"));
    EXPECT_FALSE(guest_number_matches("AB1", "AB12"));
}
