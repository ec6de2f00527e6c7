// UDP transport of the PMS link: a connected datagram socket to the PMS end
// given by PMSCOMMOPTS ("host|port"), from PMSCOMMSRCOPTS when set. The link
// adds no framing of its own: datagrams are read as one byte stream, a record
// may span datagrams and one datagram may hold several records.
#pragma once

#include <optional>

#include "io_pms/io_inet.h"

struct UdpLink : InetLink {};

// Reads the settings; nullopt (with the reason logged) on any error.
std::optional<UdpLink> io_udp_init();
// The connected non-blocking socket (also stored in `link.fd`), or -1.
int io_udp_open(UdpLink& link);
void io_udp_close(UdpLink& link);
