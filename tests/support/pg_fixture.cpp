#include "pg_fixture.h"

#include <libpq-fe.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <sstream>

#include <gtest/gtest.h>

#include "config.h"
#include "db.h"
#include "procrun.h"

namespace {

const std::string kPgtmp = std::string(VORNPMS_SOURCE_DIR) + "/scripts/pgtmp";
constexpr int kPgtmpTimeoutMs = 120000;

std::string envOr(const char* name, const char* dflt) {
    const char* v = getenv(name);
    return v && *v ? v : dflt;
}

// Reads the "export PGHOST=... PGPORT=... PGUSER=... VORNPMS_PGDATA=..." line of pgtmp.
PgServer parseExports(const std::string& out) {
    PgServer s;
    std::istringstream in(out);
    std::string word;
    while (in >> word) {
        auto eq = word.find('=');
        if (eq == std::string::npos) continue;
        std::string key = word.substr(0, eq), value = word.substr(eq + 1);
        if (key == "PGHOST") s.host = value;
        if (key == "PGPORT") s.port = value;
        if (key == "PGUSER") s.user = value;
        if (key == "VORNPMS_PGDATA") s.pgdata = value;
    }
    return s;
}

// Starts a cluster in `dir`; the server, or an empty host with `error` set.
PgServer startCluster(const std::string& dir, std::string& error) {
    RunResult r = runProgram({kPgtmp, "start", dir}, {}, kPgtmpTimeoutMs);
    if (r.status != 0) {
        error = "scripts/pgtmp start failed: " + r.err;
        return {};
    }
    PgServer s = parseExports(r.out);
    if (s.host.empty() || s.port.empty()) error = "scripts/pgtmp gave no server: " + r.out;
    return s;
}

void stopCluster(const std::string& dir) { runProgram({kPgtmp, "stop", dir}, {}, kPgtmpTimeoutMs); }

struct OwnedCluster {
    PgServer server;
    std::string error;
    std::unique_ptr<TempDir> dir;  // set when this process started the cluster
    ~OwnedCluster() {
        if (dir) stopCluster(dir->path());
    }
};

OwnedCluster& shared() {
    static OwnedCluster c;
    static bool started = false;
    if (started) return c;
    started = true;
    if (const char* host = getenv("PGHOST"); host && *host) {
        c.server = {host, envOr("PGPORT", "5432"), envOr("PGUSER", "postgres"), envOr("VORNPMS_PGDATA", "")};
    } else {
        c.dir = std::make_unique<TempDir>();
        c.server = startCluster(c.dir->path(), c.error);
    }
    return c;
}

struct ConnDeleter {
    void operator()(PGconn* c) const { PQfinish(c); }
};
using Conn = std::unique_ptr<PGconn, ConnDeleter>;
struct ResDeleter {
    void operator()(PGresult* r) const { PQclear(r); }
};
using Res = std::unique_ptr<PGresult, ResDeleter>;

Conn connectTo(const PgServer& s, const std::string& db) {
    const char* keys[] = {"host", "port", "user", "dbname", "connect_timeout", nullptr};
    const char* values[] = {s.host.c_str(), s.port.c_str(), s.user.c_str(), db.c_str(), "10", nullptr};
    return Conn(PQconnectdbParams(keys, values, 0));
}

// Runs one statement; empty string on success, else the server's message.
std::string run(PGconn* c, const std::string& sql, Res* out = nullptr) {
    if (PQstatus(c) != CONNECTION_OK) return PQerrorMessage(c);
    Res r(PQexec(c, sql.c_str()));
    auto st = PQresultStatus(r.get());
    if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) return PQresultErrorMessage(r.get());
    if (out) *out = std::move(r);
    return {};
}

std::string uniqueName() {
    static std::atomic<int> counter{0};
    std::string test = "x";
    if (const auto* info = ::testing::UnitTest::GetInstance()->current_test_info())
        test = std::string(info->test_suite_name()) + "_" + info->name();
    std::string name = "vt_" + std::to_string(getpid()) + "_" + std::to_string(counter++) + "_";
    for (char ch : test) name += isalnum(static_cast<unsigned char>(ch)) ? static_cast<char>(tolower(ch)) : '_';
    return name.substr(0, 63);
}

}  // namespace

const PgServer& pgSharedServer() { return shared().server; }
const std::string& pgSetupError() { return shared().error; }

PgPrivateCluster::PgPrivateCluster() { server_ = startCluster(dir_.path(), error_); }

PgPrivateCluster::~PgPrivateCluster() {
    if (ok()) stopCluster(dir_.path());
}

bool PgPrivateCluster::restart() {
    RunResult r = runProgram({kPgtmp, "restart", dir_.path()}, {}, kPgtmpTimeoutMs);
    if (r.status != 0) error_ = "scripts/pgtmp restart failed: " + r.err;
    return r.status == 0;
}

bool PgPrivateCluster::stop() {
    RunResult r = runProgram({kPgtmp, "stop", dir_.path()}, {}, kPgtmpTimeoutMs);
    if (r.status != 0) error_ = "scripts/pgtmp stop failed: " + r.err;
    return r.status == 0;
}

bool PgPrivateCluster::start() {
    RunResult r = runProgram({kPgtmp, "resume", dir_.path()}, {}, kPgtmpTimeoutMs);
    if (r.status != 0) error_ = "scripts/pgtmp resume failed: " + r.err;
    return r.status == 0;
}

PgTestDb::PgTestDb(const PgServer& server) : server_(server), name_(uniqueName()) {
    if (server_.host.empty()) {
        error_ = pgSetupError().empty() ? "no server" : pgSetupError();
        return;
    }
    Conn admin = connectTo(server_, "postgres");
    error_ = run(admin.get(), "CREATE DATABASE " + name_ + " TEMPLATE vornpms_template");
    ok_ = error_.empty();
}

PgTestDb::~PgTestDb() {
    if (!ok_) return;
    Conn admin = connectTo(server_, "postgres");
    run(admin.get(), "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
}

std::string PgTestDb::configLines() const {
    return "DBNAME=" + name_ + "\nDBUSER=" + server_.user + "\nDBPASS=secret\nDBHOST=" + server_.host +
           "\nDBPORT=" + server_.port + "\n";
}

void PgTestDb::exec(const std::string& sql) const {
    Conn c = connectTo(server_, name_);
    std::string err = run(c.get(), sql);
    if (!err.empty()) ADD_FAILURE() << "statement failed: " << sql << "\n" << err;
}

std::vector<std::vector<std::string>> PgTestDb::rows(const std::string& sql) const {
    Conn c = connectTo(server_, name_);
    Res r;
    std::string err = run(c.get(), sql, &r);
    std::vector<std::vector<std::string>> out;
    if (!err.empty()) {
        ADD_FAILURE() << "query failed: " << sql << "\n" << err;
        return out;
    }
    for (int i = 0; i < PQntuples(r.get()); ++i) {
        std::vector<std::string> row;
        for (int j = 0; j < PQnfields(r.get()); ++j)
            row.push_back(PQgetisnull(r.get(), i, j) ? "<null>" : PQgetvalue(r.get(), i, j));
        out.push_back(std::move(row));
    }
    return out;
}

std::string PgTestDb::value(const std::string& sql) const {
    auto r = rows(sql);
    return r.empty() || r[0].empty() ? "<none>" : r[0][0];
}

void DbTestBase::SetUp() {
    db_ = std::make_unique<PgTestDb>();
    PG_REQUIRE(*db_);
    reconnect("");
}

void DbTestBase::TearDown() {
    db_disconnect();
    config_free();
    db_.reset();
}

void DbTestBase::configure(const std::string& extra) {
    g_config_file = dir_.write("vornpms.cfg", db_->configLines() + extra);
    ASSERT_EQ(config_init(), 1);
}

void DbTestBase::reconnect(const std::string& extra) {
    configure(extra);
    db_disconnect();
    ASSERT_EQ(db_connect(), 1);
}
