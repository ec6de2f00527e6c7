// Occupancy questions: is a room occupied, who is in it, a guest's name and
// VIP status, the guests of a room.
#include "db.h"
#include "platform/log.h"

static constexpr char kLogSrc[] = "db_guests_query";

namespace {

std::string esc(const std::string& v) { return db_escape_or_empty(v); }

std::string psi() { return std::to_string(g_psi_no); }

// The look-ups every request and record repeats, prepared once per connection.
constexpr DbStatement kFindGuest{"vornpms_find_guest",
                                 "SELECT pms_guest_no FROM pms_guests WHERE pms_room = $1 AND pms_is_stale = 0 AND "
                                 "pms_psi_no = $2 ORDER BY pms_seq_no desc limit 1"};
constexpr DbStatement kFindGuestNo{"vornpms_find_guest_no",
                                   "SELECT pms_guest_no FROM pms_guests WHERE pms_room = $1 AND pms_guest_no = $2 AND "
                                   "pms_is_stale = 0 AND pms_psi_no = $3 ORDER BY pms_seq_no desc limit 1"};
constexpr DbStatement kRoomOccupied{
    "vornpms_room_occupied",
    "SELECT\tpg.pms_seq_no FROM\tpms_guests pg, port_room_status prs WHERE pg.pms_room = $1 AND pg.pms_room = "
    "prs.prs_room_no AND pg.pms_is_stale = 0 and pg.pms_psi_no = $2"};
constexpr DbStatement kLastOccupant{"vornpms_last_occupant",
                                    "SELECT pms_guest_no FROM pms_guests WHERE pms_room = $1 AND pms_is_stale = 0 and "
                                    "pms_psi_no = $2 ORDER BY pms_seq_no desc limit 1"};
constexpr DbStatement kFirstGuest{"vornpms_first_guest",
                                  "SELECT pms_guest_no FROM pms_guests WHERE pms_room = $1 AND pms_is_stale = 0 and "
                                  "pms_psi_no = $2 ORDER BY pms_guest_no"};
constexpr DbStatement kGuestName{"vornpms_guest_name",
                                 "SELECT pms_name_last FROM pms_guests WHERE pms_guest_no = $1 AND pms_is_stale = "
                                 "0 and pms_psi_no = $2 ORDER BY pms_seq_no desc limit 1"};
constexpr DbStatement kGuestVip{"vornpms_guest_vip",
                                "SELECT\tpms_vip_status FROM\tpms_guests WHERE\tpms_room = $1 AND pms_guest_no = "
                                "$2 AND pms_psi_no = $3 ORDER BY pms_room, pms_guest_no"};
constexpr DbStatement kRoomInfo{
    "vornpms_room_info",
    "SELECT\tpms_guest_no,pms_name_first, pms_name_last, pms_vip_status, pms_language, pms_arrival_dt, "
    "pms_depart_dt FROM\tpms_guests WHERE pms_room = $1 AND pms_is_stale = 0 and pms_psi_no = $2"};

// First column of the first row; nullopt when there is no row or on failure
// (then `failed` is set).
std::optional<std::string> first_value(const DbStatement& st, std::initializer_list<std::string_view> params,
                                       bool* failed) {
    int64_t rows = 0, fields = 0;
    DbResult res = db_query_prepared(st, params, &rows, &fields);
    *failed = !res;
    if (!res || rows < 1) return std::nullopt;
    return vornDB_getStringData(res, 0, 0);
}

}  // namespace

int db_find_guest_in_room(const std::string& room, const std::string& guest_no) {
    if (room.empty()) return 0;
    int64_t rows = 0, fields = 0;
    DbResult res = guest_no.empty() ? db_query_prepared(kFindGuest, {room, psi()}, &rows, &fields)
                                    : db_query_prepared(kFindGuestNo, {room, guest_no, psi()}, &rows, &fields);
    if (!res) {
        VLOG_ERROR(0, "Error retrieving occupancy information for room '%s'", room.c_str());
        return 0;
    }
    return rows > 0 ? 1 : 0;
}

int db_is_guest_in_room(const std::string& room, const std::string& first, const std::string& last) {
    if (room.empty()) {
        VLOG_ERROR(0, "db_is_guest_in_room without room no");
        return 0;
    }
    // Whole names are compared: a clause cut at a fixed length could end
    // inside an escaped quote and break the statement.
    std::string last_clause = strFormat("AND pms_name_last = '%s'", esc(last).c_str());
    std::string first_clause =
        first.empty() ? std::string() : strFormat("AND pms_name_first = '%s'", esc(first).c_str());
    std::string sql = strFormat(
        "SELECT pms_seq_no FROM pms_guests WHERE pms_room = '%s' %s %s AND pms_is_stale = 0 AND pms_psi_no = %d "
        "ORDER BY pms_seq_no desc limit 1",
        esc(room).c_str(), last_clause.c_str(), first_clause.c_str(), g_psi_no);
    int64_t rows = 0, fields = 0;
    DbResult res = db_query(sql.c_str(), &rows, &fields);
    if (!res) {
        VLOG_ERROR(0, "db_is_guest_in_room: Error retrieving occupancy information for room '%s'", room.c_str());
        return 0;
    }
    return static_cast<int>(rows);
}

std::optional<std::vector<GuestName>> db_current_guest_names(std::string* statement) {
    std::string sql = strFormat(
        "SELECT pms_room, pms_name_first, pms_name_last FROM pms_guests WHERE pms_is_stale = 0 AND pms_psi_no = %d",
        g_psi_no);
    if (statement) *statement = sql;
    int64_t rows = 0, fields = 0;
    DbResult res = db_query(sql.c_str(), &rows, &fields);
    if (!res) return std::nullopt;
    std::vector<GuestName> out;
    for (long i = 0; i < rows; ++i)
        out.push_back({vornDB_getStringData(res, i, 0).value_or(""), vornDB_getStringData(res, i, 1).value_or(""),
                       vornDB_getStringData(res, i, 2).value_or("")});
    return out;
}

int db_room_is_occupied(const std::string& room) {
    if (room.empty()) {
        VLOG_ERROR(0, "Requested status on NULL room");
        return -1;
    }
    int64_t rows = 0, fields = 0;
    DbResult res = db_query_prepared(kRoomOccupied, {room, psi()}, &rows, &fields);
    if (!res) return -1;
    return rows > 0 ? 1 : 0;
}

std::optional<std::string> db_get_last_occupant(const std::string& room) {
    if (room.empty()) {
        VLOG_ERROR(0, "db_get_last_occupant without room no");
        return std::nullopt;
    }
    bool failed = false;
    auto v = first_value(kLastOccupant, {room, psi()}, &failed);
    if (failed) VLOG_ERROR(0, "Error retrieving occupancy information for room '%s'", room.c_str());
    return v;
}

std::optional<std::string> db_get_first_guest_in_room(const std::string& room) {
    bool failed = false;
    auto v = first_value(kFirstGuest, {room, psi()}, &failed);
    if (failed) VLOG_ERROR(0, "Error retrieving occupancy information for room '%s'", room.c_str());
    return v;
}

std::optional<std::string> db_get_guest_name(const std::string& guest_no) {
    bool failed = false;
    auto v = first_value(kGuestName, {guest_no, psi()}, &failed);
    if (failed) VLOG_ERROR(0, "Error retrieving occupancy guest name for guest number '%s'", guest_no.c_str());
    return v;
}

std::optional<std::string> db_get_guest_vip_status(const std::string& room, const std::string& guest_no) {
    if (room.empty() || guest_no.empty()) return std::nullopt;
    bool failed = false;
    auto v = first_value(kGuestVip, {room, guest_no, psi()}, &failed);
    if (failed)
        VLOG_ERROR(0, "Error retrieving guest VIP status for room '%s', guest '%s' - no discount applied", room.c_str(),
                   guest_no.c_str());
    return v;
}

int db_get_room_info(const std::string& room, const char* delim, std::vector<std::string>& items) {
    if (room.empty()) {
        VLOG_ERROR(0, "Requested status on NULL room");
        return -1;
    }
    if (delim == nullptr) {
        VLOG_ERROR(0, "Room info delimiter cannot be NULL");
        return -1;
    }
    int64_t rows = 0, fields = 0;
    DbResult res = db_query_prepared(kRoomInfo, {room, psi()}, &rows, &fields);
    if (!res) return -1;
    std::vector<std::string> out;
    for (long r = 0; r < rows; ++r) {
        auto text = [&](int col) { return vornDB_getStringData(res, r, col).value_or(std::string()); };
        std::string item = strFormat("%s%s%s%s%s%s%s%s%s%s%d%s%d", text(0).c_str(), delim, text(1).c_str(), delim,
                                     text(2).c_str(), delim, text(3).c_str(), delim, text(4).c_str(), delim,
                                     static_cast<int>(vornDB_getTimestampData(res, r, 5)), delim,
                                     static_cast<int>(vornDB_getTimestampData(res, r, 6)));
        VLOG_DEBUG(2, 0, "Room Info item: %s", item.c_str());
        out.push_back(std::move(item));
    }
    items = std::move(out);
    return static_cast<int>(rows);
}
