// Unposted charges: the scan that turns unposted session rows into
// PMSPostInfo records, and the marking of records once they are handled.
#include <algorithm>
#include "db_settings.h"
#include <ctime>

#include "config.h"
#include "db.h"
#include "platform/log.h"

static constexpr char kLogSrc[] = "db_charges";

namespace {

constexpr size_t kCustomWhereMax = 199;

const char* or_null(const std::string& s) { return s.empty() ? "(null)" : s.c_str(); }

}  // namespace

PMSPostInfo pms_post_info_new(PMSPostInfo t) {
    VLOG_DEBUG(4, 0,
               "New PMSPostInfo: db_seqno = %li, start_time = %li, end_time = %li, room = '%s', access_code = '%s', "
               "auth_code = '%s', charge = %.02f, mac = '%s', duration = %d, port_id = %d, reg_type = '%s', "
               "user_lang = '%s', description='%s', wired_flag='%d', dialed_digits='%s', ses_seq_no = '%d', "
               "guest_no = '%s'",
               static_cast<long>(t.db_seqno), static_cast<long>(t.start_time), static_cast<long>(t.end_time),
               or_null(t.room), or_null(t.access_code), or_null(t.auth_code), static_cast<double>(t.charge),
               or_null(t.mac), t.duration, t.port_id, or_null(t.reg_type), or_null(t.user_lang),
               or_null(t.description), t.wired_flag, or_null(t.dialed_digits), t.ses_seq_no, or_null(t.guest_no));
    if (t.db_seqno < 0) VLOG_WARN(0, "New PMSPostInfo: negative db_seqno %li", static_cast<long>(t.db_seqno));
    return t;
}

namespace {

// The oldest expiry a charge may have to be posted, from POST_EXPIRED.
std::string scan_cutoff() {
    long post_expired = setting_number(kSetPostExpired);
    long post_delay = setting_number(kSetScanPostDelay);
    std::string cutoff;
    time_t now = time(nullptr);
    if (post_expired == 0) {
        cutoff = db_local_time_text(now - post_delay);
        VLOG_DEBUG(4, 0, "DB Scan: posting non-expired records %s", cutoff.c_str());
    } else if (post_expired <= 1) {
        cutoff = "1971-01-01 12:00:00";
        VLOG_DEBUG(4, 0, "DB Scan: posting expired records %s", cutoff.c_str());
    } else {
        cutoff = db_local_time_text(now - post_expired * 3600);
        VLOG_DEBUG(4, 0, "DB Scan: posting expired records newer then %s", cutoff.c_str());
    }
    return cutoff;
}

std::string standard_sql(const std::string& cutoff, int effective_only) {
    VLOG_DEBUG(1, 0, "DB Scan: scanning standard (session_info) records");
    const char* effective = effective_only != 0 ? "and s.ses_reg_time_dt <= 'now()'" : "";
    std::string custom;
    if (auto value = setting_text(kSetCustomWhere)) {
        custom = value->substr(0, kCustomWhereMax);
        std::replace(custom.begin(), custom.end(), '#', '\'');
        VLOG_DEBUG(4, 0, "DB Scan: custom where %s", custom.c_str());
    }
    // The cut-off is built here from the clock, never from outside input.
    std::string sql = strFormat(
        "SELECT s.ses_seq_no, s.ses_reg_time_dt, s.ses_reg_expire_dt, s.ses_room_no, s.ses_access_code, "
        "s.ses_auth_code, s.ses_amount, s.ses_mac, s.ses_port_id, s.ses_reg_type, s.ses_user_lang, "
        "s.ses_wired_for_bus, s.ses_posted_flag, s.ses_guest_no FROM   session_info s WHERE\ts.ses_posted_flag = 0 "
        "AND\ts.ses_psi_no = %d AND\ts.ses_reg_expire_dt >= '%s' %s %s ORDER BY s.ses_reg_time_dt",
        g_psi_no, cutoff.c_str(), effective, custom.c_str());
    VLOG_DEBUG(4, 0, "db_scan_standard [%s]", sql.c_str());
    return sql;
}

PMSPostInfo standard_row(const DbResult& res, long r) {
    auto text = [&](int col) { return vornDB_getStringData(res, r, col).value_or(std::string()); };
    PMSPostInfo t;
    t.db_seqno = vornDB_getIntData(res, r, 0);
    t.start_time = vornDB_getTimestampData(res, r, 1);
    t.end_time = vornDB_getTimestampData(res, r, 2);
    t.room = text(3);
    t.access_code = text(4);
    t.auth_code = text(5);
    t.charge = static_cast<float>(vornDB_getFloatData(res, r, 6));
    t.mac = text(7);
    t.port_id = static_cast<int32_t>(vornDB_getIntData(res, r, 8));
    t.reg_type = text(9);
    t.user_lang = text(10);
    t.wired_flag = static_cast<int32_t>(vornDB_getIntData(res, r, 11));
    t.posted_flag = static_cast<int32_t>(vornDB_getIntData(res, r, 12));
    t.guest_no = text(13);
    t.duration = t.end_time > 0 ? static_cast<int32_t>(t.end_time - t.start_time) : 0;
    t.description = "Standard Internet Service";
    t.ses_seq_no = static_cast<int32_t>(t.db_seqno);
    PMSPostInfo rec = pms_post_info_new(std::move(t));
    rec.type = PMS_POST_TYPE_STANDARD;
    return rec;
}

void log_found(int64_t standard) {
    VLOG_DEBUG(4, 0, "Found '%ld' stand, '%ld' byte, '%ld' time, '%ld' aux, '%ld' uqb, '%ld' gbq",
               static_cast<long>(standard), 0L, 0L, 0L, 0L, 0L);
    VLOG_INFO("Found total of %li records requiring posting", static_cast<long>(standard));
}

}  // namespace

std::optional<PMSPostInfoList> db_scan_unposted(int64_t* count) {
    VLOG_INFO("Executing database scan for unposted records");
    std::string cutoff = scan_cutoff();
    int64_t standard = 0;
    auto list = db_scan_standard(&standard, cutoff, static_cast<int>(setting_number(kSetPostOnlyEffective)));
    if (count) *count = standard;
    log_found(standard);
    return list;
}

std::optional<PMSPostInfoList> db_scan_standard(int64_t* count, const std::string& cutoff,
                                                int effective_only) {
    if (count) *count = 0;
    std::string sql = standard_sql(cutoff, effective_only);
    int64_t rows = 0, fields = 0;
    DbResult res = db_query(sql.c_str(), &rows, &fields);
    if (!res) {
        VLOG_ERROR(486, "Error selecting unposted session_info records!");
        return std::nullopt;
    }
    VLOG_DEBUG(4, 0, "Found %d unposted records", static_cast<int>(rows));
    PMSPostInfoList list;
    list.reserve(static_cast<size_t>(rows));
    for (long r = 0; r < rows; ++r) list.push_back(standard_row(res, r));
    if (count) *count = static_cast<int64_t>(list.size());
    return list;
}

// The rows are kept on the server in a cursor that outlives each statement
// (WITH HOLD), so that every posted mark still commits at once. The server
// takes its snapshot when the cursor is declared: the same rows as one
// SELECT, in the same order.
bool ChargeScan::open(int64_t* count, size_t batch) {
    static unsigned serial = 0;
    if (count) *count = 0;
    close();
    batch_ = batch > 0 ? batch : kDefaultBatch;
    VLOG_INFO("Executing database scan for unposted records");
    std::string cutoff = scan_cutoff();
    std::string sql = standard_sql(cutoff, static_cast<int>(setting_number(kSetPostOnlyEffective)));
    std::string name = "vornpms_scan_" + std::to_string(++serial);
    if (db_command(("DECLARE " + name + " SCROLL CURSOR WITH HOLD FOR " + sql).c_str()) < 0) {
        VLOG_ERROR(486, "Error selecting unposted session_info records!");
        return false;
    }
    cursor_ = name;
    long total = db_command(("MOVE FORWARD ALL IN " + cursor_).c_str());
    if (total < 0 || db_command(("MOVE ABSOLUTE 0 IN " + cursor_).c_str()) < 0) {
        VLOG_ERROR(486, "Error selecting unposted session_info records!");
        close();
        return false;
    }
    VLOG_DEBUG(4, 0, "Found %d unposted records", static_cast<int>(total));
    if (count) *count = total;
    log_found(total);
    return true;
}

bool ChargeScan::next(PMSPostInfo& rec) {
    if (cursor_.empty()) return false;
    if (row_ >= rows_in_batch_) {
        int64_t rows = 0, fields = 0;
        batch_rows_ = db_query(("FETCH " + std::to_string(batch_) + " FROM " + cursor_).c_str(), &rows, &fields);
        row_ = 0;
        rows_in_batch_ = batch_rows_ ? static_cast<long>(rows) : 0;
        if (rows_in_batch_ == 0) {
            close();
            return false;
        }
    }
    rec = standard_row(batch_rows_, row_++);
    return true;
}

void ChargeScan::close() {
    batch_rows_.reset();
    row_ = rows_in_batch_ = 0;
    if (cursor_.empty()) return;
    // A lost connection took the cursor with it; nothing to close then.
    if (PGconn* conn = db_handle(); conn && PQstatus(conn) == CONNECTION_OK)
        db_command(("CLOSE " + cursor_).c_str());
    cursor_.clear();
}

namespace {

// The posted mark of each record type, prepared once per connection.
constexpr DbStatement kMarkSession{"vornpms_mark_session",
     "UPDATE session_info SET\tses_posted_flag = $1, \tses_posted_dt = 'now()' WHERE  ses_seq_no = $2"};
constexpr DbStatement kMarkBytes{"vornpms_mark_bytes",
     "UPDATE session_traffic SET\tstr_posted_flag = $1, \tstr_posted_dt = 'now()' WHERE  "
     "str_seq_no <= $2 AND\tstr_posted_flag = 0 AND\tstr_ses_seq_no = $3"};
constexpr DbStatement kMarkTime{"vornpms_mark_time",
     "UPDATE sub_session_info SET\tssi_posted_flag = $1, \tssi_posted_dt = 'now()' WHERE  "
     "ssi_seq_no <= $2 AND\tssi_posted_flag = 0 AND\tssi_ses_seq_no = $3"};
constexpr DbStatement kMarkAux{"vornpms_mark_aux",
     "UPDATE aux_service_info SET\tasi_posted_flag = $1, \tasi_posted_dt = 'now()' WHERE  asi_seq_no = $2"};
constexpr DbStatement kMarkUnrated{"vornpms_mark_unrated",
     "UPDATE unrated_billing_queue SET\tubq_posted_flag = $1, \tubq_posted_dt = 'now()' WHERE  ubq_seq_no = $2"};
constexpr DbStatement kMarkGeneric{"vornpms_mark_generic",
     "UPDATE generic_billing_queue SET\tgbq_posted_flag = $1, \tgbq_posted_dt = 'now()' WHERE  gbq_seq_no = $2"};

const DbStatement* mark_statement(int type) {
    switch (type) {
    case PMS_POST_TYPE_STANDARD:
    case PMS_POST_TYPE_SESSION: return &kMarkSession;
    case PMS_POST_TYPE_BYTE: return &kMarkBytes;
    case PMS_POST_TYPE_TIME: return &kMarkTime;
    case PMS_POST_TYPE_AUX: return &kMarkAux;
    case PMS_POST_TYPE_UNRATED: return &kMarkUnrated;
    case PMS_POST_TYPE_GENERIC: return &kMarkGeneric;
    default: return nullptr;
    }
}

// The statement with its values in place, as the debug log shows it.
std::string with_values(std::string sql, const std::vector<std::string>& values) {
    for (size_t i = values.size(); i > 0; --i) {
        const std::string mark = "$" + std::to_string(i);
        for (size_t at = sql.find(mark); at != std::string::npos; at = sql.find(mark, at + values[i - 1].size()))
            sql.replace(at, mark.size(), values[i - 1]);
    }
    return sql;
}

}  // namespace

int db_mark_posted(const PMSPostInfo& rec, int flag) {
    VLOG_DEBUG(3, 0, "Marking DB record as posted: Type = %d, SeqNo = %li", rec.type, static_cast<long>(rec.db_seqno));
    int seq = static_cast<int>(rec.db_seqno);
    const DbStatement* mark = mark_statement(rec.type);
    if (!mark) {
        VLOG_ERROR(457, "Invalid type for DB post record!?!");
        return 0;
    }
    std::vector<std::string> values{std::to_string(flag), std::to_string(seq)};
    if (rec.type == PMS_POST_TYPE_BYTE || rec.type == PMS_POST_TYPE_TIME) values.push_back(std::to_string(rec.ses_seq_no));
    if (VORN_MSG_DEBUG_LEVEL >= 4) VLOG_DEBUG(4, 0, "DB COMMAND: %s", with_values(mark->sql, values).c_str());
    long affected = values.size() == 3 ? db_command_prepared(*mark, {values[0], values[1], values[2]})
                                       : db_command_prepared(*mark, {values[0], values[1]});
    std::string sql;
    if (affected < 1) {
        VLOG_ERROR(458, "Error updating record as posted! Type = %d, db_seq_no = %d, rows affected = %d", rec.type,
                   seq, static_cast<int>(affected));
        return 0;
    }
    if (rec.type != PMS_POST_TYPE_BYTE && rec.type != PMS_POST_TYPE_TIME) return 1;

    sql = strFormat("update user_status set usr_posted_amount = %f where usr_ses_seq_no = %d",
                    static_cast<double>(rec.posted_amount), rec.ses_seq_no);
    affected = db_command(sql.c_str());
    if (affected < 1) {
        VLOG_ERROR(458, "Error updating user_status total = %f, ses_seq_no = %d, rows affected = %d",
                   static_cast<double>(rec.posted_amount + rec.charge), rec.ses_seq_no, static_cast<int>(affected));
        return 0;
    }
    if (rec.posted_amount >= rec.posted_limit) {
        sql = strFormat("update session_info set ses_posted_flag = 2, \t ses_posted_dt = 'now()' where ses_seq_no = %d",
                        rec.ses_seq_no);
        affected = db_command(sql.c_str());
        if (affected < 1) {
            VLOG_ERROR(458, "Error updating session_info for usage flag = 2, ses_seq_no = %d, rows affected = %d",
                       rec.ses_seq_no, static_cast<int>(affected));
            return 0;
        }
    }
    return 1;
}
