// The transaction-id record parsers: dates, names and fields, with
// a fixed-seed bounded fuzz over random and mutated records.
#include <random>

#include <gtest/gtest.h>

#include "vendors/txn/txn_core.h"
#include "vendors/txn/txn_names.h"

TEST(TxnParse, DateAndTimeJoinedAsReceived) {
    // The database reads the text; a blank date is none, whatever the time.
    EXPECT_EQ(txn_date(" 2028-02-29 ", "23:59"), "2028-02-29 23:59");
    EXPECT_EQ(txn_date("02/29/2028", "     "), "2028-02-29");
    EXPECT_EQ(txn_date("2/29/2028", "10:00"), "2/29/2028 10:00");
    EXPECT_EQ(txn_date("2030-05-01 14:00", ""), "2030-05-01 14:00");
    EXPECT_EQ(txn_date("   ", "12:00"), "");
}

TEST(TxnParse, Names) {
    EXPECT_EQ(txn_split_name_galavu("Ann Smith", false, "t").first, "Ann");
    EXPECT_EQ(txn_split_name_galavu("Smith, Ann", true, "t").last, "Smith");
    TxnName three = txn_split_name_galavu("Ann Mary Smith", false, "t");
    EXPECT_EQ(three.first, "");
    EXPECT_EQ(three.last, "Ann Mary Smith");
    TxnName one = txn_split_name_last_first("Smith", "|");
    EXPECT_EQ(one.last, "Smith");
    EXPECT_EQ(one.first, "");
    EXPECT_EQ(txn_split_name_last_first("Smith|Ann|x", "|").first, "Ann");
}

TEST(TxnParse, BoundedFuzz) {
    std::mt19937 rng(1312);
    const std::string alphabet = "0123456789-/: ,|ABCxyz\x02\x03\x0a";
    std::uniform_int_distribution<size_t> len(0, 400), pick(0, alphabet.size() - 1);
    for (int i = 0; i < 20000; ++i) {
        std::string rec(len(rng), ' ');
        for (char& c : rec) c = alphabet[pick(rng)];
        for (size_t pos : {0u, 12u, 52u, 285u, 317u, 399u}) {
            std::string f = txn_field(rec, pos, 16);
            EXPECT_LE(f.size(), 16u);
        }
        EXPECT_LE(txn_id(rec).size(), 4u);
        EXPECT_LE(txn_verb(rec).size(), 4u);
        std::string d = txn_date(rec.substr(0, std::min<size_t>(rec.size(), 10)), rec.size() > 15 ? rec.substr(10, 5) : "");
        EXPECT_LE(d.size(), 16u);
        TxnName n = txn_split_name_last_first(rec, ", ");
        EXPECT_LE(n.first.size() + n.last.size(), rec.size());
        TxnName g = txn_split_name_galavu(rec.substr(0, std::min<size_t>(rec.size(), 20)), i % 2, "fuzz");
        EXPECT_LE(g.first.size() + g.last.size(), 20u);
        EXPECT_EQ(txn_value_fits(rec, 6), rec.size() <= 6 && rec.find_first_of("\x02\x03\x0a") == std::string::npos);
    }
}
