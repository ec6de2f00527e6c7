// The connection to the local syslog daemon: one datagram socket, connected
// once and kept; it is opened again only after a send fails. While nothing
// listens at the socket path, a new attempt is made at most every few
// seconds, so that a host without syslog costs no system calls per line.
#pragma once

#include <string_view>

// Ident, LOG_PID and facility as openlog takes them. Closes a connection
// that is open, so that the next line goes out under the new ident.
void syslog_conn_setup(const char* ident, int option, int facility);
// One line at `priority` (a level, or a level with a facility).
void syslog_conn_send(int priority, std::string_view text);
// Where the syslog daemon listens; tests point it elsewhere. Closes the
// connection held.
void syslog_conn_set_path(const char* path);
// Times the socket was opened (connected or not): what a test watches.
unsigned syslog_conn_opens();
