// One control connection: accept it, read its one request, answer it (or say
// why not) and close it. The main loop calls svr_serveClient when the
// listening socket is readable.
#pragma once

#include <string>

inline constexpr char SVR_UNAVAILABLE_TEXT[] = "PMS Server Unavailable. Please retry later.";

// Seconds a client may take to drain our answer before we give up on it.
inline constexpr int SVR_SEND_TIMEOUT_S = 5;

// Accepts one connection on the listening socket and serves it.
void svr_serveClient(int server_fd);
// Serves an accepted connection and closes it.
void svr_serveConnection(int fd, const std::string& peer, int peer_port);
