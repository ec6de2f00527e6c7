#include "io_pms/io_udp.h"

#include <sys/socket.h>

#include "io_pms/io_inet.h"

namespace {
constexpr EndpointTexts kUdpTexts{
    "Unable to parse udp settings from config option PMSCOMMOPTS",
    "Invalid PMSCOMMOPTS for UDP.  Must be a valid IP address",
    "Invalid PMSCOMMOPTS for UDP.  Must be a valid port number",
    "Unable to parse local UDP settings from config option PMSCOMMSRCOPTS",
    "Invalid PMSCOMMSRCOPTS for UDP.  Must be a valid IP address",
    "Invalid PMSCOMMSRCOPTS for UDP.  Must be a valid port number",
};
}  // namespace

std::optional<UdpLink> io_udp_init() {
    UdpLink link;
    if (!io_inet_init(kUdpTexts, link)) return std::nullopt;
    return link;
}

int io_udp_open(UdpLink& link) {
    int fd = io_inet_open(SOCK_DGRAM, link);
    if (fd >= 0) ioc_buffer_begin(fd, true);
    return fd;
}

void io_udp_close(UdpLink& link) {
    ioc_buffer_end(link.fd);
    io_inet_close(link);
}
