#include "io_pms/io_wait.h"

#include <algorithm>
#include <cerrno>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

IoWaitCompanion g_companion;
bool g_serving = false;

class ServingScope {
public:
    ServingScope() { g_serving = true; }
    ~ServingScope() { g_serving = false; }
    ServingScope(const ServingScope&) = delete;
    ServingScope& operator=(const ServingScope&) = delete;
};

int msUntil(Clock::time_point t) {
    if (t == Clock::time_point::max()) return -1;
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(t - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(ms, 0, 24LL * 3600 * 1000));
}

}  // namespace

void io_set_wait_companion(IoWaitCompanion companion) { g_companion = std::move(companion); }

int io_wait_readable_serving(int fd, int timeout_ms) {
    const bool with_companion = !g_serving && g_companion.fds && g_companion.serve;
    const Clock::time_point end =
        timeout_ms < 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(timeout_ms);
    std::vector<pollfd> fds;
    for (;;) {
        fds.assign(1, pollfd{fd, POLLIN, 0});
        Clock::time_point wake = end;
        if (with_companion) {
            g_companion.fds(fds);
            if (g_companion.deadline) wake = std::min(wake, g_companion.deadline());
        }
        int n = poll(fds.data(), fds.size(), msUntil(wake));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        const bool others = std::any_of(fds.begin() + 1, fds.end(), [](const pollfd& p) { return p.revents != 0; });
        if (with_companion && (others || (n == 0 && wake < end))) {
            ServingScope scope;
            g_companion.serve();
        }
        if (fds[0].revents != 0) return 1;
        if (Clock::now() >= end) return 0;
    }
}
