// What the network transports share: the "host|port" settings (the PMS end
// from PMSCOMMOPTS, the optional local end from PMSCOMMSRCOPTS) and the
// connected non-blocking socket.
#pragma once

#include <netinet/in.h>

#include <optional>
#include <string>
#include <string_view>

#include "io_pms/io_common.h"

// Record of a TCP or UDP link.
struct InetLink : IoStream {
    sockaddr_in remote{};
    sockaddr_in local{};
};

// Each transport names itself in its own error texts.
struct EndpointTexts {
    const char* remote_unparsable;  // PMSCOMMOPTS not "host|port"
    const char* remote_bad_host;
    const char* remote_bad_port;
    const char* local_unparsable;  // PMSCOMMSRCOPTS not "address|port"
    const char* local_bad_address;
    const char* local_bad_port;
};

// PMSCOMMOPTS: host name or dotted IPv4 address, then a port 1-65535.
std::optional<sockaddr_in> io_parse_remote_endpoint(const EndpointTexts& texts);
// PMSCOMMSRCOPTS: dotted IPv4 address (no name lookup), then a port 0-65535;
// any address and port 0 when the key is absent.
std::optional<sockaddr_in> io_parse_local_endpoint(const EndpointTexts& texts);

// "a.b.c.d" of an endpoint, and its port in host order.
std::string io_endpoint_address(const sockaddr_in& ep);
int io_endpoint_port(const sockaddr_in& ep);

// Non-blocking socket of `type` (SOCK_STREAM: TCP, SOCK_DGRAM: UDP) bound to
// `local` and connected to `remote` within `timeout_s` seconds
// (PMSCOMMTIMEOUT). The descriptor, or -1 with nothing left open.
int io_inet_connect(int type, const sockaddr_in& local, const sockaddr_in& remote, unsigned timeout_s);

// Fills `link` from PMSCOMMOPTS, PMSCOMMSRCOPTS and PMSCOMMTIMEOUT; false (the
// reason logged) on any error.
bool io_inet_init(const EndpointTexts& texts, InetLink& link);
// Connects `link` (see io_inet_connect); the descriptor or -1.
int io_inet_open(int type, InetLink& link);
void io_inet_close(InetLink& link);
