// Control requests: the fourteen request kinds of a type-01 message, their
// argument checks, the call of the current vendor's request slot and the
// answer messages of a successful request. A failed request returns its result
// code (2 invalid parameter data, 3 not implemented, 4 failure explained in
// `reply`, or a vendor's own code); the connection layer sends it as type 03.
#pragma once

#include <functional>
#include <string>

#include "io_gwy/server.h"
#include "vendor.h"

enum PmsRequest : int {
    PMS_REQ_CHECK_ROOM = 1,
    PMS_REQ_CHECK_OUT = 2,
    PMS_REQ_CHECK_IN = 3,
    PMS_REQ_GUEST_FOLIO = 4,
    PMS_REQ_GUEST_INFO = 5,
    PMS_REQ_POST = 6,
    PMS_REQ_AUTH = 7,
    PMS_REQ_RT_BILLING = 8,
    PMS_REQ_ROOM_EQUIP_STATUS = 9,
    PMS_REQ_DB_SWAP = 10,
    PMS_REQ_GUEST_MESSAGES = 11,
    PMS_REQ_GUEST_MESSAGE_DELETE = 12,
    PMS_REQ_CHECK_STATUS = 13,
    PMS_REQ_CHECK_DB_SWAP_STATUS = 14,
};

// A guest-info line travels in one message: 1024 bytes less the framing.
inline constexpr size_t SVR_GUEST_INFO_LINE_MAX = 1017;

// Real-time billing (subtype 8) runs the charge scan-and-post cycle. The
// daemon core installs pms_db_scan_and_post here when it wires the main loop;
// tests install their own. Without a hook the request only answers "1".
using SvrBillingHook = std::function<void()>;
void svr_setBillingHook(SvrBillingHook hook);

int svr_handleRequest(int fd, const VendorRequests& requests, const ServerMessage& msg,
                      std::string& reply);
int svr_dispatchRequest(int fd, const VendorRequests& requests, int subtype,
                        const std::string& data, std::string& reply);

// Subtype 6: builds the posting record from the five fields and hands it to
// the vendor's post_charge slot; answers "1" on success.
int svr_requestPost(int fd, const VendorRequests& requests, const std::string& data,
                    std::string& reply);

// Sends one type-02 answer with the request's subtype; 1 when sent.
int svr_sendAnswer(int fd, int subtype, std::string_view text);
