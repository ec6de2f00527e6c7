#include "platform/syslog_conn.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRetryPause = std::chrono::seconds(5);

struct Conn {
    int fd = -1;
    int type = SOCK_DGRAM;
    std::string ident = program_invocation_short_name;
    bool with_pid = false;
    int facility = LOG_USER;
    std::string path = "/dev/log";
    Clock::time_point next_try{};
    unsigned opens = 0;

    void close_fd() {
        if (fd >= 0) close(fd);
        fd = -1;
    }
    ~Conn() { close_fd(); }
};
Conn g_conn;

bool connect_to(int type) {
    g_conn.fd = socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
    if (g_conn.fd < 0) return false;
    ++g_conn.opens;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (g_conn.path.size() >= sizeof addr.sun_path) {
        g_conn.close_fd();
        return false;
    }
    memcpy(addr.sun_path, g_conn.path.c_str(), g_conn.path.size() + 1);
    if (connect(g_conn.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        g_conn.type = type;
        return true;
    }
    int err = errno;
    g_conn.close_fd();
    errno = err;
    return false;
}

// A datagram socket first; a daemon that listens on a stream socket only
// refuses it with EPROTOTYPE.
bool ensure_open() {
    if (g_conn.fd >= 0) return true;
    const auto now = Clock::now();
    if (now < g_conn.next_try) return false;
    if (connect_to(SOCK_DGRAM) || (errno == EPROTOTYPE && connect_to(SOCK_STREAM))) return true;
    g_conn.next_try = now + kRetryPause;
    return false;
}

std::string framed(int priority, std::string_view text) {
    if ((priority & LOG_FACMASK) == 0) priority |= g_conn.facility;
    char head[64];
    time_t now = time(nullptr);
    struct tm tm {};
    localtime_r(&now, &tm);
    char stamp[32];
    strftime(stamp, sizeof stamp, "%h %e %T", &tm);
    snprintf(head, sizeof head, "<%d>%s ", priority, stamp);
    std::string line = head;
    line += g_conn.ident;
    if (g_conn.with_pid) line += "[" + std::to_string(getpid()) + "]";
    line += ": ";
    line += text;
    return line;
}

bool send_line(const std::string& line) {
    // A stream socket needs a terminator between messages.
    const size_t size = line.size() + (g_conn.type == SOCK_STREAM ? 1 : 0);
    ssize_t n = send(g_conn.fd, line.c_str(), size, MSG_NOSIGNAL);
    return n >= 0;
}

}  // namespace

void syslog_conn_setup(const char* ident, int option, int facility) {
    g_conn.close_fd();
    g_conn.ident = ident ? ident : program_invocation_short_name;
    g_conn.with_pid = (option & LOG_PID) != 0;
    g_conn.facility = facility & LOG_FACMASK;
    g_conn.next_try = {};
}

void syslog_conn_send(int priority, std::string_view text) {
    if (!ensure_open()) return;
    const std::string line = framed(priority, text);
    if (send_line(line)) return;
    // The syslog daemon restarted (or went): connect again once, right away.
    g_conn.close_fd();
    g_conn.next_try = {};
    if (ensure_open() && !send_line(line)) g_conn.close_fd();
}

void syslog_conn_set_path(const char* path) {
    g_conn.close_fd();
    g_conn.path = path;
    g_conn.next_try = {};
}

unsigned syslog_conn_opens() { return g_conn.opens; }
