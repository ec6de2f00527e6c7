// Database layer: the daemon's one connection to the gateway database and
// every statement it runs on the charge, occupancy and session tables.
// Results: 1/0 for success/failure unless said otherwise.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dbclient.h"
#include "utils/strutils.h"

// ---- Connection, statements, escaping -----------------------------------

// This interface instance's number in the shared tables (setting PSI_NO).
extern int g_psi_no;

// 1 when connected (also when a handle is already held), 0 on failure.
int db_connect();
// Closes the connection; the result of vornDB_disconnect.
int db_disconnect();
// The held connection (nullptr when there is none), for row accessors and libpq.
PGconn* db_handle();
// 0 when usable, -1 when lost and the one reset failed.
int db_check_connection(PGconn* conn);
// The idle connection's socket for the main loop's wait, -1 when there is
// no usable connection.
int db_idle_fd();
// What that wait saw on it: input is read at once (a server going away says
// so), and a quiet socket spares the next statement its own look.
void db_idle_seen(bool readable);
// The daemon's connection exists and answers (after a reset when it had dropped).
bool db_available();
// A connection was made and is unreachable now, even after a reset.
bool db_lost();
// A statement that returns rows: the result, or an empty one on failure.
DbResult db_query(const char* sql, int64_t* rows, int64_t* fields);
// A statement whose outcome is a count: affected rows, or -1 on failure.
long db_command(const char* sql);
// A statement the daemon runs often: prepared on the connection at its first
// use (again after a reconnect) and run with its values as parameters $1..$n,
// sent as text. `name` is unique among them.
struct DbStatement {
    const char* name;
    const char* sql;
};
// As db_query and db_command, for a prepared statement.
DbResult db_query_prepared(const DbStatement& st, std::initializer_list<std::string_view> params, int64_t* rows,
                           int64_t* fields);
long db_command_prepared(const DbStatement& st, std::initializer_list<std::string_view> params);
// Escaped copy for use between single quotes; nullopt for an empty text,
// an escaping error, or a text above 32,767 bytes.
std::optional<std::string> db_escape_string(std::string_view text);
// The escaped copy, or "" where db_escape_string gives none: what goes
// between the quotes of a statement.
std::string db_escape_or_empty(std::string_view text);
// Escapes `text` in place when it is at most 255 bytes and its escaped form
// fits `size` bytes with a terminator; 1 on success (also for ""), else 0
// with the text unchanged.
int db_escape_in_place(std::string& text, size_t size);
// Next value of pms_message_seq; 0 on failure.
int db_get_message_seq_no();
// Sets pms_message_seq back to 100 so that the next number is 101.
int db_reset_message_seq_no();
// Appends every room of valid_port_id to `rooms`; the number of rooms.
int db_get_all_rooms(StrList& rooms);
// Local time as "%Y-%m-%d %H:%M:%S", the form the daemon writes date-times in.
std::string db_local_time_text(time_t t);

// ---- Unposted charges ----------------------------------------------------

enum PmsPostType : int {
    PMS_POST_TYPE_NONE = 0,      // built outside the scan (control port)
    PMS_POST_TYPE_STANDARD = 1,  // session_info
    PMS_POST_TYPE_BYTE = 2,      // session_traffic
    PMS_POST_TYPE_TIME = 3,      // sub_session_info
    PMS_POST_TYPE_AUX = 4,       // aux_service_info
    PMS_POST_TYPE_SESSION = 5,   // session_info, marked like STANDARD
    PMS_POST_TYPE_UNRATED = 6,   // unrated_billing_queue
    PMS_POST_TYPE_GENERIC = 7,   // generic_billing_queue
};

// One charge to post. Empty strings stand for missing values.
struct PMSPostInfo {
    int64_t db_seqno = 0;    // row number in its table
    int64_t start_time = 0;  // seconds since the epoch
    int64_t end_time = 0;
    std::string room;
    std::string access_code;
    std::string auth_code;
    float charge = 0;
    std::string mac;
    int32_t duration = 0;  // end_time - start_time when end_time > 0
    int32_t port_id = 0;
    std::string reg_type;
    std::string user_lang;
    std::string description;
    int32_t wired_flag = 0;
    int32_t posted_flag = 0;
    std::string dialed_digits;
    std::string guest_no;
    int32_t ses_seq_no = 0;     // the session; for byte and time records the parent
    float posted_amount = 0;    // running total posted for the session
    float posted_limit = 0;     // total at which the session is used up
    int32_t type = PMS_POST_TYPE_NONE;
};
using PMSPostInfoList = std::vector<PMSPostInfo>;

// Logs the new record and returns it.
PMSPostInfo pms_post_info_new(PMSPostInfo tmpl);
// The unposted charges of this instance; nullopt on a database failure.
std::optional<PMSPostInfoList> db_scan_unposted(int64_t* count);
std::optional<PMSPostInfoList> db_scan_standard(int64_t* count, const std::string& cutoff, int effective_only);
// The same charges as db_scan_unposted, in the same order, read from the
// server `batch` rows at a time so that a long backlog never sits in memory
// whole. Marking a record posted while the scan is open is fine.
class ChargeScan {
public:
    static constexpr size_t kDefaultBatch = 256;
    ChargeScan() = default;
    ChargeScan(const ChargeScan&) = delete;
    ChargeScan& operator=(const ChargeScan&) = delete;
    ~ChargeScan() { close(); }
    // Starts the scan and counts its records into `count`; false on a
    // database failure.
    bool open(int64_t* count, size_t batch = kDefaultBatch);
    // The next record; false at the end (or when the database failed).
    bool next(PMSPostInfo& rec);
    void close();

private:
    std::string cursor_;
    size_t batch_ = kDefaultBatch;
    DbResult batch_rows_;
    long row_ = 0;
    long rows_in_batch_ = 0;
};
// Writes posted-flag `flag` to the record's row (and the session totals of
// byte and time records); 1 on success, 0 on failure.
int db_mark_posted(const PMSPostInfo& rec, int flag);

// ---- Guest occupancy (pms_guests) ---------------------------------------

// One guest as a vendor reports it; empty strings stand for missing values.
struct PmsGuest {
    std::string room;
    std::string guest_no;
    std::string first;
    std::string last;
    std::string vip;
    std::string language;
    std::string group;
    std::string arrival;    // date-time texts as the vendor supplies them
    std::string departure;
    std::string created;
    std::string no_post;
    std::string resort_fee;
    std::array<std::string, 10> user;  // PMS user-defined fields
    int user_count = -1;               // -1: the vendor has no user strings
};

// Check-in: inserts a current row; announces event 1.
int db_pms_guests_add(const PmsGuest& g);
// Rewrites the current row of room and guest no; announces event 3.
int db_pms_guests_update(const PmsGuest& g);
// Writes only the values that are present (created, no-post, resort fee and
// the user-string count are not used); announces event 3.
int db_pms_guests_partial_update(const PmsGuest& g);
// Check-out of one guest; announces event 2. The third argument is not used.
int db_pms_guests_mark_guest_stale(const std::string& room, const std::string& guest_no, int = 0);
// Check-out of a room (only guests whose departure has passed when
// `only_departed` is not 0); announces event 2.
int db_pms_guests_mark_room_stale(const std::string& room, int only_departed);
// Check-out of the guest of that room and name (names compared exactly); the
// room list is marked vacant only when nobody is left. Announces event 2.
int db_pms_guests_mark_named_stale(const std::string& room, const std::string& first, const std::string& last);
// Every row of this instance becomes stale (start of a resynchronisation).
int db_pms_guests_mark_all_stale();
int db_pms_guests_set_no_post(const std::string& room, const std::string& no_post);
// Mirrors an occupancy change in pms_room_list through fn_pms_room_list_update.
int db_update_room_list(const std::string& room, int occupied);
// 1 when a current row of the room (and guest, when given) exists.
int db_find_guest_in_room(const std::string& room, const std::string& guest_no);
// Matching current rows (0 or 1); names compared exactly as stored.
int db_is_guest_in_room(const std::string& room, const std::string& first, const std::string& last);
// Room, first and last name of every current guest of this instance;
// nullopt on a database failure. `statement` (when given) receives the SQL.
struct GuestName {
    std::string room;
    std::string first;
    std::string last;
};
std::optional<std::vector<GuestName>> db_current_guest_names(std::string* statement = nullptr);
// 1 occupied, 0 vacant (also for a room the port list does not know), -1 error.
int db_room_is_occupied(const std::string& room);
std::optional<std::string> db_get_last_occupant(const std::string& room);
std::optional<std::string> db_get_first_guest_in_room(const std::string& room);
std::optional<std::string> db_get_guest_name(const std::string& guest_no);
std::optional<std::string> db_get_guest_vip_status(const std::string& room, const std::string& guest_no);
// One "guest<d>first<d>last<d>vip<d>lang<d>arrival<d>departure" item per
// current guest (times in seconds); the count, or -1 on error.
int db_get_room_info(const std::string& room, const char* delim, std::vector<std::string>& items);

// ---- Check-out expiry and room moves -------------------------------------

// Ends the room's (or guest's) room-billed sessions at check-out; 1 done, 0 on
// a database failure.
int db_expire_on_checkout(const std::string& room, const std::string& guest_no, int keep_unstarted);
// Moves the guest's running sessions to `new_room`: 1 done, 0 disabled,
// -1 for a missing argument.
int db_move_session_info(const std::string& guest_no, const std::string& new_room);

// ---- Statements the vendors share on a room's guests ---------------------
// Each runs one statement for PMS instance `psi_no`; `stmt`, when given,
// receives the statement's text for the caller's log lines.

// Moves the current row of guest `guest_no` from room `from` to room `to`;
// the rows changed, or -1 on a database failure.
long db_pms_guests_move_room(const std::string& guest_no, const std::string& from, const std::string& to, int psi_no);
// Sets the class of service of the room's current rows. `cs` must be a
// decimal number (it goes into the statement unquoted): anything else is -2
// and nothing runs. The rows changed, or -1 on a database failure.
long db_pms_guests_set_class_of_service(const std::string& room, const std::string& cs, int psi_no,
                                        std::string* stmt = nullptr);
// The same update written with the stale test before the instance test.
long db_pms_guests_set_class_of_service_stale_first(const std::string& room, const std::string& cs, int psi_no,
                                                    std::string* stmt = nullptr);
// Guest numbers of the room's current rows, narrowed to `guest_no` when it is
// not empty; nullopt on a database failure.
std::optional<std::vector<std::string>> db_room_guest_numbers(const std::string& room, const std::string& guest_no,
                                                              int psi_no, std::string* stmt = nullptr);
struct RoomGuest {
    std::string guest_no, first, last;
};
// The room's current guests, of instance `psi_no` or, without it, of every
// instance; nullopt on a database failure.
std::optional<std::vector<RoomGuest>> db_room_guests(const std::string& room, std::optional<int> psi_no);
// Current rows of instance `psi_no` that have no last name yet (guests the
// PMS announced without names), at most `limit`; room and arrival, either
// missing when the row has no value. nullopt on a database failure.
struct NamelessGuest {
    std::optional<std::string> room, arrival;
};
std::optional<std::vector<NamelessGuest>> db_nameless_guests(int psi_no, int limit);
// Rooms of the room list last updated more than `age_hours` ago, oldest
// first, at most `limit` (a room without a value is nullopt); nullopt on a
// database failure.
std::optional<std::vector<std::optional<std::string>>> db_rooms_due_for_refresh(int age_hours, int limit,
                                                                                std::string* stmt = nullptr);
// Records the discount a VIP guest got on a posted charge; false on failure.
bool db_add_discount(const std::string& room, const std::string& guest_no, int vip_code, float discount);
