// The line protocol of the Marriott family: fixed-layout text records in
// STX/ETX/LRC frames, each acknowledged byte by byte; whoever wants to send
// bids for the line with ENQ and ends its turn with EOT. One core holds the
// line discipline, the records and the exchanges; a vendor is a LineProfile
// (texts and knobs) with its own LineVendor state.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vendor.h"

// Type and class fields of a POST record for a charge's wired flag.
struct LinePostClass {
    std::string type;   // two characters
    std::string klass;  // eight characters
};

struct LineProfile {
    const char* name;    // registry name
    const char* prefix;  // "marriott": how the operations are named in log texts
    // Spelling of the NAME debug line's verb ("receiving" / "reciving").
    const char* look_info_verb;
    // Spelling in the "will be marked as posted" line ("becuase" / "because").
    const char* because_word;
    LinePostClass (*post_class)(int wired_flag);
    // Seconds to wait for the first answer to an authorisation LOOK, and the
    // text when none comes.
    int auth_look_wait;
    const char* auth_look_silence;
    bool serves_equipment_status;  // slot 7 answers 0 instead of 3
};

// Where the line stands. Entering a state (change_state) also tells the
// control server whether charges may be posted.
enum class LineState {
    StartPending,  // the start's bid failed: BUSY until a start succeeds
    Idle,          // started, nobody holds the line: READY
    Holding,       // we won a bid and have not yet sent EOT
};

// Read again at every start.
struct LineSettings {
    int psi_no = 0;
    int look_wait = 60;  // first NAME after an unexpected record (LOOK_WAIT)
    int name_wait = 10;  // between NAME answers (NAME_WAIT)
};

// Belongs to one link: reset at every start.
struct LineLink {
    LineState state = LineState::StartPending;
    bool started = false;   // STRT went out on this link
    bool in_start = false;  // a start is running (an EOT then does not start another)
    time_t last_activity = 0;
};

// Kept for the life of the daemon: what the status request reports.
struct LineHistory {
    std::string last_code;
    time_t last_code_time = 0;
};

struct LineVendor {
    const LineProfile& p;
    LineSettings set{};
    LineLink link{};
    LineHistory hist{};
};

inline constexpr int kLineReadWait = 3;  // seconds: answers, ACKs, bids
inline constexpr int kLineAttempts = 4;  // bids and sends of one record
inline constexpr size_t kLineRoomWidth = 6;
inline constexpr size_t kLineAmountWidth = 11;

// ---- line discipline (line_link.cpp) ------------------------------------
void line_change_state(LineVendor& v, LineState to);
bool line_write_byte(LineVendor& v, char byte);
bool line_eot(LineVendor& v);
bool line_bid(LineVendor& v);
bool line_write_msg(LineVendor& v, std::string_view text);
// Length of the record read, 0 on time-out, -1 on error or an EOT.
int line_read_msg_timeout(LineVendor& v, std::string& record, int timeout);

// ---- records (line_records.cpp) -----------------------------------------
// The code 1-14 of an ERR answer after appending its text to `reply`; 0 otherwise.
int line_parse_error(const std::string& record, std::string& reply);
std::optional<std::string> line_parse_cmd(LineVendor& v, const std::string& record);
int line_start(LineVendor& v);
int line_cmd_echo(LineVendor& v, const std::string& record);
int line_cmd_checkout(LineVendor& v, const std::string& record);
ReqResult line_check_room_status(const std::string& room, int32_t& status, std::string& reply);
void line_check_status(const LineVendor& v, std::optional<std::string>& status);
// The room of a CHKI or CHKO record (positions 4-9, blanks removed), or
// nullopt when the record is too short or the room holds control bytes.
std::optional<std::string> line_record_room(const std::string& record);
// A room fit for a LOOK, CONF or POST field: 1-6 printable characters.
bool line_room_fits(std::string_view room);

// ---- guests (line_guest.cpp) --------------------------------------------
enum class LookResult { Named = 0, Failed = 4, Vacant = 5 };
LookResult line_look_request(LineVendor& v, const std::string& room, std::vector<std::string>& names,
                             std::string& reply);
int line_cmd_checkin(LineVendor& v, const std::string& record);
int line_harvest(LineVendor& v);

// ---- posting and authorisation (line_post.cpp) --------------------------
// How a POST ended: taken, refused but to be counted as posted, or not posted.
enum class PostOutcome { Posted, Settled, Failed };
// The POST record for a charge, or nullopt (logged) when room or amount do
// not fit their fields.
std::optional<std::string> line_post_record(const LineProfile& p, const PMSPostInfo& post);
PostOutcome line_post_charge(LineVendor& v, const PMSPostInfo& post, std::string& reply);
ReqResult line_authorize(LineVendor& v, const std::string& room, const std::string& data, std::string& reply);

// ---- the descriptor (line_vendor.cpp) ------------------------------------
// The descriptor of a vendor on this core; `v` lives as long as the process.
VendorDescriptor line_vendor_descriptor(LineVendor& v);
