// FIAS framing and handshake against a scripted PMS: LRC and ACK/NAK/ENQ on
// a pseudo-terminal, plain frames on TCP, the failure counter.
#include <gtest/gtest.h>

#include "fias_env.h"
#include "link.h"
#include "logcapture.h"
#include "vendors/common/control_bytes.h"
#include "vendors/fias/fias_frame.h"
#include "vendors/fias/fias_record.h"

namespace {

using ctl::ACK, ctl::ENQ, ctl::ETX, ctl::NAK, ctl::STX;

}  // namespace

TEST(FiasRecord, FieldsDatesAndLayouts) {
    auto rec = fias_parse("GI|RN101|G#55|GNSmith|X|GNJones|");
    ASSERT_TRUE(rec);
    EXPECT_EQ(rec->type, "GI");
    EXPECT_EQ(rec->text("RN"), "101");
    EXPECT_EQ(rec->text("GN"), "Jones");  // the last one holds
    EXPECT_FALSE(rec->has("GF"));
    EXPECT_FALSE(fias_parse(""));
    EXPECT_FALSE(fias_record_type("LA"));
    EXPECT_EQ(fias_record_type("LA|"), "LA");

    std::string out;
    EXPECT_TRUE(fias_pms_to_db_datetime(out, "261208", "1405"));
    EXPECT_EQ(out, "2026-12-08 00:00:00");  // a short time is midnight
    EXPECT_TRUE(fias_pms_to_db_datetime(out, "261208", "140559"));
    EXPECT_EQ(out, "2026-12-08 14:05:59");
    EXPECT_FALSE(fias_pms_to_db_datetime(out, "2612", "140559"));
    EXPECT_FALSE(fias_pms_to_db_datetime(out, "26-2-8", "140559"));
    EXPECT_TRUE(fias_pms_to_db_datetime(out, "261208", "14:05:59"));
    EXPECT_EQ(out, "2026-12-08 00:00:00");
    // Digits that name no real date or time of day are refused too.
    for (auto [date, time] : {std::pair{"301332", "000000"}, {"260431", "000000"}, {"250229", "000000"},
                              {"261200", "000000"}, {"260015", "000000"}, {"261208", "240000"},
                              {"261208", "236000"}, {"261208", "235960"}})
        EXPECT_FALSE(fias_pms_to_db_datetime(out, date, time)) << date << " " << time;
    EXPECT_TRUE(fias_pms_to_db_datetime(out, "240229", "235959"));
    EXPECT_EQ(out, "2024-02-29 23:59:59");

    std::string da, ti;
    ASSERT_TRUE(fias_date_time(localTime(2006, 3, 4, 5, 6, 59), da, ti, 3));
    EXPECT_EQ(da, "060304");
    EXPECT_EQ(ti, "050662");  // the offset does not carry into the minutes
    EXPECT_FALSE(fias_date_time(static_cast<time_t>(-1), da, ti));

    EXPECT_EQ(fias_pms_to_time("261208", std::nullopt), localTime(2026, 12, 8, 0, 0, 1));
    EXPECT_EQ(fias_pms_to_time("261208", std::string_view("101112")), localTime(2026, 12, 8, 10, 11, 12));

    auto body = fias_build_body({"PR", "DA", "RN", "PTC", "SO123"}, {{"DA", "261208"}, {"RN", "101"}});
    EXPECT_EQ(body, "PR|DA261208|RN101|PTC|SO123|");
    EXPECT_FALSE(fias_build_body({"PR", "TA"}, {}));
}

class FiasSerial : public FiasTest {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(start({.serial = true, .settings = "MSG_RETRIES=2\n"})); selectVendor(); }
};

TEST_F(FiasSerial, ReadChecksLrcAnswersAckNakAndEnq) {
    // ENQ before any frame re-sends the initial answer, NAK.
    pms_->sendRaw(std::string(1, ENQ));
    pms_->sendRaw(pms_->frame("GX|RN1|"));
    std::string body;
    auto got = async([&] { return fias_read_response(vendor(), body); });
    EXPECT_EQ(pms_->readRaw(1), std::string(1, NAK));
    EXPECT_EQ(pms_->readRaw(1), std::string(1, ACK));
    EXPECT_GT(got.get(), 0);
    EXPECT_EQ(body, "GX|RN1|");

    // A corrupted LRC is refused with NAK; the PMS repeats the frame.
    std::string bad = pms_->frame("GX|RN2|");
    bad.back() ^= 0x40;
    pms_->sendRaw(bad);
    got = async([&] { return fias_read_response(vendor(), body); });
    EXPECT_EQ(pms_->readRaw(1), std::string(1, NAK));
    EXPECT_EQ(got.get(), -1);
    got = async([&] { return fias_read_response(vendor(), body); });
    EXPECT_EQ(pms_->sendRecord("GX|RN2|"), ACK);
    EXPECT_GT(got.get(), 0);
    EXPECT_EQ(body, "GX|RN2|");

    // After a good frame an ENQ is answered ACK; CR stands in for any LRC.
    pms_->sendRaw(std::string(1, ENQ) + STX + "GX|RN3|" + ETX + "\r");
    got = async([&] { return fias_read_response(vendor(), body); });
    EXPECT_EQ(pms_->readRaw(2), std::string(1, ACK) + ACK);
    EXPECT_GT(got.get(), 0);
    EXPECT_EQ(body, "GX|RN3|");

    // A stray byte before STX fails the read without an answer.
    pms_->sendRaw("Z");
    got = async([&] { return fias_read_response(vendor(), body); });
    EXPECT_EQ(got.get(), -1);
    EXPECT_TRUE(pms_->quiet(200));
}

TEST_F(FiasSerial, SendResendsAfterNakAndGivesUpAfterRetries) {
    auto sent = async([&] { return fias_write_msg(vendor(), "XM|G#7|RN101|"); });
    ASSERT_TRUE(pms_->expectRecord("XM|G#7|RN101|")) << pms_->lastBody();
    // expectRecord answered ACK already on the first try; test NAK next.
    EXPECT_EQ(sent.get(), 1);

    sent = async([&] { return fias_write_msg(vendor(), "XM|G#8|RN101|"); });
    auto first = pms_->readRecord(5000, NAK);
    ASSERT_TRUE(first);
    EXPECT_TRUE(pms_->lastLrcOk());
    auto again = pms_->readRecord(5000, ACK);  // the same frame once more
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, *first);
    EXPECT_EQ(sent.get(), 1);

    // MSG_RETRIES=2: three sends, all refused.
    LogCapture log;
    sent = async([&] { return fias_write_msg(vendor(), "XM|G#9|RN101|"); });
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(pms_->readRecord(5000, NAK)) << i;
    EXPECT_EQ(sent.get(), 0);
    EXPECT_TRUE(pms_->quiet(300));
    EXPECT_TRUE(log.contains("Too many failed attempts during send"));
}

TEST_F(FiasSerial, UnansweredFrameIsFollowedByTwoEnquiries) {
    auto sent = async([&] { return fias_write_msg(vendor(), "RE|RN101|RS1|"); });
    ASSERT_TRUE(pms_->readRecord(5000, 0));  // no answer
    EXPECT_EQ(pms_->readRaw(2, 3000), std::string(2, ENQ));
    pms_->sendRaw(std::string(1, ACK));
    EXPECT_EQ(sent.get(), 1);
    EXPECT_EQ(vendor().s.fail_count, 0);
}

TEST_F(FiasSerial, StampedFrameAvoidsEnqAndZeroLrc) {
    // Find a room and second whose frame would carry an LRC of ENQ or 0.
    std::string room;
    auto body_of = [&room](const std::string& da, const std::string& ti) -> std::optional<std::string> {
        return "PR|DA" + da + "|RN" + room + "|TA100|TI" + ti + "|";
    };
    time_t base = localTime(2026, 12, 8, 10, 20, 0);
    time_t hit = -1;
    for (char r = 'A'; r <= 'z' && hit < 0; ++r) {
        room = std::string("1") + r;
        for (time_t t = base; t < base + 60 && hit < 0; ++t) {
            std::string da, ti;
            fias_date_time(t, da, ti);
            char l = FiasPeer::lrc(*body_of(da, ti) + ETX);
            if (l == ENQ || l == 0) hit = t;
        }
    }
    ASSERT_GE(hit, 0);
    auto frame = fias_stamped_frame(vendor(), hit, body_of, "bad checksum %c for %s, modify");
    ASSERT_TRUE(frame);
    char l = frame->back();
    EXPECT_NE(l, ENQ);
    EXPECT_NE(l, 0);
    EXPECT_EQ(l, FiasPeer::lrc(frame->substr(1, frame->size() - 2)));
    std::string da, ti;
    fias_date_time(hit, da, ti);
    auto rec = fias_parse(frame->substr(1, frame->size() - 3));
    ASSERT_TRUE(rec);
    int raised = std::stoi(rec->text("TI").substr(4)) - std::stoi(ti.substr(4));
    EXPECT_GE(raised, 1);
    EXPECT_LE(raised, 3);
}

class FiasTcp : public FiasTest {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(start({})); selectVendor(); }
};

TEST_F(FiasTcp, PlainFramesStrayBytesAndMalformedRecords) {
    auto sent = async([&] { return fias_write_msg(vendor(), "XM|G#7|RN101|"); });
    EXPECT_EQ(sent.get(), 1);
    EXPECT_EQ(pms_->readRaw(15), std::string(1, STX) + "XM|G#7|RN101|" + ETX);

    std::string body;
    pms_->sendRaw("noise" + pms_->frame("GX|RN1|"));
    EXPECT_GT(fias_read_response(vendor(), body), 0);
    EXPECT_EQ(body, "GX|RN1|");

    // A NUL before STX is dropped like any stray byte: the record is read
    // and the link stays open.
    pms_->sendRaw(std::string(1, '\0') + pms_->frame("GX|RN2|"));
    EXPECT_GT(fias_read_response(vendor(), body), 0);
    EXPECT_EQ(body, "GX|RN2|");
    EXPECT_EQ(link_type(), LINK_TYPE_TCP);

    LogCapture log;
    pms_->sendRaw(std::string("GX|RN1|") + ETX);
    EXPECT_EQ(fias_read_response(vendor(), body), -1);
    EXPECT_TRUE(log.contains("Malformed record - GX|RN1|"));
}

TEST_F(FiasTcp, ElevenTimeoutsCloseTheLinkAndItReopens) {
    LogCapture log;
    std::string body;
    for (int i = 1; i <= 11; ++i) {
        ASSERT_EQ(fias_read_response(vendor(), body), 0) << i;
        EXPECT_EQ(vendor().s.fail_count, i);
    }
    // Above 10: the next read closes the link first and fails.
    EXPECT_EQ(fias_read_response(vendor(), body), -1);
    EXPECT_EQ(link_type(), LINK_TYPE_CLOSED);
    EXPECT_EQ(vendor().s.fail_count, 0);
    EXPECT_TRUE(log.contains("PMS connection has been terminated.. will attempt to reopen in POSTDELAY seconds"));

    // The next open reaches the PMS again.
    ASSERT_GE(link_open(), 0);
    ASSERT_TRUE(pms_->accept());
    pms_->sendRecord("GX|RN1|");
    EXPECT_GT(fias_read_response(vendor(), body), 0);
}
