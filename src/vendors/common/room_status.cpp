#include "vendors/common/room_status.h"

#include "db.h"
#include "platform/log.h"
#include "utils/strutils.h"

static constexpr char kLogSrc[] = "vendors/common/room_status";

ReqResult vendor_db_room_status(const std::string& room, int32_t& status, std::string& reply) {
    status = db_room_is_occupied(room);
    VLOG_DEBUG(2, 0, "Room status request (pms_guests): room '%s' returned '%s'", room.c_str(),
               status > 0 ? "CHECKED-IN" : status == 0 ? "CHECKED-OUT" : "ERROR");
    if (status >= 0) return ReqResult::Ok;
    strAppendFmt(reply, "Error querying status from DB");
    return ReqResult::Failed;
}
