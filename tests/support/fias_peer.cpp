#include "fias_peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

#include "platform/mcast.h"
#include "vendors/common/control_bytes.h"

namespace {
using ctl::ACK, ctl::ETX, ctl::STX;

std::vector<std::string> split(std::string_view s) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= s.size()) {
        size_t bar = s.find('|', start);
        if (bar == std::string_view::npos) {
            out.emplace_back(s.substr(start));
            break;
        }
        out.emplace_back(s.substr(start, bar - start));
        start = bar + 1;
    }
    return out;
}
}  // namespace

std::unique_ptr<FiasPeer> FiasPeer::tcp() {
    std::unique_ptr<FiasPeer> p(new FiasPeer);
    p->listen_fd_ = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(p->listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(p->listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(p->listen_fd_, 4) != 0)
        return nullptr;
    socklen_t len = sizeof a;
    getsockname(p->listen_fd_, reinterpret_cast<sockaddr*>(&a), &len);
    p->port_ = ntohs(a.sin_port);
    return p;
}

std::unique_ptr<FiasPeer> FiasPeer::serial() {
    std::unique_ptr<FiasPeer> p(new FiasPeer);
    p->serial_ = true;
    p->lrc_ = true;
    p->acks_ = true;
    termios raw{};
    cfmakeraw(&raw);
    char name[128] = {};
    if (openpty(&p->fd_, &p->slave_fd_, name, &raw, nullptr) != 0) return nullptr;
    p->slave_path_ = name;
    // The slave stays open here too, so that the master never reads EIO
    // between the daemon's close and its next open.
    return p;
}

FiasPeer::~FiasPeer() {
    if (fd_ >= 0) close(fd_);
    if (slave_fd_ >= 0) close(slave_fd_);
    if (listen_fd_ >= 0) close(listen_fd_);
}

std::string FiasPeer::linkConfig() const {
    if (serial_) return "PMSCOMMTYPE=RS232\nPMSCOMMOPTS=" + slave_path_ + "|9600|8|N|1\n";
    return "PMSCOMMTYPE=TCP\nPMSCOMMOPTS=127.0.0.1|" + std::to_string(port_) + "\n";
}

bool FiasPeer::accept(int timeout_ms) {
    if (serial_) return true;
    pollfd pfd{listen_fd_, POLLIN, 0};
    if (poll(&pfd, 1, timeout_ms) <= 0) return false;
    if (fd_ >= 0) close(fd_);
    fd_ = ::accept(listen_fd_, nullptr, nullptr);
    return fd_ >= 0;
}

char FiasPeer::lrc(std::string_view text) {
    unsigned char x = 0;
    for (char c : text) x ^= static_cast<unsigned char>(c);
    return static_cast<char>(x);
}

std::string FiasPeer::frame(std::string_view body) const {
    std::string f;
    f += STX;
    f += body;
    f += ETX;
    if (lrc_) f += lrc(std::string_view(f).substr(1));
    return f;
}

void FiasPeer::sendRaw(std::string_view bytes) {
    size_t off = 0;
    while (off < bytes.size()) {
        ssize_t n = write(fd_, bytes.data() + off, bytes.size() - off);
        if (n <= 0) return;
        off += static_cast<size_t>(n);
    }
}

char FiasPeer::sendRecord(std::string_view body, bool wait_ack, int timeout_ms) {
    sendRaw(frame(body));
    if (!acks_ || !wait_ack) return 0;
    int b = readByte(timeout_ms);
    return b < 0 ? 0 : static_cast<char>(b);
}

void FiasPeer::hangUp() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

int FiasPeer::readByte(int timeout_ms) {
    if (fd_ < 0) return -1;
    pollfd pfd{fd_, POLLIN, 0};
    if (poll(&pfd, 1, timeout_ms) <= 0) return -1;
    unsigned char c = 0;
    if (read(fd_, &c, 1) != 1) return -1;
    return c;
}

std::string FiasPeer::readRaw(size_t n, int timeout_ms) {
    std::string out;
    while (out.size() < n) {
        int b = readByte(timeout_ms);
        if (b < 0) break;
        out += static_cast<char>(b);
    }
    return out;
}

bool FiasPeer::quiet(int ms) { return readByte(ms) < 0; }

std::optional<std::string> FiasPeer::readRecord(int timeout_ms, char answer) {
    int b;
    do {
        b = readByte(timeout_ms);
        if (b < 0) return std::nullopt;
    } while (b != STX);
    std::string body;
    for (;;) {
        b = readByte(timeout_ms);
        if (b < 0) return std::nullopt;
        if (b == ETX) break;
        body += static_cast<char>(b);
    }
    if (lrc_) {
        b = readByte(timeout_ms);
        if (b < 0) return std::nullopt;
        last_lrc_ = static_cast<char>(b);
        last_lrc_ok_ = last_lrc_ == lrc(body + ETX);
    }
    if (acks_ && answer) sendRaw(std::string(1, answer));
    last_body_ = body;
    return body;
}

bool FiasPeer::matches(std::string_view pattern, std::string_view body) {
    auto p = split(pattern), b = split(body);
    if (p.size() != b.size()) return false;
    for (size_t i = 0; i < p.size(); ++i) {
        const std::string& f = p[i];
        if (!f.empty() && f.back() == '*') {
            if (b[i].compare(0, f.size() - 1, f, 0, f.size() - 1) != 0) return false;
        } else if (f != b[i]) {
            return false;
        }
    }
    return true;
}

bool FiasPeer::expectRecord(std::string_view pattern, int timeout_ms) {
    auto body = readRecord(timeout_ms, acks_ ? ACK : 0);
    if (!body) {
        last_body_ = "(nothing)";
        return false;
    }
    return matches(pattern, *body);
}

McastWatch::McastWatch() {
    // A free port for the group, then the daemon's own listener on it.
    int probe = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(probe, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(probe, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    close(probe);
    fd_ = vornpmsmcast_open_listener(kMcastGroup, "127.0.0.1", port_);
}

McastWatch::~McastWatch() {
    if (fd_ >= 0) close(fd_);
}

std::optional<std::string> McastWatch::next(int timeout_ms) {
    pollfd pfd{fd_, POLLIN, 0};
    if (poll(&pfd, 1, timeout_ms) <= 0) return std::nullopt;
    char buf[2048];
    ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n < 0) return std::nullopt;
    return std::string(buf, static_cast<size_t>(n));
}
