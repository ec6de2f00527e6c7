// The journal of charges the PMS took and the database has not marked yet:
// what a restarted daemon finds in it after every sequence of takes, marks,
// torn writes and stray lines. "Restart" is a fresh open of the same file
// with nothing in memory.
#include <gtest/gtest.h>

#include "post_journal.h"
#include "tmpfiles.h"

namespace {

struct Op {
    char what;  // 'a' taken by the PMS, 'd' marked
    int type;
    long seq;
};

struct JournalCase {
    const char* name;
    const char* left_behind;  // the file before the first open; nullptr: none
    std::vector<Op> ops;
    std::vector<std::pair<int, long>> pending_after_restart;  // (type, seq), oldest first
};

PMSPostInfo charge(int type, long seq) {
    PMSPostInfo r;
    r.type = type;
    r.db_seqno = seq;
    return r;
}

class PostJournalMatrix : public ::testing::TestWithParam<JournalCase> {
protected:
    void TearDown() override { post_journal_reset(); }
    TempDir dir_;
};

TEST_P(PostJournalMatrix, RestartFindsExactlyTheUnmarkedCharges) {
    const JournalCase& c = GetParam();
    const std::string path = dir_.path() + "/vornpms.postjournal";
    if (c.left_behind) dir_.write("vornpms.postjournal", c.left_behind);
    ASSERT_TRUE(post_journal_open(path));
    for (const Op& op : c.ops) {
        if (op.what == 'a') {
            EXPECT_TRUE(post_journal_add(charge(op.type, op.seq)));
            EXPECT_TRUE(post_journal_holds(charge(op.type, op.seq)));
        } else {
            post_journal_done(charge(op.type, op.seq));
            EXPECT_FALSE(post_journal_holds(charge(op.type, op.seq)));
        }
    }
    post_journal_reset();
    ASSERT_TRUE(post_journal_open(path));
    std::vector<std::pair<int, long>> got;
    for (const PMSPostInfo& r : post_journal_pending()) got.emplace_back(r.type, static_cast<long>(r.db_seqno));
    EXPECT_EQ(got, c.pending_after_restart);
    // Marking the rest leaves an empty file behind, not a growing one.
    post_journal_mark_pending([](const PMSPostInfo&) { return true; });
    EXPECT_TRUE(post_journal_pending().empty());
    EXPECT_EQ(readFile(path), "");
}

const JournalCase kCases[] = {
    {"NoFile", nullptr, {}, {}},
    {"TakenAndMarked", nullptr, {{'a', 1, 10}, {'d', 1, 10}}, {}},
    {"TakenNotMarked", nullptr, {{'a', 1, 10}}, {{1, 10}}},
    {"SeveralOneMarked", nullptr, {{'a', 1, 10}, {'a', 1, 11}, {'a', 5, 12}, {'d', 1, 11}}, {{1, 10}, {5, 12}}},
    {"MarkedThenTakenAgain", nullptr, {{'a', 1, 10}, {'d', 1, 10}, {'a', 1, 10}}, {{1, 10}}},
    {"SameSeqOtherTable", nullptr, {{'a', 1, 7}, {'a', 4, 7}, {'d', 1, 7}}, {{4, 7}}},
    {"LeftByEarlierRun", "+ 1 7 0 0 0\n", {}, {{1, 7}}},
    {"EarlierRunFinished", "+ 1 7 0 0 0\n- 1 7 0 0 0\n", {}, {}},
    {"LeftAndNewOnes", "+ 1 7 0 0 0\n", {{'a', 1, 8}, {'d', 1, 7}}, {{1, 8}}},
    {"TornLastLine", "+ 1 7 0 0 0\n+ 1 8 0", {}, {{1, 7}}},
    {"StrayLines", "junk\n+ 1 x 0 0 0\n\n+ 1 9 0 0 0 trailing\n* 1 9 0 0 0\n+ 2 9 3 1.5 4\n", {}, {{2, 9}}},
};

INSTANTIATE_TEST_SUITE_P(Cases, PostJournalMatrix, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Byte and time charges are marked with their session and running totals:
// those come back from the file as they went in.
TEST(PostJournal, SessionTotalsSurviveARestart) {
    TempDir dir;
    const std::string path = dir.path() + "/j";
    ASSERT_TRUE(post_journal_open(path));
    PMSPostInfo r = charge(3, 4242);
    r.ses_seq_no = 77;
    r.posted_amount = 12.25f;
    r.posted_limit = 20.5f;
    post_journal_add(r);
    post_journal_reset();
    ASSERT_TRUE(post_journal_open(path));
    ASSERT_EQ(post_journal_pending().size(), 1u);
    const PMSPostInfo& back = post_journal_pending().front();
    EXPECT_EQ(back.ses_seq_no, 77);
    EXPECT_FLOAT_EQ(back.posted_amount, 12.25f);
    EXPECT_FLOAT_EQ(back.posted_limit, 20.5f);
    post_journal_reset();
}

// A journal that cannot be written still keeps the charge from a second post
// for as long as the daemon runs.
TEST(PostJournal, UnwritableFileStillHoldsTheChargeInMemory) {
    TempDir dir;
    ASSERT_TRUE(post_journal_open(dir.path() + "/missing/dir/j"));
    EXPECT_FALSE(post_journal_add(charge(1, 5)));
    EXPECT_TRUE(post_journal_holds(charge(1, 5)));
    post_journal_reset();
}

}  // namespace
