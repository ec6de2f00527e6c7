// Database client over libpq: the gateway's vornDB_* calls. The connection
// handle is a libpq connection, so the health check (PQstatus/PQreset) and
// escaping (PQescapeStringConn) work on it directly.
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct PGconnDeleter {
    void operator()(PGconn* conn) const { PQfinish(conn); }
};
using DbConn = std::unique_ptr<PGconn, PGconnDeleter>;

// One statement result; empty when the statement could not be sent.
class DbResult {
public:
    DbResult() = default;
    explicit DbResult(PGresult* res) : res_(res) {}
    explicit operator bool() const { return res_ != nullptr; }
    PGresult* get() const { return res_.get(); }
    void reset() { res_.reset(); }

private:
    struct Clear {
        void operator()(PGresult* res) const { PQclear(res); }
    };
    std::unique_ptr<PGresult, Clear> res_;
};

// Opens a connection from dbname, user, password and, when set, the
// settings DBHOST and DBPORT. `kind` is accepted for the gateway's calling
// convention and not used. The handle comes back even when the connection
// failed (the caller checks vornDB_connStatus); empty only when libpq could
// not allocate one.
DbConn vornDB_connect(int kind, const char* name, const char* user, const char* pass);
// 0 when connected, 1 otherwise.
int vornDB_connStatus(PGconn* conn);
// Runs one statement; an empty result when it could not be sent.
DbResult vornDB_query(PGconn* conn, const char* sql);
// 0 or more on success (the row count of a query, 0 for a command);
// -1 on failure, with `code` set to the libpq result status and `message`
// to the server's message (nullopt when there is none).
long vornDB_resultStatus(const DbResult& res, int* code, std::optional<std::string>* message);
int vornDB_numRetFields(const DbResult& res);
// Rows a command affected (rows returned for a SELECT).
long vornDB_numAffRows(const DbResult& res);
// The value as text; nullopt for SQL NULL or an index out of range.
std::optional<std::string> vornDB_getStringData(const DbResult& res, long row, int col);
// Leading decimal integer of the value ("1714567890.25" gives 1714567890); 0 when none.
long vornDB_getIntData(const DbResult& res, long row, int col);
double vornDB_getFloatData(const DbResult& res, long row, int col);
// A timestamp value as seconds since the epoch: with an offset as printed
// (ISO style), without one as local time; 0 for NULL or an unreadable text.
long vornDB_getTimestampData(const DbResult& res, long row, int col);
void vornDB_clearResult(DbResult& res);
// Closes the connection; 0, or -1 when there was none.
int vornDB_disconnect(DbConn& conn);

