#include "loopback_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <utility>

namespace {

sockaddr_in loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    return a;
}

int local_port(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

int bound_socket(int type, int port) {
    int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0) abort();
    sockaddr_in a = loopback(port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) abort();
    return fd;
}

bool readable(int fd, int timeout_ms) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, timeout_ms) > 0;
}

}  // namespace

StreamPeer::~StreamPeer() { close(); }

StreamPeer::StreamPeer(StreamPeer&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

StreamPeer& StreamPeer::operator=(StreamPeer&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

bool StreamPeer::send(const std::string& bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        // A pseudo-terminal's master is no socket: plain write.
        if (n < 0 && errno == ENOTSOCK) n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool StreamPeer::sendSlowly(const std::string& bytes, int gap_ms) const {
    for (char c : bytes) {
        if (!send(std::string(1, c))) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(gap_ms));
    }
    return true;
}

std::string StreamPeer::receive(size_t want, int timeout_ms) const {
    std::string got;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (got.size() < want) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !readable(fd_, static_cast<int>(left.count()))) break;
        char buf[4096];
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n < 0 && errno == ENOTSOCK) n = ::read(fd_, buf, sizeof buf);
        if (n <= 0) break;
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

int StreamPeer::remotePort() const {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getpeername(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

void StreamPeer::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

TcpListener::TcpListener() : fd_(bound_socket(SOCK_STREAM, 0)), port_(local_port(fd_)) {
    if (listen(fd_, 8) != 0) abort();
}

TcpListener::~TcpListener() { ::close(fd_); }

StreamPeer TcpListener::accept(int timeout_ms) const {
    if (!readable(fd_, timeout_ms)) return StreamPeer();
    return StreamPeer(::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC));
}

UdpPeer::UdpPeer() : fd_(bound_socket(SOCK_DGRAM, 0)), port_(local_port(fd_)) {}

UdpPeer::~UdpPeer() { close(); }

std::string UdpPeer::receive(int timeout_ms) {
    if (!readable(fd_, timeout_ms)) return "";
    char buf[65536];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t n = recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) return "";
    sender_port_ = ntohs(from.sin_port);
    return std::string(buf, static_cast<size_t>(n));
}

bool UdpPeer::sendBack(const std::string& datagram) const {
    sockaddr_in to = loopback(sender_port_);
    return sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
           static_cast<ssize_t>(datagram.size());
}

void UdpPeer::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

RefusingPort::RefusingPort() : fd_(bound_socket(SOCK_STREAM, 0)), port_(local_port(fd_)) {}

RefusingPort::~RefusingPort() { ::close(fd_); }

int freeLoopbackPort(int type) {
    int fd = bound_socket(type, 0);
    int port = local_port(fd);
    ::close(fd);
    return port;
}
