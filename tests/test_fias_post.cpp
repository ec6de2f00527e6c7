// FIAS charge posting against a scripted PMS and a real database: inquiry
// and PR, PS layouts, VIP discounts, answers that are not a posting.
#include <gtest/gtest.h>

#include <limits>

#include "db.h"
#include "fias_env.h"
#include "io_gwy/server.h"
#include "logcapture.h"
#include "scan.h"
#include "state.h"
#include "vendor.h"
#include "vendors/fias/fias_record.h"

namespace {

constexpr time_t kStart = 1796724000;  // a fixed session start

std::string da(time_t t) {
    std::string d, ti;
    fias_date_time(t, d, ti);
    return d;
}
std::string ti(time_t t) {
    std::string d, tt;
    fias_date_time(t, d, tt);
    return tt;
}

}  // namespace

class FiasPost : public FiasTest {
protected:
    void begin(bool serial, const std::string& settings = "") {
        ASSERT_NO_FATAL_FAILURE(start({.serial = serial, .database = true, .settings = settings}));
        selectVendor();
    }
    // A session row to charge, and the record the scan would make of it.
    PMSPostInfo charge(const std::string& room, float amount, const std::string& mac = "00:1a:2b:3c:4d:5e") {
        std::string seq = db_->value(
            "INSERT INTO session_info (ses_room_no, ses_amount, ses_mac, ses_reg_time_dt) VALUES ('" + room + "', " +
            std::to_string(amount) + ", '" + mac + "', to_timestamp(" + std::to_string(kStart) +
            ")) RETURNING ses_seq_no");
        PMSPostInfo p;
        p.db_seqno = std::stoll(seq);
        p.ses_seq_no = static_cast<int32_t>(p.db_seqno);
        p.start_time = kStart;
        p.room = room;
        p.charge = amount;
        p.mac = mac;
        p.type = PMS_POST_TYPE_STANDARD;
        return p;
    }
    // The room inquiry for room 101, answered with guest 55 (Smith).
    void answerInquiry() {
        ASSERT_TRUE(pms_->expectRecord("PR|DA*|PI101|TI*|P#*|SO123|WS001a2b3c4d5e|IDELI|")) << pms_->lastBody();
        pms_->sendRecord("PL|P#" + fias_parse(pms_->lastBody())->text("P#") +
                         "|DA261208|TI101010|RN101|G#55|GNSmith|GA261201|GD261215|");
    }
    auto post(const PMSPostInfo& p, std::string& reply) {
        return async([&p, &reply] { return vendor_current()->post_charge(p, reply); });
    }
    void postThroughInquiry() {
        PMSPostInfo p = charge("101", 12.34f);
        std::string reply;
        auto result = post(p, reply);
        ASSERT_TRUE(pms_->expectRecord("PR|DA*|PI101|TI*|P#*|SO123|WS001a2b3c4d5e|IDELI|")) << pms_->lastBody();
        if (pms_->isSerial()) {
            EXPECT_TRUE(pms_->lastLrcOk());
        }
        auto inquiry = fias_parse(pms_->lastBody());
        pms_->sendRecord("PL|P#" + inquiry->text("P#") +
                         "|DA261208|TI101010|RN101|G#55|GNSmith|GFJohn|GA261201|GD261215|");
        std::string expected = "PR|DA" + da(kStart) + "|G#55|RN101|TA1234|TI" + ti(kStart) +
                               "|P#*|GNSmith|WS001a2b3c4d5e|PTC|";
        ASSERT_TRUE(pms_->expectRecord(expected)) << pms_->lastBody();
        auto posting = fias_parse(pms_->lastBody());
        EXPECT_NE(posting->text("P#"), inquiry->text("P#"));  // a fresh number per record
        // A check-in arriving before the answer is handled on the way.
        pms_->sendRecord("GI|RN102|G#77|GNDoe|GA261201|GD261215|DA261208|TI101011|");
        // Line noise before the answer does not end the wait for it: a charge
        // given up on here would be posted a second time.
        if (pms_->isSerial()) {
            std::string garbled = pms_->frame("PA|P#1|ASNG|");
            garbled.back() = static_cast<char>(garbled.back() ^ 0x55);
            pms_->sendRaw(garbled);
            EXPECT_EQ(pms_->readRaw(1, 2000), "\x15");  // NAK
        } else {
            pms_->sendRaw(std::string("noise\0\x03\x02\x03", 9));
        }
        pms_->sendRecord("PA|P#" + posting->text("P#") + "|ASOK|DA261208|TI101012|");
        ASSERT_EQ(result.get(), 0) << reply;
        // The scan-and-post cycle marks the row.
        ASSERT_EQ(db_mark_posted(p, 1), 1);
        EXPECT_EQ(db_->value("SELECT ses_posted_flag FROM session_info WHERE ses_seq_no = " +
                             std::to_string(p.db_seqno)),
                  "1");
        EXPECT_EQ(db_->value("SELECT pms_name_last FROM pms_guests WHERE pms_room = '102'"), "Doe");
        // Inquiry without update: the room's guests are left alone.
        EXPECT_EQ(db_->value("SELECT count(*) FROM pms_guests WHERE pms_room = '101'"), "0");
    }
};

TEST_F(FiasPost, ChargeThroughInquiryAndPrOverTcp) {
    begin(false);
    postThroughInquiry();
}

TEST_F(FiasPost, ChargeThroughInquiryAndPrOverSerial) {
    begin(true);
    postThroughInquiry();
}

TEST_F(FiasPost, VipDiscountPostsPartAndRecordsTheRest) {
    begin(false, "VIP=1\n");
    db_->exec("INSERT INTO pms_guests (pms_room, pms_guest_no, pms_name_last, pms_vip_status) VALUES "
              "('101', '55', 'Smith', '3')");
    PMSPostInfo p = charge("101", 10.00f);
    std::string reply;
    auto result = post(p, reply);
    ASSERT_TRUE(pms_->expectRecord("PR|DA*|PI101|TI*|P#*|SO123|WS001a2b3c4d5e|IDELI|")) << pms_->lastBody();
    pms_->sendRecord("PL|DA261208|TI101010|RN101|G#55|GNSmith|GV3|GA261201|GD261215|");
    ASSERT_TRUE(pms_->expectRecord("PR|DA*|G#55|RN101|TA800|TI*|P#*|GNSmith|WS001a2b3c4d5e|PTC|"))
        << pms_->lastBody();
    pms_->sendRecord("PA|ASOK|DA261208|TI101012|");
    ASSERT_EQ(result.get(), 0) << reply;
    auto rows = db_->rows("SELECT pms_room, pms_guest_no, pms_vip_status, pms_discount FROM pms_discounts");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"101", "55", "3", "2"}));

    // A VIP status that is no code posts the full charge and grants nothing.
    db_->exec("UPDATE pms_guests SET pms_vip_status = '11'");
    result = post(p, reply);
    ASSERT_TRUE(pms_->expectRecord("PR|DA*|PI101|TI*|P#*|SO123|WS001a2b3c4d5e|IDELI|"));
    pms_->sendRecord("PL|DA261208|TI101010|RN101|G#55|GNSmith|GA261201|GD261215|");
    ASSERT_TRUE(pms_->expectRecord("PR|DA*|G#55|RN101|TA1000|TI*|P#*|GNSmith|WS001a2b3c4d5e|PTC|"))
        << pms_->lastBody();
    pms_->sendRecord("PA|ASOK|DA261208|TI101012|");
    ASSERT_EQ(result.get(), 0) << reply;
    EXPECT_EQ(db_->value("SELECT count(*) FROM pms_discounts"), "1");
}

TEST_F(FiasPost, BookedChargeStandsWhenTheDiscountRowIsNotStored) {
    begin(false, "VIP=1\n");
    db_->exec("INSERT INTO pms_guests (pms_room, pms_guest_no, pms_name_last, pms_vip_status) VALUES "
              "('101', '55', 'Smith', '3')");
    // The discount insert adds no row; the PMS has booked the charge all the same.
    db_->exec("CREATE RULE no_discounts AS ON INSERT TO pms_discounts DO INSTEAD NOTHING");
    PMSPostInfo p = charge("101", 10.00f);
    std::string reply;
    auto result = post(p, reply);
    ASSERT_TRUE(pms_->expectRecord("PR|DA*|PI101|TI*|P#*|SO123|WS001a2b3c4d5e|IDELI|")) << pms_->lastBody();
    pms_->sendRecord("PL|DA261208|TI101010|RN101|G#55|GNSmith|GV3|GA261201|GD261215|");
    ASSERT_TRUE(pms_->expectRecord("PR|DA*|G#55|RN101|TA800|TI*|P#*|GNSmith|WS001a2b3c4d5e|PTC|"))
        << pms_->lastBody();
    pms_->sendRecord("PA|ASOK|DA261208|TI101012|");
    EXPECT_EQ(result.get(), 0) << reply;
    EXPECT_EQ(db_->value("SELECT count(*) FROM pms_discounts"), "0");
}

TEST_F(FiasPost, PsPostingsRoundingAndAnswersThatAreNoPosting) {
    begin(false, "USE_PS_POST=1\n");
    std::string reply;

    // Clear-text layout; 0.29 is sent as 29 hundredths, not 28.
    PMSPostInfo p = charge("101", 0.29f);
    auto result = post(p, reply);
    ASSERT_TRUE(pms_->expectRecord("PS|DA" + da(kStart) + "|PTC|RN101|PC4|TA29|TI" + ti(kStart) +
                                   "|CT00:1a:2b:3c:4d:5e|P#*|"))
        << pms_->lastBody();
    pms_->sendRecord("PA|ASOK|DA261208|TI101012|");
    EXPECT_EQ(result.get(), 0) << reply;

    // Dialled-digits layout.
    p.dialed_digits = "5551234";
    p.duration = 60;
    p.charge = 1.5f;
    result = post(p, reply);
    ASSERT_TRUE(pms_->expectRecord("PS|DA*|DD5551234|DU60|PTC|RN101|PC2|TA150|TI*|P#*|")) << pms_->lastBody();
    pms_->sendRecord("PA|ASUR|DA261208|TI101012|");
    EXPECT_EQ(result.get(), 4);  // UR for a real charge is a refusal
    EXPECT_EQ(reply, "PMS returned unsuccessful post response: UR");

    // UR for a zero charge counts as posted.
    p.dialed_digits.clear();
    p.charge = 0;
    reply.clear();
    result = post(p, reply);
    ASSERT_TRUE(pms_->expectRecord("PS|DA*|PTC|RN101|PC4|TA0|TI*|CT00:1a:2b:3c:4d:5e|P#*|")) << pms_->lastBody();
    pms_->sendRecord("PA|ASUR|DA261208|TI101012|");
    EXPECT_EQ(result.get(), 0) << reply;

    // A PA without AS carries no status: not posted.
    p.charge = 2;
    result = post(p, reply);
    ASSERT_TRUE(pms_->expectRecord("PS|DA*|PTC|RN101|PC4|TA200|TI*|CT00:1a:2b:3c:4d:5e|P#*|"));
    pms_->sendRecord("PA|DA261208|TI101012|");
    EXPECT_EQ(result.get(), 4);
    EXPECT_EQ(reply, "PMS returned unsuccessful post response: ");

    // No answer.
    reply.clear();
    result = post(p, reply);
    ASSERT_TRUE(pms_->expectRecord("PS|DA*|PTC|RN101|PC4|TA200|TI*|CT00:1a:2b:3c:4d:5e|P#*|"));
    EXPECT_EQ(result.get(), 4);
    EXPECT_EQ(reply, "Did not recieve response from PMS");

    // A session without start time is refused before anything is sent.
    p.start_time = 0;
    EXPECT_EQ(vendor_current()->post_charge(p, reply), 4);
    EXPECT_EQ(reply, "DB reported invalid date");
}

TEST_F(FiasPost, InquiryRefusedByThePms) {
    begin(false);
    PMSPostInfo p = charge("101", 5);
    std::string reply;
    auto result = post(p, reply);
    ASSERT_TRUE(pms_->expectRecord("PR|DA*|PI101|TI*|P#*|SO123|WS001a2b3c4d5e|IDELI|"));
    pms_->sendRecord("PA|ASNG|CTNo guest|DA261208|TI101012|");
    EXPECT_EQ(result.get(), 4);
    EXPECT_EQ(reply, "PA from PI for room 101, NG - No guest");
    EXPECT_TRUE(pms_->quiet(200));  // no posting follows

    // A PL that names no guest gives nobody to post to.
    result = post(p, reply);
    ASSERT_TRUE(pms_->expectRecord("PR|DA*|PI101|TI*|P#*|SO123|WS001a2b3c4d5e|IDELI|"));
    pms_->sendRecord("PL|DA261208|TI101010|RN101|");
    EXPECT_EQ(result.get(), 4);
    EXPECT_TRUE(pms_->quiet(200));
}

TEST_F(FiasPost, LateAnswerToAnEarlierRecordIsNotTaken) {
    begin(false);
    LogCapture log;
    auto other = [](const std::string& seq) { return std::to_string((std::stoi(seq) + 1) % 10000); };
    PMSPostInfo p = charge("101", 5);
    std::string reply;
    auto result = post(p, reply);
    ASSERT_TRUE(pms_->expectRecord("PR|DA*|PI101|TI*|P#*|SO123|WS001a2b3c4d5e|IDELI|"));
    std::string seq = fias_parse(pms_->lastBody())->text("P#");
    // The refusal of an earlier inquiry, then this one's guest list.
    pms_->sendRecord("PA|P#" + other(seq) + "|ASNG|CTNo guest|DA261208|TI101012|");
    pms_->sendRecord("PL|P#" + seq + "|DA261208|TI101010|RN101|G#55|GNSmith|GA261201|GD261215|");
    ASSERT_TRUE(pms_->expectRecord("PR|DA*|G#55|RN101|TA500|TI*|P#*|GNSmith|WS001a2b3c4d5e|PTC|"))
        << pms_->lastBody();
    seq = fias_parse(pms_->lastBody())->text("P#");
    // An earlier posting's OK arrives late; this posting is refused.
    pms_->sendRecord("PA|P#" + other(seq) + "|ASOK|DA261208|TI101012|");
    // Unnumbered answers naming another room or another guest are not ours either.
    pms_->sendRecord("PA|ASOK|RN999|");
    pms_->sendRecord("PA|ASOK|RN101|G#56|");
    pms_->sendRecord("PA|P#" + seq + "|ASNP|CTNo post allowed|DA261208|TI101012|");
    EXPECT_EQ(result.get(), 4);
    EXPECT_EQ(reply, "PMS returned unsuccessful post response: NP");
    EXPECT_TRUE(log.contains("is for P# " + other(seq) + ", not " + seq + "; ignored"));
    EXPECT_TRUE(log.contains("answer 'PA|ASOK|RN999|' is for another room or guest, not room 101; ignored"));

    // The same number written with leading zeros is this record's answer.
    result = post(p, reply);
    ASSERT_TRUE(pms_->expectRecord("PR|DA*|PI101|TI*|P#*|SO123|WS001a2b3c4d5e|IDELI|"));
    seq = fias_parse(pms_->lastBody())->text("P#");
    pms_->sendRecord("PL|P#0000" + seq + "|DA261208|TI101010|RN101|G#55|GNSmith|GA261201|GD261215|");
    ASSERT_TRUE(pms_->expectRecord("PR|DA*|G#55|RN101|TA500|TI*|P#*|GNSmith|WS001a2b3c4d5e|PTC|"));
    seq = fias_parse(pms_->lastBody())->text("P#");
    pms_->sendRecord("PA|P#" + seq + "|ASOK|DA261208|TI101012|");
    EXPECT_EQ(result.get(), 0) << reply;
}

TEST_F(FiasPost, ChargeTextsThatWouldForgeFieldsAreRefusedUnsent) {
    begin(false);
    struct Case {
        std::string room, mac;
        float amount;
        const char* field;
    };
    const Case cases[] = {
        {"101|TA1", "00:1a:2b:3c:4d:5e", 5, "RN"},
        {std::string("101\x03\x02PA|ASOK", 10), "00:1a:2b:3c:4d:5e", 5, "RN"},
        {"101", "00:11|TA2|CTx", 5, "CT"},
        {"101", "00:1a:2b:3c:4d:5e", std::numeric_limits<float>::quiet_NaN(), "TA"},
        {"101", "00:1a:2b:3c:4d:5e", std::numeric_limits<float>::infinity(), "TA"},
        {"101", "00:1a:2b:3c:4d:5e", 1e30f, "TA"},
    };
    for (const Case& c : cases) {
        LogCapture log;
        PMSPostInfo p = charge("101", 5);
        p.room = c.room;
        p.mac = c.mac;
        p.charge = c.amount;
        std::string reply;
        EXPECT_EQ(vendor_current()->post_charge(p, reply), 4) << c.field;
        EXPECT_TRUE(pms_->quiet(100)) << "sent for " << c.field;
        EXPECT_TRUE(log.contains("Refusing charge row " + std::to_string(p.db_seqno) + ": field " + c.field))
            << c.field;
    }
    // A negative amount is a refund and goes out as one.
    PMSPostInfo p = charge("101", -2.5f);
    std::string reply;
    auto result = post(p, reply);
    ASSERT_TRUE(pms_->expectRecord("PR|DA*|PI101|TI*|P#*|SO123|WS001a2b3c4d5e|IDELI|"));
    pms_->sendRecord("PL|DA261208|TI101010|RN101|G#55|GNSmith|GA261201|GD261215|");
    ASSERT_TRUE(pms_->expectRecord("PR|DA*|G#55|RN101|TA-250|TI*|P#*|GNSmith|WS001a2b3c4d5e|PTC|")) << pms_->lastBody();
    pms_->sendRecord("PA|ASOK|RN101|");
    EXPECT_EQ(result.get(), 0) << reply;
}

TEST_F(FiasPost, ScanAndPostCycleMarksTheRowAndLogsBilling) {
    begin(false);
    g_vendor_id = VENDOR_MICROS_FIDELIO;
    svr_setReady();
    std::string seq = db_->value(
        "INSERT INTO session_info (ses_room_no, ses_reg_time_dt, ses_reg_expire_dt, ses_amount, ses_mac) VALUES "
        "('101', now() - interval '1 hour', now(), 3.00, '00:1a:2b:3c:4d:5e') RETURNING ses_seq_no");
    LogCapture log;
    auto cycle = async([] { pms_db_scan_and_post(); });
    ASSERT_TRUE(pms_->expectRecord("PR|DA*|PI101|TI*|P#*|SO123|WS001a2b3c4d5e|IDELI|")) << pms_->lastBody();
    pms_->sendRecord("PL|DA261208|TI101010|RN101|G#55|GNSmith|GA261201|GD261215|");
    ASSERT_TRUE(pms_->expectRecord("PR|DA*|G#55|RN101|TA300|TI*|P#*|GNSmith|WS001a2b3c4d5e|PTC|"))
        << pms_->lastBody();
    pms_->sendRecord("PA|ASOK|DA261208|TI101012|");
    cycle.get();
    g_vendor_id = -1;
    EXPECT_EQ(db_->value("SELECT ses_posted_flag FROM session_info WHERE ses_seq_no = " + seq), "1");
    EXPECT_TRUE(log.contains("BILLING posted " + seq + " ")) << "no BILLING line";
    EXPECT_TRUE(log.contains(" 101 3.00 00:1a:2b:3c:4d:5e"));
}

TEST_F(FiasPost, LateOkMarksTheChargeWhoseWaitRanOut) {
    begin(false, "PMSCOMMTIMEOUT=1\n");
    g_vendor_id = VENDOR_MICROS_FIDELIO;
    svr_setReady();
    auto add = [this](const std::string& room) {
        return db_->value(
            "INSERT INTO session_info (ses_room_no, ses_reg_time_dt, ses_reg_expire_dt, ses_amount, ses_mac) VALUES "
            "('" + room + "', now() - interval '1 hour', now(), 3.00, '00:1a:2b:3c:4d:5e') RETURNING ses_seq_no");
    };
    const std::string first = add("101"), second = add("102");
    LogCapture log;
    auto cycle = async([] { pms_db_scan_and_post(); });
    ASSERT_TRUE(pms_->expectRecord("PR|DA*|PI101|TI*|P#*|SO123|WS001a2b3c4d5e|IDELI|")) << pms_->lastBody();
    pms_->sendRecord("PL|DA261208|TI101010|RN101|G#55|GNSmith|GA261201|GD261215|");
    ASSERT_TRUE(pms_->expectRecord("PR|DA*|G#55|RN101|TA300|TI*|P#*|GNSmith|WS001a2b3c4d5e|PTC|"));
    const std::string late = fias_parse(pms_->lastBody())->text("P#");
    // No answer within PMSCOMMTIMEOUT: the scan goes on to the next charge,
    // and the PMS's OK for the first comes while it asks about the second.
    ASSERT_TRUE(pms_->expectRecord("PR|DA*|PI102|TI*|P#*|SO123|WS001a2b3c4d5e|IDELI|", 8000)) << pms_->lastBody();
    const std::string inquiry = fias_parse(pms_->lastBody())->text("P#");
    pms_->sendRecord("PA|P#" + late + "|ASOK|DA261208|TI101012|");
    pms_->sendRecord("PL|P#" + inquiry + "|DA261208|TI101010|RN102|G#56|GNJones|GA261201|GD261215|");
    ASSERT_TRUE(pms_->expectRecord("PR|DA*|G#56|RN102|TA300|TI*|P#*|GNJones|WS001a2b3c4d5e|PTC|"));
    pms_->sendRecord("PA|P#" + fias_parse(pms_->lastBody())->text("P#") + "|ASOK|DA261208|TI101013|");
    cycle.get();
    g_vendor_id = -1;
    // Both are posted and marked once: the first is not offered again.
    EXPECT_EQ(db_->value("SELECT string_agg(ses_posted_flag::text, ',' ORDER BY ses_seq_no) FROM session_info"), "1,1");
    EXPECT_TRUE(log.contains("Late answer to the posting of charge seq[" + first + "] (P# " + late +
                             "): OK; the PMS took it, marked posted"));
    EXPECT_TRUE(log.contains("BILLING posted " + first + " ")) << "no BILLING line for the late one";
    EXPECT_TRUE(log.contains("BILLING posted " + second + " "));
}

TEST_F(FiasPost, NoiseOrAPmsFrameInTheAckWaitDoesNotSendThePostingAgain) {
    begin(true);
    PMSPostInfo p = charge("101", 7);
    std::string reply;
    auto result = post(p, reply);
    ASSERT_NO_FATAL_FAILURE(answerInquiry());
    // Left unacknowledged: line noise and a check-in of the PMS's own come
    // first, then the ACK of the posting.
    auto posting = pms_->readRecord(5000, 0);
    ASSERT_TRUE(posting && FiasPeer::matches("PR|DA*|G#55|RN101|TA700|TI*|P#*|GNSmith|WS001a2b3c4d5e|PTC|", *posting))
        << posting.value_or("(none)");
    pms_->sendRaw(std::string("\0\0\xff noise\r\n", 10));
    pms_->sendRecord("GI|RN102|G#77|GNDoe|GA261201|GD261215|DA261208|TI101011|", false);
    pms_->sendRaw("\x06");
    // The check-in is refused with NAK, to come again; the posting is not sent again.
    EXPECT_EQ(pms_->readRaw(1, 3000), "\x15");
    EXPECT_EQ(pms_->sendRecord("GI|RN102|G#77|GNDoe|GA261201|GD261215|DA261208|TI101011|"), '\x06');
    pms_->sendRecord("PA|P#" + fias_parse(*posting)->text("P#") + "|ASOK|DA261208|TI101012|");
    EXPECT_EQ(result.get(), 0) << reply;
    EXPECT_TRUE(pms_->quiet(1500));
    EXPECT_EQ(db_->value("SELECT pms_name_last FROM pms_guests WHERE pms_room = '102'"), "Doe");
}

TEST_F(FiasPost, AnswerThatComesWithARestartOfTheLinkIsNotLost) {
    begin(true);
    PMSPostInfo p = charge("101", 8);
    std::string reply;
    auto result = post(p, reply);
    ASSERT_NO_FATAL_FAILURE(answerInquiry());
    ASSERT_TRUE(pms_->expectRecord("PR|DA*|G#55|RN101|TA800|TI*|P#*|GNSmith|WS001a2b3c4d5e|PTC|"));
    const std::string seq = fias_parse(pms_->lastBody())->text("P#");
    // The PMS starts the link again and sends the posting's answer right
    // behind its LS: the daemon describes the link inside the wait for the
    // answer, and the answer read on the way is kept for that wait.
    pms_->sendRecord("LS|DA261208|TI101011|");
    pms_->sendRecord("PA|P#" + seq + "|ASOK|DA261208|TI101012|");
    for (int i = 0; i < 40; ++i) {
        auto rec = pms_->readRecord();
        ASSERT_TRUE(rec) << "link description not ended by LA";
        if (rec->rfind("LA|", 0) == 0) break;
    }
    pms_->sendRecord("LA|DA261208|TI101013|");
    EXPECT_EQ(result.get(), 0) << reply;
    EXPECT_TRUE(pms_->quiet(1000));
}
