#include "io_gwy/server.h"
#include "settings_core.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>

#include "config.h"
#include "platform/log.h"

static constexpr char kLogSrc[] = "io_gwy/server";

namespace {

int g_server_fd = -1;
int g_server_port = 0;
ServerStatus g_status = SERVER_NONE;

// Connections whose answers are collected for a non-blocking writer rather
// than sent here. Per thread: the answer is made on the thread that serves
// the connection (tests serve on threads of their own).
thread_local std::map<int, std::string*> g_capture;

// "%02d" into a three-byte field: a value above 99 keeps its first two characters.
// Every request and answer carries two of these, so the usual 0-99 skips printf.
std::string code_text(int value) {
    if (value >= 0 && value <= 99) return {static_cast<char>('0' + value / 10), static_cast<char>('0' + value % 10)};
    char buf[3];
    snprintf(buf, sizeof buf, "%02d", value);
    return buf;
}

bool two_digits(std::string_view s) {
    return s.size() == 2 && isdigit(static_cast<unsigned char>(s[0])) &&
           isdigit(static_cast<unsigned char>(s[1]));
}

// Bind address from CONTROLADDR; INADDR_ANY when absent.
std::optional<in_addr> bind_address() {
    in_addr addr{};
    addr.s_addr = htonl(INADDR_ANY);
    auto v = setting_text(kSetControlAddr);
    if (!v) return addr;
    if (inet_pton(AF_INET, v->c_str(), &addr) != 1) {
        VLOG_ERROR(0, "Invalid CONTROLADDR.  Must be an IPv4 address");
        config_report_invalid("CONTROLADDR");
        return std::nullopt;
    }
    return addr;
}

}  // namespace

int svr_open() {
    auto portnum = config_get_strict_int(kSetControlPort.key);
    if (!setting_text(kSetControlPort)) {
        VLOG_ERROR(0,
                   "Unable to retrieve communcations option 'CONTROLPORT' from configuration file");
        config_report_invalid("CONTROLPORT");
        return -1;
    }
    if (!portnum) {
        VLOG_ERROR(0, "Invalid CONTROLPORT.  Must be a valid port number");
        config_report_invalid("CONTROLPORT");
        return -1;
    }
    const int port = *portnum & 0xFFFF;
    auto addr = bind_address();
    if (!addr) return -1;

    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        VLOG_ERROR(0, "Unable to create server TCP socket");
        VLOG_ERRNO(0, "socket");
        return -1;
    }
    int one = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) < 0) {
        VLOG_ERRNO(0, "Unable to set SO_REUSEADDR on server socket");
        close(fd);
        return -1;
    }
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr = *addr;
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) < 0) {
        char dotted[INET_ADDRSTRLEN] = "";
        inet_ntop(AF_INET, &sa.sin_addr, dotted, sizeof dotted);
        VLOG_ERROR(0, "Unable to bind to local address '%s'", dotted);
        VLOG_ERRNO(0, "bind");
        close(fd);
        return -1;
    }
    if (listen(fd, 5) < 0) {
        VLOG_ERRNO(0, "Unable to listen on server socket");
        close(fd);
        return -1;
    }
    // Port 0 lets the kernel choose; keep the port actually bound.
    socklen_t len = sizeof sa;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0) {
        g_server_port = ntohs(sa.sin_port);
    } else {
        g_server_port = port;
    }
    // Connections are accepted only when poll says one is there; non-blocking
    // all the same, so one that went away meanwhile cannot hold the loop.
    int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    g_server_fd = fd;
    svr_setBusy();
    return fd;
}

void svr_close() {
    if (g_server_fd > 0) {
        shutdown(g_server_fd, SHUT_RDWR);
        close(g_server_fd);
    }
    g_server_fd = -1;
    g_server_port = 0;
    svr_setBusy();
}

int svr_port() { return g_server_port; }

SvrReceive svr_receiveSome(int fd, std::string& buf, bool keep_rest) {
    while (buf.size() < SVR_MAX_MESSAGE) {
        char chunk[SVR_MAX_MESSAGE];
        const size_t room = SVR_MAX_MESSAGE - buf.size();
        // Peeking first lets exactly the bytes up to ETX be taken, so that
        // whatever follows stays in the socket for the caller.
        ssize_t n = recv(fd, chunk, room, MSG_DONTWAIT | (keep_rest ? MSG_PEEK : 0));
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return SvrReceive::More;
            VLOG_ERROR(0, "Error receiving data");
            VLOG_ERRNO(0, "recv");
            return SvrReceive::Failed;
        }
        if (n == 0) {
            VLOG_WARN(0, "Client hung up");
            return SvrReceive::Failed;
        }
        const auto* etx = static_cast<const char*>(memchr(chunk, SVR_ETX, static_cast<size_t>(n)));
        const size_t take = etx ? static_cast<size_t>(etx - chunk) + 1 : static_cast<size_t>(n);
        if (keep_rest) {
            ssize_t got;
            do {
                got = recv(fd, chunk, take, MSG_DONTWAIT);
            } while (got < 0 && errno == EINTR);
            if (got != static_cast<ssize_t>(take)) {
                VLOG_ERROR(0, "Error receiving data");
                return SvrReceive::Failed;
            }
        }
        buf.append(chunk, take);
        if (etx) return SvrReceive::Complete;
    }
    return SvrReceive::Complete;
}

std::optional<ServerMessage> svr_getMessage(int fd) {
    VLOG_DEBUG(4, 0, "in svr_getMessage()");
    if (fd < 0) return std::nullopt;

    // The whole message has to arrive within the limit: the deadline is not
    // renewed by each byte, so a client trickling bytes cannot hold the loop.
    // What is already there is taken at once; the wait is only for the rest.
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(SVR_MESSAGE_TIMEOUT_MS);
    std::string buf;
    buf.reserve(SVR_MAX_MESSAGE);
    for (;;) {
        SvrReceive got = svr_receiveSome(fd, buf, true);
        if (got == SvrReceive::Failed) return std::nullopt;
        if (got == SvrReceive::Complete) break;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() < 0) left = std::chrono::milliseconds(0);
        pollfd pfd{fd, POLLIN, 0};
        int r = poll(&pfd, 1, static_cast<int>(left.count()));
        if (r == 0) {
            VLOG_WARN(0, "Client connection hung up");
            return std::nullopt;
        }
        if (r < 0 && errno != EINTR) {
            VLOG_ERROR(0, "Error on server-side select()");
            VLOG_ERRNO(0, "select");
            return std::nullopt;
        }
    }
    return svr_takeMessage(buf);
}

std::optional<ServerMessage> svr_takeMessage(const std::string& received) {
    // As text: a zero byte ends it, so a frame with one inside has no end marker.
    std::string_view text(received.c_str());
    size_t stx = text.find(SVR_STX);
    if (stx == std::string_view::npos) {
        VLOG_ERROR(0, "Unable to find beginning message marker");
        return std::nullopt;
    }
    size_t etx = text.find(SVR_ETX, stx);
    if (etx == std::string_view::npos) {
        VLOG_ERROR(0, "Unable to find end message marker");
        return std::nullopt;
    }
    std::optional<ServerMessage> msg = svr_decodeFrame(text.substr(stx, etx - stx + 1));
    if (!msg) VLOG_ERROR(0, "Invalid message format");
    return msg;
}

std::optional<ServerMessage> svr_decodeFrame(std::string_view frame) {
    if (frame.size() < 6 || frame.front() != SVR_STX || frame.back() != SVR_ETX ||
        !two_digits(frame.substr(1, 2)) || !two_digits(frame.substr(3, 2)))
        return std::nullopt;
    int type = (frame[1] - '0') * 10 + (frame[2] - '0');
    int subtype = (frame[3] - '0') * 10 + (frame[4] - '0');
    return svr_newMessage(type, subtype, frame.substr(5, frame.size() - 6));
}

ServerMessage svr_newMessage(int type, int subtype, std::string_view data) {
    ServerMessage msg;
    msg.type = code_text(type);
    msg.subtype = code_text(subtype);
    msg.data = std::string(data);
    return msg;
}

int svr_parseMessage(const ServerMessage& msg, int& type, int& subtype, std::string& data) {
    if (msg.type.empty() || msg.subtype.empty()) return 0;
    type = atoi(msg.type.c_str());
    subtype = atoi(msg.subtype.c_str());
    data = msg.data;
    return 1;
}

std::string svr_frame(const ServerMessage& msg) {
    std::string frame;
    frame.push_back(SVR_STX);
    frame += msg.type;
    frame += msg.subtype;
    frame += msg.data.c_str();
    frame.push_back(SVR_ETX);
    return frame;
}

int svr_sendMessage(int fd, const ServerMessage& msg) {
    VLOG_DEBUG(4, 0, "in svr_sendMessage()");
    if (fd < 0) {
        VLOG_ERROR(0, "Unable to send data: null message or bad socket");
        return 0;
    }
    if (msg.type.empty() || msg.subtype.empty()) return 0;
    const std::string frame = svr_frame(msg);
    VLOG_DEBUG(2, 0, "Sending '%s'", frame.c_str());
    if (auto it = g_capture.find(fd); it != g_capture.end()) {
        *it->second += frame;
        return 1;
    }

    size_t sent = 0;
    while (sent < frame.size()) {
        // MSG_NOSIGNAL: a control client that hangs up must not raise the
        // SIGPIPE that stands for a broken PMS link.
        ssize_t n = send(fd, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
        if (n == 0) {
            VLOG_WARN(0, "Client disconnected");
            return 0;
        }
        if (n < 0) {
            if (errno == EINTR) continue;
            VLOG_ERROR(0, "Error during send");
            return 0;
        }
        sent += static_cast<size_t>(n);
    }
    return 1;
}

void svr_captureOutput(int fd, std::string* sink) {
    if (sink)
        g_capture[fd] = sink;
    else
        g_capture.erase(fd);
}

int svr_sendReply(int fd, int code, std::string_view text) {
    return svr_sendMessage(fd, svr_newMessage(SVR_MSG_RESULT, code, text));
}

void svr_setReady() {
    VLOG_DEBUG(1, 0, "Modifying server status to READY");
    g_status = SERVER_READY;
}

void svr_setBusy() {
    VLOG_DEBUG(1, 0, "Modifying server status to BUSY");
    g_status = SERVER_BUSY;
}

int svr_isReady() {
    VLOG_DEBUG(1, 0, "Checking server status of %s", g_status == SERVER_READY ? "READY" : "BUSY");
    return g_status == SERVER_READY ? 1 : 0;
}
