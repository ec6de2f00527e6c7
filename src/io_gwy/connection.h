// One control connection: read its one request, answer it (or say why not)
// and close it. The daemon serves its connections side by side through
// control_pool.h; svr_serveClient serves one connection to its end.
#pragma once

#include <string>

struct ServerMessage;

inline constexpr char SVR_UNAVAILABLE_TEXT[] = "PMS Server Unavailable. Please retry later.";

// Seconds a client may take to drain our answer before we give up on it.
inline constexpr int SVR_SEND_TIMEOUT_S = 5;

// Waits for one connection on the listening socket and serves it to its end
// with the same deadlines as the pool (control_pool.cpp).
void svr_serveClient(int server_fd);

// Answers one request (or says why not) on `fd`, which stays open.
void svr_answerRequest(int fd, const std::string& peer, int peer_port, const ServerMessage& msg);
// The result-01 answer "PMS Server Unavailable. Please retry later.".
void svr_answerUnavailable(int fd, const std::string& peer, int peer_port);
// True when answering `msg` takes an exchange with the PMS: a vendor request
// the vendor does not answer from the database or its own state, while the
// link is up and READY. Everything else can be answered in the middle of
// another exchange.
bool svr_needsLink(const ServerMessage& msg);
