// The one connection to the gateway database: connect, health check with one
// reset, queries, commands, escaping, the message sequence and the room list.
#include <poll.h>
#include "db_settings.h"

#include <chrono>
#include <cstdlib>
#include <set>
#include <vector>

#include "config.h"
#include "db.h"
#include "platform/log.h"

static constexpr char kLogSrc[] = "db_conn";

int g_psi_no = 0;

namespace {

DbConn g_conn;

// Statements prepared on the current connection. A new connection or a reset
// has none: they are prepared again on first use.
std::set<std::string> g_prepared;

// Until this moment the main loop's own wait has shown the idle connection
// quiet, so the next statement need not look for a farewell itself.
std::chrono::steady_clock::time_point g_quiet_until{};
constexpr auto kQuietFor = std::chrono::milliseconds(2);

DbResult finish_query(DbResult res, int64_t* rows, int64_t* fields);
long finish_command(DbResult res);

void forget_session() {
    g_prepared.clear();
}

constexpr size_t kEscapeMaxInput = 32767;   // escaped form fits 65,536 bytes
constexpr size_t kEscapeInPlaceMax = 255;

// A server that went away while we were idle (restart, shutdown) has sent its
// farewell and closed the socket; libpq notices that only when it reads, so
// read what is waiting before trusting PQstatus.
void drain_idle_input(PGconn* conn) {
    for (int i = 0; i < 16 && PQstatus(conn) == CONNECTION_OK; ++i) {
        int fd = PQsocket(conn);
        if (fd < 0) return;
        struct pollfd p {fd, POLLIN, 0};
        if (poll(&p, 1, 0) <= 0) return;
        if (PQconsumeInput(conn) == 0) return;
        while (PGnotify* n = PQnotifies(conn)) PQfreemem(n);
    }
}

std::string conn_error(PGconn* conn) {
    std::string text = conn ? PQerrorMessage(conn) : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

}  // namespace

PGconn* db_handle() { return g_conn.get(); }

int db_connect() {
    if (g_conn) return 1;
    auto name = setting_text(kSetDbName);
    if (!name) {
        VLOG_ERROR(451, "Missing config value DBNAME!");
        config_report_invalid("DBNAME");
        return 0;
    }
    auto user = setting_text(kSetDbUser);
    if (!user) {
        VLOG_ERROR(452, "Missing config value DBUSER!");
        config_report_invalid("DBUSER");
        return 0;
    }
    auto pass = setting_text(kSetDbPass);
    if (!pass) {
        VLOG_ERROR(453, "Missing config value DBPASS!");
        config_report_invalid("DBPASS");
        return 0;
    }
    forget_session();
    g_conn = vornDB_connect(1, name->c_str(), user->c_str(), pass->c_str());
    if (!g_conn || vornDB_connStatus(g_conn.get()) != 0) {
        VLOG_DEBUG(1, 0, "db_connect: %s", conn_error(g_conn.get()).c_str());
        return 0;
    }
    g_psi_no = 0;
    if (auto psi = setting_text(kSetPsiNo)) g_psi_no = static_cast<int>(strtol(psi->c_str(), nullptr, 10));
    return 1;
}

int db_disconnect() {
    forget_session();
    return vornDB_disconnect(g_conn);
}

int db_check_connection(PGconn* conn) {
    if (conn == nullptr) return -1;
    // Every statement: a server restarted a moment after its last answer
    // must still be noticed before the statement, not by its failure. The
    // main loop's wait watches the idle connection too; right after it found
    // nothing there, one statement goes without the extra look.
    if (conn == g_conn.get() && std::chrono::steady_clock::now() < g_quiet_until)
        g_quiet_until = {};
    else
        drain_idle_input(conn);
    if (PQstatus(conn) == CONNECTION_OK) return 0;
    VLOG_INFO("DB connection lost, resetting");
    if (conn == g_conn.get()) forget_session();
    PQreset(conn);
    if (PQstatus(conn) == CONNECTION_OK) return 0;
    VLOG_ERROR(452, "Could not reset DB connection");
    return -1;
}

int db_idle_fd() {
    PGconn* conn = g_conn.get();
    return conn && PQstatus(conn) == CONNECTION_OK ? PQsocket(conn) : -1;
}

void db_idle_seen(bool readable) {
    if (!g_conn) return;
    if (readable) {
        g_quiet_until = {};
        drain_idle_input(g_conn.get());
    } else {
        g_quiet_until = std::chrono::steady_clock::now() + kQuietFor;
    }
}

bool db_available() { return g_conn && db_check_connection(g_conn.get()) == 0; }

bool db_lost() { return g_conn && db_check_connection(g_conn.get()) != 0; }

DbResult db_query(const char* sql, int64_t* rows, int64_t* fields) {
    if (sql == nullptr) {
        VLOG_ERROR(480, "Attempted to execute NULL database query");
        return DbResult();
    }
    if (db_check_connection(g_conn.get()) == -1) {
        VLOG_ERROR(475, "no database handle");
        return DbResult();
    }
    if (rows) *rows = 0;
    return finish_query(vornDB_query(g_conn.get(), sql), rows, fields);
}

namespace {

DbResult finish_query(DbResult res, int64_t* rows, int64_t* fields) {
    long status = 0;
    if (rows) *rows = 0;
    int code = 0;
    std::optional<std::string> message;
    if (res) {
        status = vornDB_resultStatus(res, &code, &message);
        if (rows) *rows = status;
        if (status >= 0) {
            if (fields) *fields = vornDB_numRetFields(res);
            return res;
        }
    } else {
        vornDB_resultStatus(res, &code, &message);
        std::string err = conn_error(g_conn.get());
        if (!err.empty()) message = err;
    }
    if (!message && code == 2) return DbResult();
    VLOG_ERROR(482, "DB QUERY FAILED [%d:%li]: %s", code, status,
               message ? message->c_str() : "(no DB error message returned)");
    return DbResult();
}

}  // namespace

long db_command(const char* sql) {
    if (sql == nullptr || *sql == '\0') {
        VLOG_ERROR(475, "Attempted to execute NULL database command");
        return -1;
    }
    if (db_check_connection(g_conn.get()) == -1) {
        VLOG_ERROR(475, "no database handle");
        return -1;
    }
    VLOG_DEBUG(4, 0, "DB COMMAND: %s", sql);
    return finish_command(vornDB_query(g_conn.get(), sql));
}

namespace {

long finish_command(DbResult res) {
    int code = 0;
    long status = 0;
    std::optional<std::string> message;
    if (res) {
        status = vornDB_resultStatus(res, &code, &message);
        if (status >= 0) return vornDB_numAffRows(res);
    } else {
        vornDB_resultStatus(res, &code, &message);
        std::string err = conn_error(g_conn.get());
        if (!err.empty()) message = err;
    }
    if (!message && code == 1) return -1;
    VLOG_ERROR(477, "DB COMMAND FAILED [%d:%li]: %s", code, status,
               message ? message->c_str() : "(no DB error message returned)");
    return -1;
}

bool is_missing_statement(const DbResult& res) {
    const char* state = res ? PQresultErrorField(res.get(), PG_DIAG_SQLSTATE) : nullptr;
    return state != nullptr && std::string_view(state) == "26000";
}

// Prepares `st` on the connection unless done; false (with the server's
// reason logged) when the server refuses it.
bool prepare(const DbStatement& st) {
    if (g_prepared.count(st.name)) return true;
    DbResult res(PQprepare(g_conn.get(), st.name, st.sql, 0, nullptr));
    if (res && PQresultStatus(res.get()) == PGRES_COMMAND_OK) {
        g_prepared.insert(st.name);
        return true;
    }
    VLOG_ERROR(482, "DB PREPARE FAILED [%s]: %s", st.name, conn_error(g_conn.get()).c_str());
    return false;
}

DbResult exec_prepared(const DbStatement& st, std::initializer_list<std::string_view> params) {
    if (!prepare(st)) return DbResult();
    // libpq takes NUL-terminated values.
    std::vector<std::string> owned(params.begin(), params.end());
    std::vector<const char*> values;
    values.reserve(owned.size());
    for (const auto& v : owned) values.push_back(v.c_str());
    auto run = [&] {
        return DbResult(PQexecPrepared(g_conn.get(), st.name, static_cast<int>(values.size()), values.data(), nullptr,
                                       nullptr, 0));
    };
    DbResult res = run();
    // Dropped behind our back (DISCARD, a pooler): prepare it again, once.
    if (is_missing_statement(res)) {
        g_prepared.erase(st.name);
        if (!prepare(st)) return DbResult();
        res = run();
    }
    return res;
}

}  // namespace

DbResult db_query_prepared(const DbStatement& st, std::initializer_list<std::string_view> params, int64_t* rows,
                           int64_t* fields) {
    if (rows) *rows = 0;
    if (db_check_connection(g_conn.get()) == -1) {
        VLOG_ERROR(475, "no database handle");
        return DbResult();
    }
    return finish_query(exec_prepared(st, params), rows, fields);
}

long db_command_prepared(const DbStatement& st, std::initializer_list<std::string_view> params) {
    if (db_check_connection(g_conn.get()) == -1) {
        VLOG_ERROR(475, "no database handle");
        return -1;
    }
    return finish_command(exec_prepared(st, params));
}

std::optional<std::string> db_escape_string(std::string_view text) {
    if (text.empty()) return std::nullopt;
    if (text.size() > kEscapeMaxInput) {
        VLOG_ERROR(100, "Unable to escape string, input too long");
        return std::nullopt;
    }
    std::string out(text.size() * 2 + 1, '\0');
    size_t n = 0;
    if (g_conn) {
        int err = 0;
        n = PQescapeStringConn(g_conn.get(), out.data(), text.data(), text.size(), &err);
        if (err) {
            VLOG_ERROR(100, "Unable to escape string, invalid in the database's encoding");
            return std::nullopt;
        }
    } else {
        n = PQescapeString(out.data(), text.data(), text.size());
    }
    out.resize(n);
    return out;
}

std::string db_escape_or_empty(std::string_view text) { return db_escape_string(text).value_or(std::string()); }

int db_escape_in_place(std::string& text, size_t size) {
    if (text.size() > kEscapeInPlaceMax) {
        VLOG_ERROR(100, "Unable to escape string, input too long");
        return 0;
    }
    if (text.empty()) return 1;
    char buf[2 * kEscapeInPlaceMax + 2];
    size_t n = PQescapeString(buf, text.data(), text.size());
    // A cut escaped text could end inside a doubled quote: refuse instead.
    if (n + 1 > size) {
        VLOG_ERROR(100, "Unable to escape string, input too long");
        return 0;
    }
    text.assign(buf, n);
    return 1;
}

int db_get_message_seq_no() {
    static constexpr DbStatement kNext{"vornpms_message_seq", "SELECT nextval('pms_message_seq')"};
    int64_t rows = 0, fields = 0;
    DbResult res = db_query_prepared(kNext, {}, &rows, &fields);
    if (!res) {
        VLOG_ERROR(0, "Error getting sequence number");
        return 0;
    }
    int value = rows > 0 ? static_cast<int>(vornDB_getIntData(res, 0, 0)) : 0;
    vornDB_clearResult(res);
    VLOG_DEBUG(4, 0, "Exiting db_get_message_seq_no, returning [%d]", value);
    return value;
}

int db_reset_message_seq_no() {
    int64_t rows = 0, fields = 0;
    DbResult res = db_query("SELECT setval('pms_message_seq', 100)", &rows, &fields);
    if (!res) {
        VLOG_ERROR(0, "Error reseting sequence number");
        return 0;
    }
    return rows > 0 ? 1 : 0;
}

int db_get_all_rooms(StrList& rooms) {
    int64_t rows = 0, fields = 0;
    DbResult res = db_query("SELECT\tvpi_room_no FROM\tvalid_port_id ORDER BY vpi_room_no", &rows, &fields);
    if (!res) {
        VLOG_ERROR(119, "Error retrieving all rooms from the GWY database");
        return 0;
    }
    for (int64_t i = 0; i < rows; ++i)
        strListAppend(rooms, vornDB_getStringData(res, static_cast<long>(i), 0).value_or(std::string()));
    return static_cast<int>(rows);
}

std::string db_local_time_text(time_t t) {
    struct tm tm {};
    localtime_r(&t, &tm);
    char buf[32];
    strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}
