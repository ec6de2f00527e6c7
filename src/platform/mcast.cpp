#include "platform/mcast.h"
#include "settings_core.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "config.h"
#include "platform/log.h"
#include "utils/strutils.h"

static constexpr char kLogSrc[] = "platform/mcast";

namespace {

int g_sock = -1;
sockaddr_in g_dest{};

void appendEscaped(std::string& out, const std::string& text) {
    for (char c : text) {
        if (c == '\\' || c == '|') out.push_back('\\');
        out.push_back(c);
    }
}

// Splits at the '|' that are not escaped and undoes the escapes; false on a
// dangling backslash.
bool splitEscaped(const std::string& datagram, std::vector<std::string>& fields) {
    fields.assign(1, std::string());
    for (size_t i = 0; i < datagram.size(); ++i) {
        char c = datagram[i];
        if (c == '\\') {
            if (++i == datagram.size()) return false;
            fields.back().push_back(datagram[i]);
        } else if (c == '|') {
            fields.emplace_back();
        } else {
            fields.back().push_back(c);
        }
    }
    return true;
}

bool parseLong(const std::string& text, long& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    long v = strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') return false;
    out = v;
    return true;
}

// Reads exactly `n` digits at text[pos]; advances pos.
bool digits(const char* text, size_t& pos, int n, int& out) {
    out = 0;
    for (int i = 0; i < n; ++i, ++pos) {
        if (!isdigit(static_cast<unsigned char>(text[pos]))) return false;
        out = out * 10 + (text[pos] - '0');
    }
    return true;
}

}  // namespace

int vornpmsmcast_init_client(const char* group, const char* iface) {
    // A re-initialisation replaces the old socket rather than leaking it.
    vornpmsmcast_close_client();
    in_addr grp{}, ifa{};
    if (group == nullptr || inet_pton(AF_INET, group, &grp) != 1 || iface == nullptr ||
        inet_pton(AF_INET, iface, &ifa) != 1) {
        VLOG_ERROR(1000, "vornpmsmcast_init_client: invalid group [%s] or interface [%s]",
                   group ? group : "", iface ? iface : "");
        return -1;
    }
    long port = setting_number(kSetMcastPort);
    if (port < 1 || port > 65535) {
        VLOG_WARN(1000, "vornpmsmcast_init_client: PMSMCAST_PORT %ld out of range, using 5657", port);
        port = 5657;
    }
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        VLOG_ERRNO(1000, "vornpmsmcast_init_client: socket");
        return -1;
    }
    unsigned char ttl = 1, loop = 1;
    if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &ifa, sizeof ifa) != 0 ||
        setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0 ||
        setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) != 0) {
        VLOG_ERRNO(1000, "vornpmsmcast_init_client: cannot use interface [%s]", iface);
        close(fd);
        return -1;
    }
    g_sock = fd;
    g_dest = {};
    g_dest.sin_family = AF_INET;
    g_dest.sin_addr = grp;
    g_dest.sin_port = htons(static_cast<uint16_t>(port));
    VLOG_DEBUG(4, 414, "vornpmsmcast_init_client: group [%s:%ld] interface [%s]", group, port, iface);
    return 0;
}

void vornpmsmcast_close_client() {
    if (g_sock >= 0) close(g_sock);
    g_sock = -1;
}

int vornpmsmcast_open_listener(const char* group, const char* iface, int port) {
    ip_mreq mreq{};
    if (group == nullptr || inet_pton(AF_INET, group, &mreq.imr_multiaddr) != 1 || port < 1 ||
        port > 65535) {
        VLOG_ERROR(1000, "vornpmsmcast_open_listener: invalid group [%s] or port %d",
                   group ? group : "", port);
        return -1;
    }
    mreq.imr_interface.s_addr = htonl(INADDR_ANY);
    if (iface != nullptr && *iface != '\0' && inet_pton(AF_INET, iface, &mreq.imr_interface) != 1) {
        VLOG_ERROR(1000, "vornpmsmcast_open_listener: invalid interface [%s]", iface);
        return -1;
    }
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        VLOG_ERRNO(1000, "vornpmsmcast_open_listener: socket");
        return -1;
    }
    // Several listeners may watch the same group on one host.
    int one = 1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr = mreq.imr_multiaddr;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
        bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof mreq) != 0) {
        VLOG_ERRNO(1000, "vornpmsmcast_open_listener: cannot join [%s:%d]", group, port);
        close(fd);
        return -1;
    }
    return fd;
}

std::string vornpmsmcast_encode(const McastEvent& e) {
    std::string out = std::to_string(e.code);
    for (const std::string* text :
         {&e.first, &e.last, &e.guest_no, &e.room, &e.group, &e.vip, &e.language, &e.prev_room}) {
        out.push_back('|');
        appendEscaped(out, *text);
    }
    strAppendFmt(out, "|%ld|%ld|%ld", e.arrival, e.departure, e.zero);
    return out;
}

bool vornpmsmcast_decode(const std::string& datagram, McastEvent& event) {
    std::vector<std::string> f;
    if (!splitEscaped(datagram, f) || f.size() != 12) return false;
    McastEvent e;
    long code = 0;
    if (!parseLong(f[0], code) || !parseLong(f[9], e.arrival) || !parseLong(f[10], e.departure) ||
        !parseLong(f[11], e.zero))
        return false;
    e.code = static_cast<int>(code);
    e.first = f[1];
    e.last = f[2];
    e.guest_no = f[3];
    e.room = f[4];
    e.group = f[5];
    e.vip = f[6];
    e.language = f[7];
    e.prev_room = f[8];
    event = std::move(e);
    return true;
}

int vornpmsmcast_make_and_send_msg(const McastEvent& event) {
    std::string msg = vornpmsmcast_encode(event);
    if (g_sock < 0) {
        // Never fall back to a default route: without a client nothing leaves the host.
        VLOG_DEBUG(4, 414, "vornpmsmcast_make_and_send_msg: no multicast client, not sent [%s]",
                   msg.c_str());
        return -1;
    }
    ssize_t n = sendto(g_sock, msg.data(), msg.size(), 0, reinterpret_cast<sockaddr*>(&g_dest),
                       sizeof g_dest);
    if (n != static_cast<ssize_t>(msg.size())) {
        VLOG_ERRNO(1000, "vornpmsmcast_make_and_send_msg: send of [%s] failed", msg.c_str());
        return -1;
    }
    VLOG_DEBUG(4, 414, "vornpmsmcast_make_and_send_msg: sent [%s]", msg.c_str());
    return 0;
}

long vornpmsmcast_convert_timestamp_to_int(const char* text) {
    if (text == nullptr) return 0;
    size_t pos = 0;
    int year, mon, day, hour = 0, min = 0, sec = 0;
    if (!digits(text, pos, 4, year) || text[pos++] != '-' || !digits(text, pos, 2, mon) ||
        text[pos++] != '-' || !digits(text, pos, 2, day))
        return 0;
    if (text[pos] == ' ' || text[pos] == 'T') {
        ++pos;
        if (!digits(text, pos, 2, hour) || text[pos++] != ':' || !digits(text, pos, 2, min))
            return 0;
        if (text[pos] == ':') {
            ++pos;
            if (!digits(text, pos, 2, sec)) return 0;
            // Fractions of a second, as PostgreSQL may print them, are dropped.
            if (text[pos] == '.') {
                ++pos;
                while (isdigit(static_cast<unsigned char>(text[pos]))) ++pos;
            }
        }
    }
    // A UTC offset as PostgreSQL prints it for timestamptz ("+02", "-05:30").
    bool has_offset = false;
    long offset = 0;
    if (text[pos] == '+' || text[pos] == '-') {
        int sign = text[pos++] == '-' ? -1 : 1;
        int oh, om = 0;
        if (!digits(text, pos, 2, oh)) return 0;
        if (text[pos] == ':') ++pos;
        if (isdigit(static_cast<unsigned char>(text[pos])) && !digits(text, pos, 2, om)) return 0;
        has_offset = true;
        offset = sign * (oh * 3600L + om * 60L);
    }
    if (text[pos] != '\0') return 0;
    if (mon < 1 || mon > 12 || day < 1 || day > 31 || hour > 23 || min > 59 || sec > 60) return 0;
    tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = mon - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = min;
    t.tm_sec = sec;
    if (has_offset) return static_cast<long>(timegm(&t)) - offset;
    t.tm_isdst = -1;
    time_t v = mktime(&t);
    return v == static_cast<time_t>(-1) ? 0 : static_cast<long>(v);
}
