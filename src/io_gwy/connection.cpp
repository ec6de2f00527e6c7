#include "io_gwy/connection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "io_gwy/requests.h"
#include "io_gwy/server.h"
#include "platform/log.h"
#include "state.h"
#include "status.h"
#include "utils/strutils.h"
#include "vendor.h"

static constexpr char kLogSrc[] = "io_gwy/connection";

bool svr_needsLink(const ServerMessage& msg) {
    int type = 0, subtype = 0;
    std::string data;
    if (!svr_parseMessage(msg, type, subtype, data) || type != SVR_MSG_REQUEST) return false;
    // Refused before any vendor code runs.
    if (pms_fd_client < 0 || !svr_isReady()) return false;
    const VendorDescriptor* vendor = vendor_current();
    if (!vendor || subtype <= 0 || subtype > 14) return false;
    return (vendor->requests.link_free & vendor_request_bit(subtype)) == 0;
}

void svr_answerUnavailable(int fd, const std::string& peer, int peer_port) {
    if (svr_sendReply(fd, 1, SVR_UNAVAILABLE_TEXT)) {
        VLOG_INFO("pms_service_GWY: PMS was unavailable... skipped client request from %s:%d", peer.c_str(),
                  peer_port);
    } else {
        VLOG_ERROR(0, "pms_service_GWY: Unable to send error message to client");
    }
}

void svr_answerRequest(int fd, const std::string& peer, int peer_port, const ServerMessage& msg) {
    VLOG_DEBUG(2, 0, "pms_service_GWY: Received server message: %s", msg.data.c_str());

    // The daemon's own status is answered whatever state the PMS link is in.
    if (pms_status_serve(fd, msg)) return;
    if (pms_fd_client < 0 || !svr_isReady()) {
        svr_answerUnavailable(fd, peer, peer_port);
        return;
    }

    VendorDescriptor* vendor = vendor_current();
    if (!vendor) {
        VLOG_ERROR(0, "pms_service_GWY: PMS Vendor has not been initialized");
        return;
    }
    std::string reply;
    int rc = svr_handleRequest(fd, vendor->requests, msg, reply);
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
}
