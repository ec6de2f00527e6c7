#include "platform/dbclient.h"
#include "db_settings.h"

#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "config.h"
#include "platform/log.h"
#include "platform/mcast.h"

static constexpr char kLogSrc[] = "platform/dbclient";

namespace {

// Server notices (warnings of the server) go to the debug log, not stderr.
void notice_to_log(void*, const char* message) {
    std::string text = message ? message : "";
    while (!text.empty() && text.back() == '\n') text.pop_back();
    VLOG_DEBUG(4, 0, "DB notice: %s", text.c_str());
}

bool safe_zone_name(const std::string& zone) {
    if (zone.empty() || zone.size() > 64) return false;
    for (unsigned char c : zone)
        if (!isalnum(c) && c != '/' && c != '_' && c != '+' && c != '-') return false;
    return true;
}

// The process's local time zone by name, so that the server reads the
// local-time texts the daemon writes in the same zone: TZ when set, else
// the zone /etc/localtime points to. Empty when neither gives a usable name.
std::string local_zone_name() {
    if (const char* tz = getenv("TZ"); tz && *tz) {
        std::string zone = tz[0] == ':' ? tz + 1 : tz;
        return safe_zone_name(zone) ? zone : std::string();
    }
    char buf[PATH_MAX];
    ssize_t n = readlink("/etc/localtime", buf, sizeof buf - 1);
    if (n <= 0) return {};
    std::string link(buf, static_cast<size_t>(n));
    size_t at = link.find("zoneinfo/");
    if (at == std::string::npos) return {};
    std::string zone = link.substr(at + 9);
    return safe_zone_name(zone) ? zone : std::string();
}

PGconn* open_conn(const char* name, const char* user, const char* pass, const std::string& options) {
    std::optional<std::string> host = setting_text(kSetDbHost);
    std::optional<std::string> port = setting_text(kSetDbPort);
    std::vector<const char*> keys, values;
    auto add = [&](const char* k, const char* v) {
        keys.push_back(k);
        values.push_back(v);
    };
    add("dbname", name ? name : "");
    add("user", user ? user : "");
    add("password", pass ? pass : "");
    if (host) add("host", host->c_str());
    if (port) add("port", port->c_str());
    add("options", options.c_str());
    add("connect_timeout", "10");
    add("fallback_application_name", "vornpms");
    keys.push_back(nullptr);
    values.push_back(nullptr);
    return PQconnectdbParams(keys.data(), values.data(), 0);
}

bool in_range(const DbResult& res, long row, int col) {
    return res && row >= 0 && col >= 0 && row < PQntuples(res.get()) && col < PQnfields(res.get());
}

}  // namespace

DbConn vornDB_connect(int, const char* name, const char* user, const char* pass) {
    // ISO dates so that timestamps read back in one known form.
    std::string options = "-c DateStyle=ISO,YMD";
    std::string zone = local_zone_name();
    DbConn conn(open_conn(name, user, pass, zone.empty() ? options : options + " -c TimeZone=" + zone));
    if (conn && PQstatus(conn.get()) != CONNECTION_OK && !zone.empty()) {
        // A zone name the server does not know must not keep the daemon out.
        DbConn plain(open_conn(name, user, pass, options));
        if (plain && PQstatus(plain.get()) == CONNECTION_OK) conn = std::move(plain);
    }
    if (conn) PQsetNoticeProcessor(conn.get(), notice_to_log, nullptr);
    return conn;
}

int vornDB_connStatus(PGconn* conn) { return conn && PQstatus(conn) == CONNECTION_OK ? 0 : 1; }

DbResult vornDB_query(PGconn* conn, const char* sql) {
    if (conn == nullptr || sql == nullptr) return DbResult();
    return DbResult(PQexec(conn, sql));
}

long vornDB_resultStatus(const DbResult& res, int* code, std::optional<std::string>* message) {
    if (code) *code = res ? static_cast<int>(PQresultStatus(res.get())) : static_cast<int>(PGRES_FATAL_ERROR);
    if (message) message->reset();
    if (!res) return -1;
    switch (PQresultStatus(res.get())) {
    case PGRES_TUPLES_OK:
        return PQntuples(res.get());
    case PGRES_COMMAND_OK:
    case PGRES_EMPTY_QUERY:
        return 0;
    default:
        break;
    }
    if (message) {
        std::string text = PQresultErrorMessage(res.get());
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
        if (!text.empty()) *message = std::move(text);
    }
    return -1;
}

int vornDB_numRetFields(const DbResult& res) { return res ? PQnfields(res.get()) : 0; }

long vornDB_numAffRows(const DbResult& res) {
    if (!res) return 0;
    return strtol(PQcmdTuples(res.get()), nullptr, 10);
}

std::optional<std::string> vornDB_getStringData(const DbResult& res, long row, int col) {
    if (!in_range(res, row, col) || PQgetisnull(res.get(), static_cast<int>(row), col)) return std::nullopt;
    return std::string(PQgetvalue(res.get(), static_cast<int>(row), col),
                       static_cast<size_t>(PQgetlength(res.get(), static_cast<int>(row), col)));
}

long vornDB_getIntData(const DbResult& res, long row, int col) {
    auto v = vornDB_getStringData(res, row, col);
    return v ? strtol(v->c_str(), nullptr, 10) : 0;
}

double vornDB_getFloatData(const DbResult& res, long row, int col) {
    auto v = vornDB_getStringData(res, row, col);
    return v ? strtod(v->c_str(), nullptr) : 0.0;
}

long vornDB_getTimestampData(const DbResult& res, long row, int col) {
    auto v = vornDB_getStringData(res, row, col);
    if (!v) return 0;
    // The same reading of date-time texts as the announcements use.
    return vornpmsmcast_convert_timestamp_to_int(v->c_str());
}

void vornDB_clearResult(DbResult& res) { res.reset(); }

int vornDB_disconnect(DbConn& conn) {
    if (!conn) return -1;
    conn.reset();
    return 0;
}
