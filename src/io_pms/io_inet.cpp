#include "io_pms/io_inet.h"
#include "settings_core.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "config.h"
#include "link.h"
#include "platform/log.h"
#include "utils/strutils.h"

static constexpr char kLogSrc[] = "io_pms/io_inet";

namespace {

// Both settings are exactly two fields split at "|".
std::optional<std::vector<std::string>> two_fields(const std::string& value) {
    std::vector<std::string> fields = strSplit(value, "|");
    if (fields.size() != 2) return std::nullopt;
    return fields;
}

std::optional<in_addr> resolve_ipv4(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return std::nullopt;
    in_addr addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return addr;
}

}  // namespace

std::optional<sockaddr_in> io_parse_remote_endpoint(const EndpointTexts& texts) {
    auto value = setting_text(kSetCommOpts);
    if (!value) {
        VLOG_ERROR(1000, "Unable to retrieve communcations option 'PMSCOMMOPTS' from configuration file");
        config_report_invalid("PMSCOMMOPTS");
        return std::nullopt;
    }
    auto fields = two_fields(*value);
    if (!fields) {
        VLOG_ERROR(1000, "%s", texts.remote_unparsable);
        config_report_invalid("PMSCOMMOPTS");
        return std::nullopt;
    }
    const std::string& host = (*fields)[0];
    std::optional<in_addr> addr;
    if (!host.empty()) addr = resolve_ipv4(host);
    if (!addr) {
        VLOG_ERROR(1000, "%s", texts.remote_bad_host);
        return std::nullopt;
    }
    auto port = io_scan_number((*fields)[1]);
    if (!port || *port < 1 || *port > 65535) {
        VLOG_ERROR(1000, "%s", texts.remote_bad_port);
        return std::nullopt;
    }
    sockaddr_in ep{};
    ep.sin_family = AF_INET;
    ep.sin_addr = *addr;
    ep.sin_port = htons(static_cast<uint16_t>(*port));
    return ep;
}

std::optional<sockaddr_in> io_parse_local_endpoint(const EndpointTexts& texts) {
    sockaddr_in ep{};
    ep.sin_family = AF_INET;
    ep.sin_addr.s_addr = htonl(INADDR_ANY);
    ep.sin_port = 0;

    auto value = setting_text(kSetCommSrcOpts);
    if (!value) return ep;
    VLOG_DEBUG(4, 1000, "Parsing src comm opts [%s]", value->c_str());
    auto fields = two_fields(*value);
    if (!fields) {
        VLOG_ERROR(1000, "%s", texts.local_unparsable);
        config_report_invalid("PMSCOMMSRCOPTS");
        return std::nullopt;
    }
    const std::string& address = (*fields)[0];
    const std::string& port_text = (*fields)[1];
    VLOG_DEBUG(4, 1000, "Parsing src comm opts ip[%s], port[%s]", address.c_str(), port_text.c_str());
    if (address.empty() || inet_aton(address.c_str(), &ep.sin_addr) == 0) {
        VLOG_ERROR(1000, "%s", texts.local_bad_address);
        return std::nullopt;
    }
    auto port = io_scan_number(port_text);
    // A negative port would wrap round to a port nobody asked for.
    if (!port || *port < 0 || *port > 65535) {
        VLOG_ERROR(1000, "%s", texts.local_bad_port);
        return std::nullopt;
    }
    ep.sin_port = htons(static_cast<uint16_t>(*port));
    return ep;
}

std::string io_endpoint_address(const sockaddr_in& ep) {
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &ep.sin_addr, text, sizeof text);
    return text;
}

int io_endpoint_port(const sockaddr_in& ep) { return ntohs(ep.sin_port); }

namespace {

// RAII owner of a socket under construction.
class SocketGuard {
public:
    explicit SocketGuard(int fd) : fd_(fd) {}
    ~SocketGuard() {
        if (fd_ >= 0) close(fd_);
    }
    SocketGuard(const SocketGuard&) = delete;
    SocketGuard& operator=(const SocketGuard&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

// connect() on a non-blocking socket, waiting at most `timeout_s` seconds for
// it to complete; 0 connected, -1 with errno set (ETIMEDOUT when the time ran out).
int connect_within(int fd, const sockaddr_in& remote, unsigned timeout_s) {
    if (connect(fd, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) == 0) return 0;
    if (errno != EINPROGRESS && errno != EINTR) return -1;
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::seconds(std::min(timeout_s, 24u * 3600));
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0) {
            errno = ETIMEDOUT;
            return -1;
        }
        pollfd p{fd, POLLOUT, 0};
        int n = poll(&p, 1, static_cast<int>(left));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) continue;
        int err = 0;
        socklen_t len = sizeof err;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0) return -1;
        if (err != 0) {
            errno = err;
            return -1;
        }
        return 0;
    }
}

}  // namespace

int io_inet_connect(int type, const sockaddr_in& local, const sockaddr_in& remote, unsigned timeout_s) {
    const bool tcp = type == SOCK_STREAM;
    SocketGuard sock(socket(AF_INET, type | SOCK_CLOEXEC, 0));
    if (sock.get() < 0) {
        VLOG_ERRNO(1000, tcp ? "Unable to create TCP socket" : "Unable to create UDP socket");
        return -1;
    }
    int on = 1;
    if (setsockopt(sock.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) < 0) return -1;

    if (bind(sock.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) < 0) {
        std::string address = io_endpoint_address(local);
        if (tcp)
            VLOG_ERRNO(1000, "Unable to bind to local address '%s:%d'", address.c_str(), io_endpoint_port(local));
        else
            VLOG_ERROR(1000, "Unable to bind to local address '%s' - %s", address.c_str(), strerror(errno));
        return -1;
    }
    // Non-blocking before the connect: a PMS host that drops SYNs must not
    // hold the daemon for the system's two-minute connect time-out.
    int flags = fcntl(sock.get(), F_GETFL);
    if (flags < 0 || fcntl(sock.get(), F_SETFL, flags | O_NONBLOCK) < 0) {
        VLOG_ERRNO(1000, tcp ? "Unable to set non-blocking mode on TCP socket"
                             : "Unable to set non-blocking mode on UDP socket");
        return -1;
    }
    if (connect_within(sock.get(), remote, timeout_s) < 0) {
        std::string address = io_endpoint_address(remote);
        if (tcp)
            VLOG_ERRNO(1000, "Unable to connect to remote address '%s' [%d]", address.c_str(), errno);
        else
            VLOG_ERRNO(1000, "Unable to connect to remote address '%s'", address.c_str());
        return -1;
    }
    return sock.release();
}

bool io_inet_init(const EndpointTexts& texts, InetLink& link) {
    auto remote = io_parse_remote_endpoint(texts);
    if (!remote) return false;
    auto local = io_parse_local_endpoint(texts);
    if (!local) return false;
    unsigned timeout = link_timeout();
    if (timeout == 0) return false;
    link.remote = *remote;
    link.local = *local;
    link.timeout = timeout;
    link.fd = -1;
    return true;
}

int io_inet_open(int type, InetLink& link) {
    link.fd = io_inet_connect(type, link.local, link.remote, link.timeout);
    return link.fd;
}

void io_inet_close(InetLink& link) {
    if (link.fd >= 0) close(link.fd);
    link.fd = -1;
}
