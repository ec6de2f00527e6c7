// Garbled input from a FIAS PMS: random records through the record parser,
// the date converters and every guest/link record handler against a real
// database, and random frames through the TCP and serial framing. A fixed
// seed keeps each run the same; the sanitizer build catches what a plain
// build would not.
#include <gtest/gtest.h>

#include <random>

#include "db.h"
#include "fias_env.h"
#include "vendor.h"
#include "vendors/common/control_bytes.h"
#include "vendors/fias/fias_frame.h"
#include "vendors/fias/fias_record.h"

namespace {

using ctl::ENQ, ctl::ETX, ctl::STX, ctl::XON;

class Garble {
public:
    explicit Garble(unsigned seed) : rng_(seed) {}

    int upTo(int n) { return std::uniform_int_distribution<int>(0, n)(rng_); }
    bool chance(int percent) { return upTo(99) < percent; }

    // Bytes 1-255, without the ones in `avoid`.
    std::string bytes(int max_len, std::string_view avoid = "") {
        std::string s;
        int n = upTo(max_len);
        while (static_cast<int>(s.size()) < n) {
            char c = static_cast<char>(1 + upTo(254));
            if (avoid.find(c) == std::string_view::npos) s += c;
        }
        return s;
    }

    // A value a PMS might send, or one meant to hurt.
    std::string value() {
        static const char* const kNasty[] = {"",      "'",          "''; DROP TABLE pms_guests; --", "\\",  "%s%n%s",
                                             "999999", "261208",    "261301",  "000000", "-1",   "2147483648",
                                             "1e400",  "12345678901234567890", "Y",     "y",    "ABCDE"};
        switch (upTo(3)) {
            case 0: return kNasty[upTo(std::size(kNasty) - 1)];
            case 1: return std::to_string(upTo(999999));
            default: return bytes(120, "|");
        }
    }

    std::string record() {
        static const char* const kTypes[] = {"GI", "GO", "GC", "RE", "XL", "XO", "NS", "NE",
                                             "DS", "DE", "LA", "DR", "PA", "PL", "XX"};
        static const char* const kTags[] = {"RN", "RO", "G#", "GN", "GF", "GV", "GL", "GG", "GA", "GD", "DA",
                                            "TI", "NP", "SF", "GS", "GT", "CS", "MT", "MI", "BA", "BD", "BI",
                                            "A0", "A5", "A9", "AX", "A",  "P#", "AS"};
        if (chance(5)) return bytes(8);
        std::string rec = kTypes[upTo(std::size(kTypes) - 1)];
        if (chance(90)) rec += '|';
        int fields = upTo(14);
        for (int i = 0; i < fields; ++i) {
            rec += chance(90) ? kTags[upTo(std::size(kTags) - 1)] : bytes(2, "|");
            rec += value();
            if (chance(95)) rec += '|';
        }
        return rec;
    }

private:
    std::mt19937 rng_;
};

}  // namespace

TEST(FiasFuzz, RecordParserAndDateConverters) {
    Garble g(20261208);
    for (int i = 0; i < 20000; ++i) {
        std::string body = i % 2 ? g.record() : g.bytes(40);
        if (auto rec = fias_parse(body)) {
            EXPECT_EQ(rec->type.size(), 2u);
            FiasUserStrings us;
            for (const auto& f : rec->fields) {
                ASSERT_EQ(f.tag.size(), 2u);
                fias_take_user_string(us, f);
            }
            for (const auto& t : us.text) EXPECT_LE(t.size(), kFiasUserStringMax);
        }
        if (auto type = fias_record_type(body)) {
            EXPECT_EQ(type->size(), 2u);
        }

        std::string date = g.value(), time = g.value(), out;
        if (fias_pms_to_db_datetime(out, date, time)) {
            EXPECT_EQ(out.size(), 19u) << date << " " << time;
        }
        fias_pms_to_time(date, g.chance(50) ? std::optional<std::string_view>(time) : std::nullopt);
    }
}

class FiasFuzzHandlers : public FiasTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(start({.database = true, .settings = "USER_STRINGS=1\nMOVE_SESSION_INFO_RECORDS=1\n"}));
        selectVendor();
    }
};

TEST_F(FiasFuzzHandlers, GarbledRecordsAreHandledOrRefused) {
    db_->exec("INSERT INTO pms_guests (pms_room, pms_guest_no, pms_name_last) VALUES ('101', '55', 'Smith')");
    Garble g(4711);
    for (int i = 0; i < 300; ++i) {
        std::string rec = g.record();
        int r = vendor_handle_data(rec);
        EXPECT_TRUE(r == 0 || r == 1 || r == 2 || r == 4) << r << " for " << rec;
    }
    // Nothing a record carried ran as SQL of its own.
    EXPECT_EQ(db_->value("SELECT count(*) > 0 FROM pms_guests WHERE pms_room = '101'"), "t");
}

class FiasFuzzFraming : public FiasTest {};

TEST_F(FiasFuzzFraming, TcpFramesWithStrayBytes) {
    ASSERT_NO_FATAL_FAILURE(start({}));
    selectVendor();
    Garble g(99);
    for (int i = 0; i < 300; ++i) {
        std::string prefix = g.bytes(5, std::string{STX, ETX});
        std::string body = g.bytes(200, std::string{STX, ETX});
        bool framed = g.chance(90);
        pms_->sendRaw(prefix + (framed ? std::string(1, STX) : "") + body + ETX);
        std::string got;
        int n = fias_read_msg(vendor(), 1, got);
        if (framed && !body.empty()) {
            ASSERT_GT(n, 0) << i;
            EXPECT_EQ(got, body);
        } else {
            ASSERT_LT(n, 0) << i;
        }
    }
}

TEST_F(FiasFuzzFraming, SerialFramesWithGarbledChecksums) {
    ASSERT_NO_FATAL_FAILURE(start({.serial = true, .settings = ""}));
    selectVendor();
    Garble g(7);
    // Every byte written to the line costs 100 ms: a few dozen frames.
    for (int i = 0; i < 16; ++i) {
        std::string lead;
        for (int k = g.upTo(2); k > 0; --k) lead += g.chance(50) ? ENQ : XON;
        std::string body = g.bytes(200, std::string(1, ETX));
        if (body.empty()) body = "GX|";
        char good = FiasPeer::lrc(body + ETX);
        char lrc = g.chance(60) ? good : static_cast<char>(g.upTo(255));
        bool accepted = lrc == good || lrc == '\n' || lrc == '\r';
        pms_->sendRaw(lead + STX + body + ETX + lrc);
        std::string got;
        int n = fias_read_msg(vendor(), 1, got);
        if (accepted) {
            ASSERT_GT(n, 0) << i;
            EXPECT_EQ(got, body);
        } else {
            ASSERT_LT(n, 0) << i;
        }
        // ENQ answers and the ACK or NAK of the frame.
        EXPECT_EQ(pms_->readRaw(lead.size() - std::count(lead.begin(), lead.end(), XON) + 1).back(),
                  accepted ? 0x06 : 0x15);
    }
}
