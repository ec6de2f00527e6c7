/* Reference for the room-status path: a plain libpq program on one
 * connection that serves the control port's room-status request the way a
 * hand-written C server would. It answers one request per connection, one
 * connection at a time, with the same SELECT as the daemon.
 *
 *   ref_room_status PORT PSI_NO      (database from the PG* environment)
 */
#include <arpa/inet.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: ref_room_status PORT PSI_NO\n");
        return 2;
    }
    int psi = atoi(argv[2]);
    PGconn* db = PQconnectdb("");
    if (PQstatus(db) != CONNECTION_OK) {
        fprintf(stderr, "ref_room_status: %s", PQerrorMessage(db));
        return 1;
    }
    int srv = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(srv, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    struct sockaddr_in addr = {0};
    addr.sin_family = AF_INET;
    addr.sin_port = htons((unsigned short)atoi(argv[1]));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(srv, (struct sockaddr*)&addr, sizeof addr) != 0 || listen(srv, 128) != 0) {
        perror("ref_room_status: bind");
        return 1;
    }
    printf("listening\n");
    fflush(stdout);
    for (;;) {
        int c = accept(srv, NULL, NULL);
        if (c < 0) continue;
        char buf[1100];
        size_t have = 0;
        while (have < sizeof buf - 1) {
            ssize_t n = recv(c, buf + have, sizeof buf - 1 - have, 0);
            if (n <= 0) break;
            have += (size_t)n;
            if (memchr(buf, 0x03, have)) break;
        }
        char* etx = memchr(buf, 0x03, have);
        if (have < 6 || buf[0] != 0x02 || !etx) {
            close(c);
            continue;
        }
        *etx = '\0';
        const char* room = buf + 5;
        char esc[2100];
        PQescapeStringConn(db, esc, room, strlen(room), NULL);
        char sql[2400];
        snprintf(sql, sizeof sql,
                 "SELECT\tpg.pms_seq_no FROM\tpms_guests pg, port_room_status prs WHERE pg.pms_room = '%s' AND "
                 "pg.pms_room = prs.prs_room_no AND pg.pms_is_stale = 0 and pg.pms_psi_no = %d",
                 esc, psi);
        PGresult* res = PQexec(db, sql);
        char reply[16];
        int len = snprintf(reply, sizeof reply, "\00202%.2s%d\003", buf + 3,
                           PQresultStatus(res) == PGRES_TUPLES_OK && PQntuples(res) > 0);
        PQclear(res);
        send(c, reply, (size_t)len, MSG_NOSIGNAL);
        close(c);
    }
}
