#include "service.h"

#include <optional>
#include <string>

#include "platform/log.h"
#include "platform/notify.h"
#include "status.h"

static constexpr char kLogSrc[] = "service";

namespace {

struct ServiceState {
    bool read = false;
    std::optional<std::chrono::microseconds> period;
    ServiceClock::time_point next_ping{};
    std::string sent_status;
};

ServiceState g_service;

void readOnce() {
    if (g_service.read) return;
    g_service.read = true;
    g_service.period = notify_watchdog_period();
    g_service.next_ping = ServiceClock::now();
    if (g_service.period)
        VLOG_DEBUG(2, 1000, "service: watchdog keep-alive every %lld ms",
                   static_cast<long long>(g_service.period->count() / 1000));
}

void sendStatus(bool force) {
    std::string line = pms_status_line(pms_status_now());
    if (!force && line == g_service.sent_status) return;
    if (notify_send("STATUS=" + line)) g_service.sent_status = std::move(line);
}

}  // namespace

void pms_service_ready() {
    if (!notify_enabled()) return;
    readOnce();
    notify_send("READY=1");
    sendStatus(true);
    pms_service_tick();
}

void pms_service_stopping() { notify_send("STOPPING=1"); }

ServiceClock::time_point pms_service_wake(ServiceClock::time_point deadline) {
    readOnce();
    if (!g_service.period) return deadline;
    return std::min(deadline, g_service.next_ping);
}

void pms_service_tick() {
    if (!notify_enabled()) return;
    readOnce();
    auto now = ServiceClock::now();
    if (g_service.period && now >= g_service.next_ping) {
        notify_send("WATCHDOG=1");
        g_service.next_ping = now + *g_service.period;
    }
    sendStatus(false);
}

void pms_service_reset() { g_service = ServiceState{}; }
