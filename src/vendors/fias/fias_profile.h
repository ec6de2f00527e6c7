// The FIAS record protocol shared by Micros-Fidelio and its relatives. One
// core does the framing, link life, posting, guest events and requests; what
// differs between the vendors is data in a FiasProfile, and each vendor keeps
// its own FiasState.
#pragma once

#include <array>
#include <ctime>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db.h"
#include "io_pms/io_common.h"
#include "platform/fmt_text.h"
#include "vendor.h"
#include "vendors/common/unserved.h"

// Flow-control bytes of a FIAS serial line (the framing bytes are the
// VENDOR_ ones of the vendor framework).
inline constexpr char kFiasXON = 0x11;
inline constexpr char kFiasXOFF = 0x13;

// When a link-description record is sent. Conditions combine with AND.
enum FiasWhen : unsigned {
    kFiasAlways = 0,
    kFiasUserStringsOn = 1u << 0,
    kFiasUserStringsOff = 1u << 1,
    kFiasPsPostOn = 1u << 2,
    kFiasPsPostOff = 1u << 3,
    kFiasOnlineMessages = 1u << 4,  // REQUEST_ONLINE_MESSAGES
    kFiasOnlineFolio = 1u << 5,     // REQUEST_ONLINE_FOLIO
    kFiasInquiryOn = 1u << 6,       // the posting-inquiry flag
    kFiasInquiryOff = 1u << 7,
};

struct FiasLinkRecord {
    const char* body;
    unsigned when;
};

struct FiasVendor;

// A record layout: type and fields between '|'. A field of exactly two
// characters is a tag filled from the record's values (TA, RN, P# ...); a
// longer one is written as it stands ("PTC", "SO123", "IDELI").
using FiasLayout = std::vector<std::string>;

// A record the vendor accepts from the PMS. Without a hook the core's handler
// for the code runs (none for a code the core does not know: the record is
// accepted and ignored); a vendor whose handling differs (DR, NS, NE, GI)
// names its own.
using FiasRecordHook = int (*)(FiasVendor& v, const std::string& body);
struct FiasAccepted {
    const char* code;
    FiasRecordHook hook = nullptr;
};

// When the posting inquiry (PR ... IDELI) goes before a PR posting.
enum class FiasInquiryRule {
    Always,
    Never,
    SettingAndNoGuest,  // with SEND_POST_INQUIRY on, and only when no guest number is known
};

// How the vendor starts its link.
enum class FiasStart {
    Fias,        // drain, LS, then the LS/LA answers (serial: 30 s quiet first)
    DrainFirst,  // drain with FLUSHTIMEOUT on every link, then LS
    LsOneAnswer, // drain, LS and one answer; no link description
};

// Settings a vendor reads at start besides USER_STRINGS and PSI_NO.
enum FiasReads : unsigned {
    kFiasReadsPsPost = 1u << 0,           // USE_PS_POST
    kFiasReadsMsgRetries = 1u << 1,       // MSG_RETRIES replaces the default retries
    kFiasReadsSendPostInquiry = 1u << 2,  // SEND_POST_INQUIRY
    kFiasReadsPostNullGuest = 1u << 3,    // POSTNULLGUEST
    kFiasReadsOnlineRequests = 1u << 4,   // REQUEST_ONLINE_MESSAGES, REQUEST_ONLINE_FOLIO
};

// A posting answer AS that marks the charge with a posted flag of its own, so
// that it is not offered again.
struct FiasRefusal {
    const char* status;  // "NF"
    int posted_flag;     // written by db_mark_posted
};

// Framing rules, for the frame decoder and encoder.
struct FiasFraming {
    bool lrc = true;                       // frames carry an LRC where the link uses one
    bool lrc_covers_etx = true;            // false: the LRC covers the text only
    bool cr_lf_as_lrc = false;             // a CR or LF in the LRC's place is accepted
    bool etb_ends_frame = false;           // ETB closes a frame too
    bool serial_rules_everywhere = false;  // LRC and ACK/NAK on every link type, not only RS232
};

// Defaults are Micros-Fidelio's, so that a profile names only what it changes.
struct FiasProfile {
    const char* name;        // registry name, "Micros-Fidelio 2-way"
    const char* prefix;      // operation prefix in log texts, "micfid"
    const char* proto_name;  // "Unsupported %s communication protocol!"
    const char* pms_name = "Micros";  // "%s PMS has halted connection ..."
    FmtText<const char*> vip_open_error;  // with the file path

    // What the vendor takes and serves.
    std::vector<FiasAccepted> records;  // in dispatch order
    ReqSlots served = kAllReqSlots & ~req_slot(ReqSlot::CheckInRoom);  // the others log their entry and answer 3
    FmtText<const char*, const char*> unserved_entry = "entering %s_handle_%s";  // prefix, slot name
    unsigned reads = 0;                 // FiasReads

    // Framing and handshake.
    FiasFraming framing = {};
    int default_retries = 3;              // frame sent at most retries + 1 times
    bool enquiry_counts_failures = true;  // unanswered enquiries count towards closing the link
    // A vendor whose handshake differs replaces the reading or sending rules
    // here; nullptr keeps the FIAS rules.
    int (*read_override)(FiasVendor& v, IoWait timeout, std::string& body) = nullptr;
    int (*write_override)(FiasVendor& v, std::string_view frame) = nullptr;

    // Link life.
    FiasStart start = FiasStart::Fias;
    const char* keepalive_type = "LS";  // or "LA"
    bool keepalive_on_serial = false;   // send the keep-alive on RS232 too
    // Debug text when LD's LRC collides.
    FmtText<char, const char*> ld_bad_lrc_text = "back checksum %c for %s";
    std::vector<FiasLinkRecord> link_records;
    bool describes_link = true;       // false: an LS is answered by READY alone, no LD
    const char* keepalive_log_type = nullptr;  // the type its log texts name, when not keepalive_type
    int keepalive_timeout_limit = 0;  // unanswered keep-alives that close the link (0: no limit)

    // Posting.
    FiasInquiryRule inquiry_rule = FiasInquiryRule::Always;
    FmtText<char, const char*> bad_lrc_text = "bad checksum %c for %s, modify";
    FiasLayout inquiry = {"PR", "DA", "PI", "TI", "P#", "SO123", "WS", "IDELI"};
    FiasLayout post_pr;
    FiasLayout post_ps_digits = {"PS", "DA", "DD", "DU", "PTC", "RN", "PC2", "TA", "TI", "P#"};
    FiasLayout post_ps_text;
    // "UR" to a zero charge counts as posted: it would otherwise go out at every scan.
    bool ur_zero_charge_ok = true;
    std::vector<FiasRefusal> refusals = {};  // answers that mark the charge anyway
    bool post_ps_always = false;         // every charge as the text PS, whatever USE_PS_POST says
    bool post_seq_is_row = false;        // P# of a posting is the charge's row number
    bool night_audit_holds_posting = false;  // nothing is posted between NS and NE
    // Without a guest number the VIP code is that of the room's current guest
    // of this instance.
    bool vip_by_room_guest = false;

    // Guest events.
    bool announces_messages;  // XL -> event 5
    bool announces_folio;     // XO -> event 6
    // Debug text of the room-move announcement: first, last, old room, new room.
    FmtText<const char*, const char*, const char*, const char*> room_move_text;
    // The class-of-service update of an RE record (its statement is logged
    // when it fails or changes nothing).
    long (*set_class_of_service)(const std::string& room, const std::string& cs, int psi_no,
                                 std::string* stmt) = db_pms_guests_set_class_of_service;

    // Where the related vendors part from Micros-Fidelio.

    // Start: checks and logs the settings just read, the vendor's way
    // (nullptr: the core's debug line); false refuses the start.
    bool (*settings_hook)(FiasVendor& v) = nullptr;
    FmtText<const char*> out_of_place_a = "Out-of-place (A) message found.. trying to handle '%s'";
    FmtText<const char*> out_of_place_b = "Out-of-place (B) message found.. trying to handle '%s'";
    // Waiting for STX: ENQ is answered NAK whatever was last answered, and a
    // stray byte is logged and skipped instead of failing the read.
    bool lenient_frame_wait = false;
    // Posting: the guest number comes from the charge, else the room's last
    // occupant, else the inquiry; with none, POSTNULLGUEST or USE_PS_POST
    // post the full charge anyway.
    bool guest_from_charge_or_occupant = false;
    const char* no_answer_text = "Did not recieve response from PMS";
    const char* bad_answer_text = "Did not recieve valid response from PMS";
    // Guest events.
    bool reads_resort_fee = false;           // RF of GI, GC and the posting list
    bool checkin_marks_guest_stale = false;  // every GI, not only one with SF

    // Requests.
    bool authorize_names_only = false;  // "first^last" only, no guest number
    bool auth_test_line = true;  // authorize logs "AUTH-TEST: entering handle_authorize"
    // Warning for a record other than XI or XB during a folio transfer.
    FmtText<const char*> folio_out_of_order =
        "Unexpected response to folio request.. expecting XI or XB, trying to handle it anyway '%s'";
    FmtText<const char*, const char*> messages_not_xt = "%s_get_guest_messages: not XT, handling [%s]";
};

// The lasting state of one vendor, in three parts that differ in how a
// vendor start treats them.

// Read again at every start (fias_load_settings).
struct FiasSettings {
    bool use_ps_post = false;
    bool user_strings = false;
    bool post_inquiry = false;
    bool post_null_guest = false;
    int psi_no = 0;
    int retries = 3;
    // VIP discount percentages by code 1-10.
    std::array<float, 10> vip{};
    bool vip_loaded = false;
};

// Belongs to one link: reset explicitly at every start (fias_reset_link).
// A posting whose answer did not come before the wait ran out: the PMS may
// still have taken it, and its late PA|ASOK marks it.
struct FiasLatePosting {
    std::string seq;  // the P# it went out with
    PMSPostInfo post;
};

struct FiasLinkState {
    int last_answer = VENDOR_NAK;  // re-sent when the PMS sends ENQ
    int fail_count = 0;            // consecutive time-outs; above 10 closes the link
    int dbswap_flag = 0;           // a resync the PMS is sending
    bool night_audit = false;      // between the PMS's NS and NE
    int keepalive_timeouts = 0;    // keep-alives in a row left unanswered
    bool last_read_garbled = false;  // the last failed read met line noise, not a broken link
    std::optional<FiasLatePosting> unanswered;  // the last posting given up on
    // Answers (PL, PA) read while the PMS started the link again inside the
    // wait for one of them: the wait takes them before it reads the line.
    std::deque<std::string> kept_answers;
};

// Kept for the life of the daemon: what the status requests report.
struct FiasHistory {
    time_t dbswap_time = 0;  // last change of the resync flag
    time_t last_rec_time = 0;
    std::string last_rec_type;
};

struct FiasState : FiasSettings, FiasLinkState, FiasHistory {};

struct FiasVendor {
    const FiasProfile& p;
    FiasState s;
};

// The user-defined strings A0-A9 are cut to this length.
inline constexpr size_t kFiasUserStringMax = 79;
