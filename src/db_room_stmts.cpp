// Statements the vendors share on a room's guests: room moves, class of
// service, who is in a room, and the VIP discount record.
#include "db.h"
#include "platform/log.h"

namespace {

// Escapes the values of one statement. A value that cannot be escaped
// refuses the whole statement: running it with '' in that place would touch
// rows the caller never named.
struct Escaper {
    bool ok = true;
    std::string operator()(const std::string& v) {
        auto e = db_escape_string(v);
        if (!e) ok = false;
        return e.value_or("");
    }
};

bool is_decimal(const std::string& s) {
    size_t i = (!s.empty() && s[0] == '-') ? 1 : 0;
    if (i >= s.size() || s.size() > 10) return false;
    for (; i < s.size(); ++i)
        if (s[i] < '0' || s[i] > '9') return false;
    return true;
}

void keep(std::string* stmt, const std::string& sql) {
    if (stmt) *stmt = sql;
}

}  // namespace

long db_pms_guests_move_room(const std::string& guest_no, const std::string& from,
                             const std::string& to, int psi_no) {
    Escaper esc;
    std::string sql = strFormat(
        "UPDATE pms_guests set pms_room = '%s' WHERE pms_room = '%s'  and pms_guest_no = '%s'  and "
        "pms_psi_no = "
        "%d  and pms_is_stale = 0",
        esc(to).c_str(), esc(from).c_str(), esc(guest_no).c_str(), psi_no);
    if (!esc.ok) return -1;
    return db_command(sql.c_str());
}

long db_pms_guests_set_class_of_service(const std::string& room, const std::string& cs, int psi_no,
                                        std::string* stmt) {
    Escaper esc;
    if (!is_decimal(cs)) return -2;
    std::string sql = strFormat(
        "UPDATE pms_guests SET\tpms_class_of_service = %s WHERE\tpms_room = '%s' and pms_psi_no = "
        "%d AND "
        "pms_is_stale = 0",
        cs.c_str(), esc(room).c_str(), psi_no);
    if (!esc.ok) return -1;
    keep(stmt, sql);
    return db_command(sql.c_str());
}

long db_pms_guests_set_class_of_service_stale_first(const std::string& room, const std::string& cs, int psi_no,
                                                    std::string* stmt) {
    Escaper esc;
    if (!is_decimal(cs)) return -2;
    std::string sql = strFormat(
        "UPDATE pms_guests SET\tpms_class_of_service = %s WHERE\tpms_room = '%s' AND pms_is_stale = 0 AND "
        "pms_psi_no = %d",
        cs.c_str(), esc(room).c_str(), psi_no);
    if (!esc.ok) return -1;
    keep(stmt, sql);
    return db_command(sql.c_str());
}

std::optional<std::vector<std::string>> db_room_guest_numbers(const std::string& room,
                                                              const std::string& guest_no,
                                                              int psi_no, std::string* stmt) {
    Escaper esc;
    std::string sql = guest_no.empty() ? strFormat(
                                             "SELECT\tpms_guest_no FROM\tpms_guests "
                                             "WHERE\tpms_room = '%s' and pms_psi_no = %d AND "
                                             "pms_is_stale = 0",
                                             esc(room).c_str(), psi_no)
                                       : strFormat(
                                             "SELECT\tpms_guest_no FROM\tpms_guests "
                                             "WHERE\tpms_room = '%s' and pms_psi_no = %d AND\t"
                                             "pms_guest_no = '%s' AND pms_is_stale = 0",
                                             esc(room).c_str(), psi_no, esc(guest_no).c_str());
    if (!esc.ok) return std::nullopt;
    keep(stmt, sql);
    int64_t rows = 0, fields = 0;
    DbResult res = db_query(sql.c_str(), &rows, &fields);
    if (!res) return std::nullopt;
    std::vector<std::string> guests;
    for (long r = 0; r < rows; ++r) guests.push_back(vornDB_getStringData(res, r, 0).value_or(""));
    return guests;
}

std::optional<std::vector<RoomGuest>> db_room_guests(const std::string& room,
                                                     std::optional<int> psi_no) {
    Escaper esc;
    std::string sql = strFormat(
        "SELECT pms_guest_no,pms_name_first, pms_name_last FROM pms_guests WHERE pms_room = '%s' "
        "AND pms_is_stale = 0",
        esc(room).c_str());
    if (!esc.ok) return std::nullopt;
    if (psi_no) sql += strFormat(" and pms_psi_no = %d", *psi_no);
    int64_t rows = 0, fields = 0;
    DbResult res = db_query(sql.c_str(), &rows, &fields);
    if (!res) return std::nullopt;
    std::vector<RoomGuest> guests;
    for (long r = 0; r < rows; ++r)
        guests.push_back({vornDB_getStringData(res, r, 0).value_or(""),
                          vornDB_getStringData(res, r, 1).value_or(""),
                          vornDB_getStringData(res, r, 2).value_or("")});
    return guests;
}

bool db_add_discount(const std::string& room, const std::string& guest_no, int vip_code,
                     float discount) {
    Escaper esc;
    std::string sql = strFormat(
        "INSERT into pms_discounts ( pms_seq_no, pms_date, pms_room, pms_guest_no, pms_vip_status, "
        "pms_discount ) VALUES (nextval('pms_discount_seq'), '%s', '%s', '%s', %d, %f)",
        db_local_time_text(time(nullptr)).c_str(), esc(room).c_str(), esc(guest_no).c_str(),
        vip_code, discount);
    if (!esc.ok) return false;
    return db_command(sql.c_str()) > 0;
}

std::optional<std::vector<NamelessGuest>> db_nameless_guests(int psi_no, int limit) {
    std::string sql = strFormat(
        "SELECT\tpms_room, pms_arrival_dt FROM\tpms_guests WHERE\t(pms_name_last = '' OR pms_name_last is null) AND "
        "pms_is_stale = 0 AND pms_psi_no = %d limit %d",
        psi_no, limit);
    int64_t rows = 0, fields = 0;
    DbResult res = db_query(sql.c_str(), &rows, &fields);
    if (!res) return std::nullopt;
    std::vector<NamelessGuest> out;
    for (long r = 0; r < rows; ++r)
        out.push_back({vornDB_getStringData(res, r, 0), vornDB_getStringData(res, r, 1)});
    return out;
}

std::optional<std::vector<std::optional<std::string>>> db_rooms_due_for_refresh(int age_hours, int limit,
                                                                                std::string* stmt) {
    // Negative numbers would make the statement fail every time.
    std::string sql = strFormat(
        "SELECT\tprl_room FROM pms_room_list WHERE prl_updated_dt < timestamp 'now()' - interval '%d hours' ORDER "
        "BY prl_updated_dt LIMIT %d",
        age_hours < 0 ? 0 : age_hours, limit < 0 ? 0 : limit);
    keep(stmt, sql);
    int64_t rows = 0, fields = 0;
    DbResult res = db_query(sql.c_str(), &rows, &fields);
    if (!res) return std::nullopt;
    std::vector<std::optional<std::string>> out;
    for (long r = 0; r < rows; ++r) out.push_back(vornDB_getStringData(res, r, 0));
    return out;
}
