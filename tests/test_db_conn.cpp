// The connection, statements, escaping, message sequence and room list,
// against a real PostgreSQL server.
#include <gtest/gtest.h>

#include "config.h"
#include "db.h"
#include "logcapture.h"
#include "pg_fixture.h"

namespace {

class DbConnTest : public DbTestBase {};

TEST_F(DbConnTest, MissingSettingsFailInOrderAndSecondConnectKeepsHandle) {
    LogCapture log;
    db_disconnect();
    g_config_file = dir_.write("vornpms.cfg", "DBUSER=x\n");
    ASSERT_EQ(config_init(), 1);
    EXPECT_EQ(db_connect(), 0);
    EXPECT_TRUE(log.contains("Missing config value DBNAME!"));
    g_config_file = dir_.write("vornpms.cfg", "DBNAME=x\nDBUSER=x\n");
    ASSERT_EQ(config_init(), 1);
    EXPECT_EQ(db_connect(), 0);
    EXPECT_TRUE(log.contains("Missing config value DBPASS!"));
    EXPECT_EQ(db_handle(), nullptr);

    // Connected: a second call returns 1 without reading the configuration.
    reconnect("PSI_NO=7\n");
    EXPECT_EQ(g_psi_no, 7);
    g_config_file = dir_.write("vornpms.cfg", "");
    ASSERT_EQ(config_init(), 1);
    log.clear();
    EXPECT_EQ(db_connect(), 1);
    EXPECT_FALSE(log.contains("Missing config value"));
    // PSI_NO absent at the next connection: every filter uses 0.
    reconnect("");
    EXPECT_EQ(g_psi_no, 0);
}

TEST_F(DbConnTest, WrongDatabaseFailsButKeepsHandleForReset) {
    db_disconnect();
    std::string lines = db_->configLines();
    lines.replace(lines.find("DBNAME=") + 7, db_->name().size(), "no_such_db_here");
    g_config_file = dir_.write("vornpms.cfg", lines);
    ASSERT_EQ(config_init(), 1);
    EXPECT_EQ(db_connect(), 0);
    EXPECT_NE(db_handle(), nullptr);
    LogCapture log;
    EXPECT_EQ(db_command("UPDATE pms_guests set pms_is_stale = 1 where pms_psi_no = 0"), -1);
    EXPECT_TRUE(log.contains("Could not reset DB connection"));
    EXPECT_TRUE(log.contains("no database handle"));
}

TEST_F(DbConnTest, QueriesAndCommands) {
    LogCapture log;
    int64_t rows = -1, fields = -1;
    DbResult res = db_query("SELECT 1, 'a'", &rows, &fields);
    ASSERT_TRUE(res);
    EXPECT_EQ(rows, 1);
    EXPECT_EQ(fields, 2);
    EXPECT_EQ(vornDB_getStringData(res, 0, 1).value_or(""), "a");
    EXPECT_FALSE(vornDB_getStringData(res, 1, 0));  // out of range is none, not a crash

    EXPECT_FALSE(db_query(nullptr, &rows, &fields));
    EXPECT_TRUE(log.contains("Attempted to execute NULL database query"));
    EXPECT_FALSE(db_query("SELECT nope FROM nowhere", &rows, &fields));
    EXPECT_TRUE(log.contains("DB QUERY FAILED ["));

    db_->exec("INSERT INTO port_room_status VALUES ('1'), ('2'), ('3')");
    EXPECT_EQ(db_command("DELETE FROM port_room_status WHERE prs_room_no <> '2'"), 2);
    EXPECT_EQ(db_command("DELETE FROM port_room_status WHERE prs_room_no = 'x'"), 0);
    EXPECT_EQ(db_command(""), -1);
    EXPECT_TRUE(log.contains("Attempted to execute NULL database command"));
    EXPECT_EQ(db_command("UPDATE nowhere SET a = 1"), -1);
    EXPECT_TRUE(log.contains("DB COMMAND FAILED ["));
}

TEST_F(DbConnTest, TimestampsReadBackAsEpochSecondsInAnyServerZone) {
    int64_t rows = 0, fields = 0;
    db_command("SET TimeZone = 'Asia/Kolkata'");
    DbResult res = db_query("SELECT timestamptz '2024-05-01 12:00:00+00', NULL::timestamptz", &rows, &fields);
    ASSERT_TRUE(res);
    EXPECT_EQ(vornDB_getTimestampData(res, 0, 0), 1714564800);
    EXPECT_EQ(vornDB_getTimestampData(res, 0, 1), 0);
}

TEST_F(DbConnTest, Escaping) {
    EXPECT_EQ(db_escape_string("O'Brien").value_or("?"), "O''Brien");
    EXPECT_FALSE(db_escape_string(""));
    EXPECT_EQ(db_escape_or_empty(""), "");
    // The escaped form must fit 65,536 bytes: longer inputs are refused.
    EXPECT_TRUE(db_escape_string(std::string(32767, '\'')));
    EXPECT_FALSE(db_escape_string(std::string(32768, 'a')));

    LogCapture log;
    std::string t255(254, 'a');
    t255 += '\'';
    EXPECT_EQ(db_escape_in_place(t255, 512), 1);
    EXPECT_EQ(t255, std::string(254, 'a') + "''");
    std::string t256(256, 'a');
    EXPECT_EQ(db_escape_in_place(t256, 512), 0);
    EXPECT_EQ(t256, std::string(256, 'a'));
    EXPECT_TRUE(log.contains("Unable to escape string, input too long"));
    std::string empty;
    EXPECT_EQ(db_escape_in_place(empty, 10), 1);
    // An escaped text that would have to be cut is refused, never half-quoted.
    std::string quote = "ab'";
    EXPECT_EQ(db_escape_in_place(quote, 4), 0);
    EXPECT_EQ(quote, "ab'");
    EXPECT_EQ(db_escape_in_place(quote, 5), 1);
    EXPECT_EQ(quote, "ab''");
}

TEST_F(DbConnTest, MessageSequenceRestartsAt101) {
    int first = db_get_message_seq_no();
    EXPECT_GT(first, 0);
    EXPECT_EQ(db_get_message_seq_no(), first + 1);
    EXPECT_EQ(db_reset_message_seq_no(), 1);
    EXPECT_EQ(db_get_message_seq_no(), 101);
    EXPECT_EQ(db_get_message_seq_no(), 102);
}

TEST_F(DbConnTest, AllRooms) {
    StrList rooms{"kept"};
    EXPECT_EQ(db_get_all_rooms(rooms), 0);
    EXPECT_EQ(rooms, StrList{"kept"});
    db_->exec("INSERT INTO valid_port_id (vpi_room_no) VALUES ('201'), ('101'), ('102')");
    rooms.clear();
    EXPECT_EQ(db_get_all_rooms(rooms), 3);
    EXPECT_EQ(rooms, (StrList{"101", "102", "201"}));
}

// The server goes away and comes back between two statements: the next
// statement notices, resets the connection once and runs.
TEST(DbRestart, NextStatementResetsAndRuns) {
    PgPrivateCluster cluster;
    if (!cluster.ok()) GTEST_SKIP() << "no private PostgreSQL cluster: " << cluster.error();
    PgTestDb db(cluster.server());
    ASSERT_TRUE(db.ok()) << db.error();
    TempDir dir;
    g_config_file = dir.write("vornpms.cfg", db.configLines());
    ASSERT_EQ(config_init(), 1);
    db_disconnect();
    ASSERT_EQ(db_connect(), 1);
    EXPECT_GT(db_get_message_seq_no(), 0);
    EXPECT_EQ(db_reset_message_seq_no(), 1);

    ASSERT_TRUE(cluster.restart()) << cluster.error();
    LogCapture log;
    EXPECT_EQ(db_get_message_seq_no(), 101);
    EXPECT_EQ(log.count("DB connection lost, resetting"), 1);
    EXPECT_FALSE(log.contains("FAILED"));
    EXPECT_EQ(db_command("select fn_pms_room_list_update('101', 1)"), 1);
    EXPECT_EQ(db.value("SELECT prl_occupied FROM pms_room_list WHERE prl_room = '101'"), "1");
    db_disconnect();
    config_free();
}

}  // namespace
