// TCP transport of the PMS link: the daemon connects to the PMS interface
// host given by PMSCOMMOPTS ("host|port"), from PMSCOMMSRCOPTS when set.
#pragma once

#include <optional>
#include <string>

#include "io_pms/io_inet.h"

struct TcpLink : InetLink {};

// Reads the settings; nullopt (with the reason logged) on any error.
std::optional<TcpLink> io_tcp_init();
// The connected non-blocking socket (also stored in `link.fd`), or -1.
int io_tcp_open(TcpLink& link);
void io_tcp_close(TcpLink& link);
// One receive of at most 65536 bytes after waiting up to `timeout` seconds:
// the count received (0 on time-out), -1 on failure.
int io_tcp_read_with_timeout(TcpLink& link, std::string& out, IoWait timeout);
