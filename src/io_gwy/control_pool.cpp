#include "io_gwy/control_pool.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>
#include <string>

#include "io_gwy/connection.h"
#include "io_gwy/server.h"
#include "link.h"
#include "platform/log.h"
#include "utils/strutils.h"

static constexpr char kLogSrc[] = "io_gwy/control_pool";

namespace {

using Clock = std::chrono::steady_clock;

// Beyond this many open connections new ones stay in the listen backlog.
constexpr size_t kMaxConnections = 64;

enum class Phase { Reading, Queued, Answering, Writing, Done };

struct Conn {
    int fd = -1;
    std::string peer;
    int port = 0;
    Phase phase = Phase::Reading;
    std::string in;
    std::optional<ServerMessage> msg;
    std::string out;
    size_t sent = 0;
    Clock::time_point deadline;  // the whole request, then the whole answer
    Clock::time_point queued;    // when the request began to wait for the link

    ~Conn() {
        if (fd >= 0) close(fd);
    }
};

std::vector<std::unique_ptr<Conn>> g_conns;
// Nesting of svr_servePending: a request answered here may wait for the PMS,
// and that wait serves the pool again. Only the outermost call removes
// finished connections, so no caller loses the one it is working on.
int g_depth = 0;
// SvrLinkWaitLimit scopes alive, and when the outermost began.
int g_limited = 0;
Clock::time_point g_limited_since;

void finish(Conn& c) {
    if (c.fd >= 0) close(c.fd);
    c.fd = -1;
    c.phase = Phase::Done;
}

// When a request waiting for the link is to be answered unavailable.
Clock::time_point giveUpAt(const Conn& c) {
    if (g_limited == 0) return Clock::time_point::max();
    unsigned t = link_timeout();
    return std::max(c.queued, g_limited_since) + std::chrono::seconds(t > 0 ? t : 1);
}

void startWriting(Conn& c) {
    c.phase = Phase::Writing;
    c.deadline = Clock::now() + std::chrono::seconds(SVR_SEND_TIMEOUT_S);
}

// Runs the request with its answers collected in the connection.
void answer(Conn& c) {
    c.phase = Phase::Answering;
    svr_captureOutput(c.fd, &c.out);
    svr_answerRequest(c.fd, c.peer, c.port, *c.msg);
    svr_captureOutput(c.fd, nullptr);
    startWriting(c);
}

void read(Conn& c) {
    if (Clock::now() >= c.deadline) {
        VLOG_WARN(0, "Client connection hung up");
        VLOG_ERROR(0, "pms_service_GWY: No message found on socket %d!", c.fd);
        finish(c);
        return;
    }
    SvrReceive got = svr_receiveSome(c.fd, c.in, false);
    if (got == SvrReceive::More) return;
    if (got == SvrReceive::Complete) c.msg = svr_takeMessage(c.in);
    if (!c.msg) {
        VLOG_ERROR(0, "pms_service_GWY: No message found on socket %d!", c.fd);
        finish(c);
        return;
    }
    c.in.clear();
    c.queued = Clock::now();
    c.phase = Phase::Queued;
}

void waitForLink(Conn& c, SvrLink link) {
    if (link == SvrLink::Free || !svr_needsLink(*c.msg)) {
        answer(c);
        return;
    }
    if (Clock::now() < giveUpAt(c)) return;
    VLOG_WARN(0, "pms_service_GWY: PMS link busy for a whole read time-out; request from %s:%d not run",
              c.peer.c_str(), c.port);
    svr_captureOutput(c.fd, &c.out);
    svr_answerUnavailable(c.fd, c.peer, c.port);
    svr_captureOutput(c.fd, nullptr);
    startWriting(c);
}

void write(Conn& c) {
    while (c.sent < c.out.size()) {
        ssize_t n = send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            c.sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (Clock::now() < c.deadline) return;
            VLOG_ERROR(0, "pms_service_GWY: Client %s:%d did not take its answer within %d seconds", c.peer.c_str(),
                       c.port, SVR_SEND_TIMEOUT_S);
        } else {
            VLOG_ERROR(0, "Error during send");
        }
        break;
    }
    finish(c);
}

// Moves one connection on as far as it goes without blocking.
void step(Conn& c, SvrLink link) {
    if (c.phase == Phase::Reading) read(c);
    if (c.phase == Phase::Queued) waitForLink(c, link);
    if (c.phase == Phase::Writing) write(c);
}

std::unique_ptr<Conn> acceptOne(int listen_fd) {
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    int fd = accept4(listen_fd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            VLOG_ERROR(0, "pms_service_GWY: Error accepting client connection");
            VLOG_ERRNO(0, "accept");
        }
        return nullptr;
    }
    auto c = std::make_unique<Conn>();
    c->fd = fd;
    c->peer = strDottedQuad(peer.sin_addr.s_addr);
    c->port = ntohs(peer.sin_port);
    c->deadline = Clock::now() + std::chrono::milliseconds(SVR_MESSAGE_TIMEOUT_MS);
    VLOG_DEBUG(2, 0, "pms_service_GWY: Accepted client connection from %s:%d", c->peer.c_str(), c->port);
    return c;
}

short eventsOf(const Conn& c) {
    switch (c.phase) {
        case Phase::Reading: return POLLIN;
        case Phase::Writing: return POLLOUT;
        default: return 0;
    }
}

}  // namespace

void svr_servePending(int listen_fd, SvrLink link, SvrAccept accept) {
    ++g_depth;
    const size_t most = accept == SvrAccept::UntilEmpty ? kMaxConnections : accept == SvrAccept::One ? 1 : 0;
    for (size_t n = 0; n < most && listen_fd >= 0 && g_conns.size() < kMaxConnections; ++n) {
        auto c = acceptOne(listen_fd);
        if (!c) break;
        g_conns.push_back(std::move(c));
    }
    // By index: answering a request may serve the pool again and add to it.
    for (size_t i = 0; i < g_conns.size(); ++i) {
        Conn* c = g_conns[i].get();
        if (c->phase != Phase::Answering && c->phase != Phase::Done) step(*c, link);
    }
    if (--g_depth == 0)
        std::erase_if(g_conns, [](const std::unique_ptr<Conn>& c) { return c->phase == Phase::Done; });
}

void svr_pendingFds(int listen_fd, std::vector<pollfd>& fds) {
    if (listen_fd >= 0 && g_conns.size() < kMaxConnections) fds.push_back({listen_fd, POLLIN, 0});
    for (const auto& c : g_conns)
        if (short ev = eventsOf(*c)) fds.push_back({c->fd, ev, 0});
}

Clock::time_point svr_pendingDeadline() {
    Clock::time_point first = Clock::time_point::max();
    for (const auto& c : g_conns) {
        if (c->phase == Phase::Reading || c->phase == Phase::Writing) first = std::min(first, c->deadline);
        if (c->phase == Phase::Queued) first = std::min(first, giveUpAt(*c));
    }
    return first;
}

SvrLinkWaitLimit::SvrLinkWaitLimit() {
    if (g_limited++ == 0) g_limited_since = Clock::now();
}

SvrLinkWaitLimit::~SvrLinkWaitLimit() { --g_limited; }

bool svr_pendingQueued() {
    return std::any_of(g_conns.begin(), g_conns.end(),
                       [](const std::unique_ptr<Conn>& c) { return c->phase == Phase::Queued; });
}

void svr_serveClient(int server_fd) {
    pollfd lp{server_fd, POLLIN, 0};
    while (poll(&lp, 1, -1) < 0 && errno == EINTR) {
    }
    std::unique_ptr<Conn> c = acceptOne(server_fd);
    if (!c) return;
    // One connection to its end, waiting only for it.
    for (;;) {
        step(*c, SvrLink::Free);
        short ev = eventsOf(*c);
        if (c->phase == Phase::Done || ev == 0) break;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(c->deadline - Clock::now()).count();
        pollfd p{c->fd, ev, 0};
        poll(&p, 1, static_cast<int>(std::max<long long>(left, 0) + 1));
    }
}
