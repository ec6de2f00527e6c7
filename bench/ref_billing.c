/* Reference for the billing cycle: a plain libpq program on one connection
 * that selects the unposted charges with the daemon's query, marks each one
 * with the daemon's UPDATE and writes the same BILLING line to syslog.
 *
 *   ref_billing PSI_NO       (database from the PG* environment)
 * Prints "rows=N seconds=S".
 */
#include <libpq-fe.h>
#include <stdio.h>
#include <stdlib.h>
#include <syslog.h>
#include <time.h>

static double now_s(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: ref_billing PSI_NO\n");
        return 2;
    }
    int psi = atoi(argv[1]);
    PGconn* db = PQconnectdb("");
    if (PQstatus(db) != CONNECTION_OK) {
        fprintf(stderr, "ref_billing: %s", PQerrorMessage(db));
        return 1;
    }
    openlog("ref_billing", LOG_PID, LOG_LOCAL6);
    double start = now_s();
    char sql[1024];
    snprintf(sql, sizeof sql,
             "SELECT s.ses_seq_no, s.ses_reg_time_dt, s.ses_reg_expire_dt, s.ses_room_no, s.ses_access_code, "
             "s.ses_auth_code, s.ses_amount, s.ses_mac, s.ses_port_id, s.ses_reg_type, s.ses_user_lang, "
             "s.ses_wired_for_bus, s.ses_posted_flag, s.ses_guest_no FROM   session_info s WHERE\ts.ses_posted_flag = 0 "
             "AND\ts.ses_psi_no = %d AND\ts.ses_reg_expire_dt >= '1971-01-01 12:00:00'   ORDER BY s.ses_reg_time_dt",
             psi);
    PGresult* rows = PQexec(db, sql);
    if (PQresultStatus(rows) != PGRES_TUPLES_OK) {
        fprintf(stderr, "ref_billing: %s", PQerrorMessage(db));
        return 1;
    }
    int n = PQntuples(rows);
    for (int i = 0; i < n; ++i) {
        long seq = atol(PQgetvalue(rows, i, 0));
        snprintf(sql, sizeof sql,
                 "UPDATE session_info SET\tses_posted_flag = %d, \tses_posted_dt = 'now()' WHERE  ses_seq_no = %ld", 1,
                 seq);
        PGresult* r = PQexec(db, sql);
        if (PQresultStatus(r) != PGRES_COMMAND_OK) fprintf(stderr, "ref_billing: %s", PQerrorMessage(db));
        PQclear(r);
        time_t t = time(NULL);
        struct tm tm;
        localtime_r(&t, &tm);
        char stamp[21];
        strftime(stamp, sizeof stamp, "%F,%T", &tm);
        syslog(LOG_INFO, "BILLING posted %ld %s %s %0.2f %s", seq, stamp, PQgetvalue(rows, i, 3),
               atof(PQgetvalue(rows, i, 6)), PQgetvalue(rows, i, 7));
    }
    PQclear(rows);
    printf("rows=%d seconds=%.6f\n", n, now_s() - start);
    PQfinish(db);
    return 0;
}
