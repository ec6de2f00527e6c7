#include "io_gwy/connection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "io_gwy/requests.h"
#include "io_gwy/server.h"
#include "platform/log.h"
#include "state.h"
#include "utils/strutils.h"
#include "vendor.h"

static constexpr char kLogSrc[] = "io_gwy/connection";

void svr_serveClient(int server_fd) {
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    int fd = accept4(server_fd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
    if (fd < 0) {
        VLOG_ERROR(0, "pms_service_GWY: Error accepting client connection");
        VLOG_ERRNO(0, "accept");
        return;
    }
    char dotted[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &peer.sin_addr, dotted, sizeof dotted);
    const int port = ntohs(peer.sin_port);
    VLOG_DEBUG(2, 0, "pms_service_GWY: Accepted client connection from %s:%d", dotted, port);

    // A client that stops reading must not hold the whole daemon in send().
    timeval tv{SVR_SEND_TIMEOUT_S, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    svr_serveConnection(fd, dotted, port);
}

void svr_serveConnection(int fd, const std::string& peer, int peer_port) {
    std::optional<ServerMessage> msg = svr_getMessage(fd);
    if (!msg) {
        VLOG_ERROR(0, "pms_service_GWY: No message found on socket %d!", fd);
        close(fd);
        return;
    }
    VLOG_DEBUG(2, 0, "pms_service_GWY: Received server message: %s", msg->data.c_str());

    std::string reply;
    if (pms_fd_client < 0 || !svr_isReady()) {
        reply = SVR_UNAVAILABLE_TEXT;
        if (svr_sendReply(fd, 1, reply)) {
            VLOG_INFO("pms_service_GWY: PMS was unavailable... skipped client request from %s:%d",
                      peer.c_str(), peer_port);
        } else {
            VLOG_ERROR(0, "pms_service_GWY: Unable to send error message to client");
        }
        close(fd);
        return;
    }

    VendorDescriptor* vendor = vendor_current();
    if (!vendor) {
        VLOG_ERROR(0, "pms_service_GWY: PMS Vendor has not been initialized");
        close(fd);
        return;
    }
    int rc = svr_handleRequest(fd, vendor->requests, *msg, reply);
    if (rc == 0) {
        VLOG_DEBUG(2, 0, "pms_service_GWY: PMS vendor successfully handled the request");
    } else {
        if (rc == 2) strAppendFmt(reply, "Invalid parameter data");
        if (rc == 3) strAppendFmt(reply, "Functionality not implemented");
        VLOG_ERROR(0, "PMS vendor reported an error handling the request - %s",
                   reply.empty() ? "(null)" : reply.c_str());
        if (!svr_sendReply(fd, rc, reply))
            VLOG_ERROR(0, "pms_service_GWY: Unable to send error message to client");
    }
    close(fd);
}
