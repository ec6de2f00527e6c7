// Statements of the transaction-id vendors: rooms whose guests still lack a
// name (the harvest) and a guest's no-post restriction.
#include "db_txn.h"

#include "platform/log.h"

static constexpr char kLogSrc[] = "db_txn";

std::optional<std::vector<HarvestRoom>> db_rooms_without_names(int psi_no, int limit) {
    std::string sql = strFormat(
        "SELECT\tpms_room, pms_arrival_dt, pms_no_post FROM\tpms_guests WHERE\t(pms_name_last = '' OR pms_name_last "
        "is null) AND pms_is_stale = 0 AND pms_psi_no = %d limit %d",
        psi_no, limit);
    int64_t rows = 0, fields = 0;
    DbResult res = db_query(sql.c_str(), &rows, &fields);
    if (!res) return std::nullopt;
    std::vector<HarvestRoom> out;
    for (int64_t i = 0; i < rows; ++i) {
        auto room = vornDB_getStringData(res, static_cast<int>(i), 0);
        auto arrival = vornDB_getStringData(res, static_cast<int>(i), 1);
        auto no_post = vornDB_getStringData(res, static_cast<int>(i), 2);
        if (!room || !arrival || !no_post) {
            VLOG_ERROR(0, "Error retrieving DB result");
            continue;
        }
        out.push_back({*room, *arrival, *no_post});
    }
    return out;
}

long db_pms_guests_set_no_post_of(const std::string& room, const std::string& guest_no, const std::string& no_post,
                                  int psi_no, std::string* stmt) {
    std::string sql =
        guest_no.empty()
            ? strFormat("UPDATE pms_guests SET\tpms_no_post = '%s' WHERE\tpms_room = '%s' and pms_psi_no = %d AND "
                        "pms_is_stale = 0",
                        db_escape_or_empty(no_post).c_str(), db_escape_or_empty(room).c_str(), psi_no)
            : strFormat("UPDATE pms_guests SET\tpms_no_post = '%s' WHERE\tpms_room = '%s' and pms_psi_no = %d AND "
                        "pms_is_stale = 0 AND pms_guest_no = '%s'",
                        db_escape_or_empty(no_post).c_str(), db_escape_or_empty(room).c_str(), psi_no,
                        db_escape_or_empty(guest_no).c_str());
    if (stmt) *stmt = sql;
    return db_command(sql.c_str());
}

std::optional<std::string> db_timestamp_text(const std::string& text) {
    auto escaped = db_escape_string(text);
    if (!escaped) return std::nullopt;
    std::string sql = strFormat("SELECT to_char('%s'::timestamp, 'YYYY-MM-DD HH24:MI:SS')", escaped->c_str());
    int64_t rows = 0, fields = 0;
    DbResult res = db_query(sql.c_str(), &rows, &fields);
    if (!res || rows != 1) return std::nullopt;
    return vornDB_getStringData(res, 0, 0);
}
