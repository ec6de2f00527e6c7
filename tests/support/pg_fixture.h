// PostgreSQL for database tests. Every test gets a fresh database made from
// vornpms_template (db/schema.sql), so tests run in parallel without seeing
// each other's rows.
//
// The server is the one scripts/pgtmp started for the whole run (PGHOST,
// PGPORT and PGUSER in the environment, as scripts/test sets them). When
// PGHOST is not set (ctest run by hand), the first database of a process
// starts a cluster of its own with scripts/pgtmp and stops it at exit.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tmpfiles.h"

struct PgServer {
    std::string host;    // socket directory
    std::string port;
    std::string user;
    std::string pgdata;  // data directory (for restarts)
};

// The run's shared server; empty host when none could be found or started
// (the reason is in pgSetupError()).
const PgServer& pgSharedServer();
const std::string& pgSetupError();

// A cluster of the test's own, for tests that disturb the server (restarts).
class PgPrivateCluster {
public:
    PgPrivateCluster();
    ~PgPrivateCluster();
    PgPrivateCluster(const PgPrivateCluster&) = delete;
    PgPrivateCluster& operator=(const PgPrivateCluster&) = delete;

    bool ok() const { return !server_.host.empty(); }
    const PgServer& server() const { return server_; }
    const std::string& error() const { return error_; }
    // pg_ctl restart (as the postgres user when run as root); true when it came back.
    bool restart();
    // Stops the server, and starts it again on the same port.
    bool stop();
    bool start();

private:
    TempDir dir_;
    PgServer server_;
    std::string error_;
};

// One fresh database from vornpms_template, dropped when the object dies.
class PgTestDb {
public:
    explicit PgTestDb(const PgServer& server = pgSharedServer());
    ~PgTestDb();
    PgTestDb(const PgTestDb&) = delete;
    PgTestDb& operator=(const PgTestDb&) = delete;

    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    const std::string& name() const { return name_; }
    // DBNAME, DBUSER, DBPASS, DBHOST and DBPORT lines for a test's configuration file.
    std::string configLines() const;

    // Statements on this database over a connection of the test's own, for
    // setting up rows and checking the daemon's effect on them. A failing
    // statement fails the current test.
    void exec(const std::string& sql) const;
    // Rows as texts (NULL is "<null>").
    std::vector<std::vector<std::string>> rows(const std::string& sql) const;
    // First column of the first row ("<none>" when there is no row).
    std::string value(const std::string& sql) const;

private:
    PgServer server_;
    std::string name_;
    bool ok_ = false;
    std::string error_;
};

// Stops the current test when `db` could not be made: a failure when the
// run provides a server (PGHOST set, as in scripts/test), a skip with the
// reason when none could be had.
#define PG_REQUIRE(db)                                                                              \
    do {                                                                                            \
        if (!(db).ok()) {                                                                           \
            if (getenv("PGHOST") != nullptr) FAIL() << "test database: " << (db).error();           \
            GTEST_SKIP() << "no PostgreSQL for this test (" << (db).error()                         \
                         << "); run scripts/test, or install the server with scripts/install-deps"; \
        }                                                                                           \
    } while (0)

// Base of the database-layer tests: a fresh database, a configuration file
// pointing at it, and the daemon's connection open (db_connect).
class DbTestBase : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Rewrites the configuration file with the database lines plus `extra`
    // ("KEY=VALUE\n" lines) and reads it again.
    void configure(const std::string& extra);
    // configure(), then a new connection (settings read at connect, PSI_NO).
    void reconnect(const std::string& extra);

    std::unique_ptr<PgTestDb> db_;
    TempDir dir_;
};
