#include "io_pms/io_tcp.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "io_pms/io_inet.h"
#include "platform/log.h"

namespace {
constexpr EndpointTexts kTcpTexts{
    "Unable to parse TCP settings from config option PMSCOMMOPTS",
    "Invalid PMSCOMMOPTS for TCP.  Must be a valid IP address",
    "Invalid PMSCOMMOPTS for TCP.  Must be a valid port number",
    "Unable to parse local TCP settings from config option PMSCOMMSRCOPTS",
    "Invalid PMSCOMMSRCOPTS for TCP.  Must be a valid IP address",
    "Invalid PMSCOMMSRCOPTS for TCP.  Must be a valid port number",
};
constexpr size_t kReceiveMax = 65536;
}  // namespace

std::optional<TcpLink> io_tcp_init() {
    TcpLink link;
    if (!io_inet_init(kTcpTexts, link)) return std::nullopt;
    return link;
}

int io_tcp_open(TcpLink& link) {
    int fd = io_inet_open(SOCK_STREAM, link);
    if (fd >= 0) ioc_buffer_begin(fd, false);
    return fd;
}

void io_tcp_close(TcpLink& link) {
    ioc_buffer_end(link.fd);
    io_inet_close(link);
}

int io_tcp_read_with_timeout(TcpLink& link, std::string& out, IoWait timeout) {
    out.clear();
    if (link.fd < 0) {
        errno = EBADF;
        return -1;
    }
    // Bytes a record reader received beyond its record come first.
    if (size_t kept = ioc_pending(link.fd)) {
        std::string rest;
        int n = ioc_read_nbytes(link.fd, 0, rest, static_cast<int>(std::min(kept, kReceiveMax)));
        if (n > 0) out = std::move(rest);
        return n;
    }
    int ready = ioc_wait_readable(link.fd, timeout);
    if (ready <= 0) return ready;
    std::vector<char> buffer(kReceiveMax);
    ssize_t got;
    do {
        got = recv(link.fd, buffer.data(), buffer.size(), 0);
    } while (got < 0 && errno == EINTR);
    if (got < 0) return -1;
    out.assign(buffer.data(), static_cast<size_t>(got));
    return static_cast<int>(got);
}
