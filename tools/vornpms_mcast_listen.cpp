// Prints every gateway event announcement seen on the multicast group, one
// line each, for operators and tests watching the daemon.
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/log.h"
#include "platform/mcast.h"

namespace {

const char* eventName(int code) {
    switch (code) {
        case MCAST_CHECKIN: return "check-in";
        case MCAST_CHECKOUT: return "check-out";
        case MCAST_GUEST_CHANGE: return "guest-change";
        case MCAST_KEEPALIVE: return "keep-alive";
        case MCAST_MESSAGE: return "message";
        case MCAST_FOLIO: return "folio";
        default: return "unknown";
    }
}

int usage(const char* prog) {
    fprintf(stderr, "Usage: %s [-i iface] [-p port] [-r]\n", prog);
    return 1;
}

// Seconds since the epoch as local "YYYY-MM-DD HH:MM:SS"; "-" for none (0),
// the number itself when it names no local time.
std::string localDateTime(long seconds) {
    if (seconds == 0) return "-";
    time_t t = static_cast<time_t>(seconds);
    tm local{};
    char text[32];
    if (!localtime_r(&t, &local) || strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0)
        return std::to_string(seconds);
    return text;
}

}  // namespace

int main(int argc, char* argv[]) {
    vornMSG_Setup("vornpms_mcast_listen", 0, 176, 0);
    vornMSG_SetStderr(true);
    const char* iface = nullptr;
    long port = 5657;
    bool raw = false;  // -r: arrival and departure as seconds since the epoch
    int opt;
    while ((opt = getopt(argc, argv, "i:p:r")) != -1) {
        switch (opt) {
            case 'i': iface = optarg; break;
            case 'r': raw = true; break;
            case 'p': {
                char* end = nullptr;
                port = strtol(optarg, &end, 10);
                if (*end != '\0' || port < 1 || port > 65535) return usage(argv[0]);
                break;
            }
            default: return usage(argv[0]);
        }
    }
    if (optind != argc) return usage(argv[0]);
    int fd = vornpmsmcast_open_listener(kMcastGroup, iface, static_cast<int>(port));
    if (fd < 0) return 1;
    fprintf(stderr, "listening on %s:%ld interface %s\n", kMcastGroup, port, iface ? iface : "any");
    char buf[65536];
    for (;;) {
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            perror("recv");
            return 1;
        }
        std::string datagram(buf, static_cast<size_t>(n));
        McastEvent e;
        if (!vornpmsmcast_decode(datagram, e)) {
            printf("invalid announcement [%s]\n", datagram.c_str());
        } else {
            std::string arrival = raw ? std::to_string(e.arrival) : localDateTime(e.arrival);
            std::string departure = raw ? std::to_string(e.departure) : localDateTime(e.departure);
            printf("%d %s first[%s] last[%s] guest[%s] room[%s] group[%s] vip[%s] language[%s] "
                   "prev_room[%s] arrival[%s] departure[%s] zero[%ld]\n",
                   e.code, eventName(e.code), e.first.c_str(), e.last.c_str(), e.guest_no.c_str(),
                   e.room.c_str(), e.group.c_str(), e.vip.c_str(), e.language.c_str(),
                   e.prev_room.c_str(), arrival.c_str(), departure.c_str(), e.zero);
        }
        fflush(stdout);
    }
}
