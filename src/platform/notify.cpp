#include "platform/notify.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/log.h"

static constexpr char kLogSrc[] = "platform/notify";

namespace {

struct NotifyTarget {
    bool read = false;
    bool usable = false;
    sockaddr_un addr{};
    socklen_t len = 0;
};

NotifyTarget g_target;

// "/path" names a socket file, "@name" one in the abstract namespace.
void readTarget() {
    if (g_target.read) return;
    g_target = NotifyTarget{};
    g_target.read = true;
    const char* name = getenv("NOTIFY_SOCKET");
    if (name == nullptr || *name == '\0') return;
    size_t n = strlen(name);
    if ((name[0] != '/' && name[0] != '@') || n >= sizeof g_target.addr.sun_path) {
        VLOG_ERROR(1000, "notify: unusable NOTIFY_SOCKET [%s]", name);
        return;
    }
    g_target.addr.sun_family = AF_UNIX;
    memcpy(g_target.addr.sun_path, name, n);
    if (name[0] == '@') g_target.addr.sun_path[0] = '\0';
    g_target.len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + n);
    g_target.usable = true;
}

}  // namespace

bool notify_enabled() {
    readTarget();
    return g_target.usable;
}

bool notify_send(std::string_view message) {
    if (!notify_enabled()) return false;
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    ssize_t n;
    do n = sendto(fd, message.data(), message.size(), MSG_NOSIGNAL,
                  reinterpret_cast<const sockaddr*>(&g_target.addr), g_target.len);
    while (n < 0 && errno == EINTR);
    int err = errno;
    close(fd);
    if (n < 0) {
        // The watchdog sends every few seconds: one failure is worth a debug line only.
        VLOG_DEBUG(2, 1000, "notify: cannot send to the service manager: %s", strerror(err));
        return false;
    }
    return true;
}

std::optional<std::chrono::microseconds> notify_watchdog_period() {
    if (!notify_enabled()) return std::nullopt;
    const char* usec = getenv("WATCHDOG_USEC");
    if (usec == nullptr || *usec == '\0') return std::nullopt;
    if (const char* pid = getenv("WATCHDOG_PID"); pid != nullptr && *pid != '\0') {
        if (strtol(pid, nullptr, 10) != static_cast<long>(getpid())) return std::nullopt;
    }
    char* end = nullptr;
    errno = 0;
    unsigned long long us = strtoull(usec, &end, 10);
    if (errno != 0 || *end != '\0' || us == 0 || usec[0] == '-') {
        VLOG_ERROR(1000, "notify: unusable WATCHDOG_USEC [%s]", usec);
        return std::nullopt;
    }
    return std::chrono::microseconds(static_cast<long long>(us / 2));
}

void notify_reset() { g_target = NotifyTarget{}; }
