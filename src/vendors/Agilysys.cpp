// Agilysys: the PMS sends check-in records (CI) framed as STX, text, ETX and
// an LRC of the text; we acknowledge each and record the guest. We send
// nothing but ACK/NAK: charges count as posted without being transmitted, and
// the only control requests served are room status and our own status.
#include <ctime>

#include "db.h"
#include "io_gwy/server.h"
#include "link.h"
#include "platform/log.h"
#include "utils/strutils.h"
#include "vendor.h"
#include "vendors/common/unserved.h"

static constexpr char kLogSrc[] = "vendors/Agilysys";

namespace {

constexpr int kReadTimeout = 5;  // seconds, for each part of a frame
constexpr char kCode[] = "CI";
constexpr size_t kCiFields = 9;

// The vendor's lasting state. It reads no settings, and its link needs no
// reset at a start: all it keeps is history, which outlives restarts as the
// status reply expects.
struct AgilysysState {
    time_t last_activity = 0;  // last byte written or record read
    std::string last_code;     // code and time of the last record parsed
    time_t last_code_time = 0;
};

AgilysysState& agilysys_state() {
    static AgilysysState state;
    return state;
}

void agilysys_write_byte(AgilysysState& st, char byte) {
    VLOG_DEBUG(4, 0, "entering agilysys_write_byte(%d)", byte);
    st.last_activity = time(nullptr);
    link_write(std::string_view(&byte, 1));
}

int agilysys_read_msg_timeout(AgilysysState& st, std::string& record) {
    record.clear();
    VLOG_DEBUG(4, 0, "Enter agilysys_read_msg_timeout...");
    std::string head;
    int n = link_read_nbytes_timeout(head, 1, kReadTimeout);
    if (n < 0) {
        VLOG_ERRNO(0, "agilysys_read_msg_timeout: read error");
        return -1;
    }
    if (n == 0 || head.empty()) return 0;
    if (head[0] != VENDOR_STX) {
        VLOG_ERROR(0, "Unexpected byte found during read - '%c', int('%d')", head[0], head[0]);
        return -1;
    }

    std::string text;
    n = link_read_delim_timeout(VENDOR_ETX, kReadTimeout, text);
    if (n < 0) {
        VLOG_DEBUG(3, 0, "Error reading the rest of transmisson");
        VLOG_ERRNO(0, "agilysys_read_msg_timeout");
        return -1;
    }
    if (n == 0 || text.empty()) {
        VLOG_DEBUG(4, 0, "Time out reading the rest of transmisson");
        return 0;
    }
    std::string lrc_byte;
    n = link_read_nbytes_timeout(lrc_byte, 1, kReadTimeout);
    if (n < 0) return -1;
    if (n == 0 || lrc_byte.empty()) {
        VLOG_DEBUG(4, 0, "Time out reading the rest of transmisson no checksum");
        return 0;
    }

    st.last_activity = time(nullptr);
    text.pop_back();  // the ETX
    const int lrc = vendor_calc_lrc(text);
    const int got = static_cast<unsigned char>(lrc_byte[0]);
    // Some PMS interfaces end the frame with LF or CR instead of an LRC.
    const bool verified = got == lrc || got == '\n' || got == '\r';
    VLOG_DEBUG(2, 0, "LRC = %d [%c] : %s", lrc, lrc_byte[0], verified ? "VERIFIED" : "INVALID");
    if (!verified) {
        VLOG_WARN(0, "PMS message failed checksum.. got %c, expected %c", lrc_byte[0], static_cast<char>(lrc));
        VLOG_DEBUG(4, 0, "Sending NACK");
        agilysys_write_byte(st, VENDOR_NAK);
        return -1;
    }
    VLOG_DEBUG(4, 0, "Sending ACK");
    agilysys_write_byte(st, VENDOR_ACK);
    st.last_activity = time(nullptr);
    record = std::move(text);
    return static_cast<int>(record.size());
}

std::optional<std::string> agilysys_vendor_parse_cmd(AgilysysState& st, const std::string& record) {
    VLOG_DEBUG(4, 0, "entering agilysys_vendor_parse_cmd()");
    if (record.size() > 7) {
        // The PMS sends nothing but check-ins.
        st.last_code = kCode;
        st.last_code_time = time(nullptr);
        VLOG_DEBUG(4, 0, "agilysys_last_communication received: %s and %d", st.last_code.c_str(),
                   static_cast<int>(st.last_code_time));
        VLOG_DEBUG(3, 0, "agilysys_vendor_parse_cmd returning %s for %s", kCode, record.c_str());
        return std::string(kCode);
    }
    VLOG_DEBUG(3, 0, "agilysys_vendor_parse_cmd returning error %s", record.c_str());
    return std::nullopt;
}

// CI: guest no, -, arrival date, departure date, -, room, -, last name, first name.
int agilysys_vendor_cmd_checkin(const std::string& record) {
    if (record.size() <= 9) return 0;
    VLOG_DEBUG(2, 0, "Received CI '%s'", record.c_str());
    const std::string now_text = db_local_time_text(time(nullptr));

    std::vector<std::string> f = strSplit(record, ",");
    if (f.empty()) {
        VLOG_ERROR(0,
                   "Unable to parse the incoming Checkin message into the individual tokens! Message = '%s', "
                   "delimiter = '%c'",
                   record.c_str(), ',');
        return 0;
    }
    if (f.size() != kCiFields) {
        VLOG_ERROR(0, "Incoming message has the wrong number of fields! [%s]", record.c_str());
        return 0;
    }
    const std::string& room = f[5];
    // Without a room the check-in would check out and add nothing that exists.
    if (room.empty()) {
        VLOG_ERROR(0, "Incoming check-in names no room! [%s]", record.c_str());
        return 0;
    }
    PmsGuest g;
    g.room = room;
    g.guest_no = f[0];
    g.first = f[8];
    g.last = f[7];
    g.arrival = f[2] + " 00:00:00";
    g.departure = f[3] + " 23:59:59";
    g.created = now_text;
    g.no_post = "0";
    g.resort_fee = "0";
    g.user_count = -1;

    VLOG_DEBUG(2, 0, "Recieved CI for room '%s'", room.c_str());
    // Only guests whose departure has passed leave the room.
    db_pms_guests_mark_room_stale(room, 1);
    return db_pms_guests_add(g);
}

int agilysys_vendor_init() {
    VLOG_DEBUG(4, 0, "entering agilysys_vendor_init()");
    svr_setReady();
    return 1;
}

ReqResult agilysys_handle_post_charge(const PMSPostInfo& post, std::string&) {
    VLOG_DEBUG(4, 0, "entering agilysys_handle_post_charge charge = %f", static_cast<double>(post.charge));
    return ReqResult::Ok;
}

ReqResult agilysys_handle_check_room_status(const std::string& room, int32_t& status, std::string& reply) {
    status = db_room_is_occupied(room);
    VLOG_DEBUG(2, 0, "Room status request (pms_guests): room '%s' returned '%s'", room.c_str(),
               status > 0 ? "CHECKED-IN" : status == 0 ? "CHECKED-OUT" : "ERROR");
    if (status >= 0) return ReqResult::Ok;
    strAppendFmt(reply, "Error querying status from DB");
    return ReqResult::Failed;
}

void agilysys_handle_check_status(const AgilysysState& st, std::optional<std::string>& status) {
    VLOG_DEBUG(4, 0, "agilysys_handle_check_status: time is %d, array is %s", static_cast<int>(time(nullptr)),
               st.last_code.c_str());
    std::string text;
    if (strAppendFmt(text, "%s^%ld", st.last_code.c_str(), static_cast<long>(st.last_code_time)) == 0) {
        status.reset();
        return;
    }
    status = std::move(text);
}

}  // namespace

VendorDescriptor agilysys_vendor_descriptor() {
    AgilysysState& st = agilysys_state();
    VendorDescriptor d;
    d.commands = {{kCode, agilysys_vendor_cmd_checkin}};

    VendorRequests& r = d.requests;
    r.check_room_status = agilysys_handle_check_room_status;
    r.post_charge = agilysys_handle_post_charge;
    vendor_fill_unserved(r,
                         {
                             {ReqSlot::CheckOutRoom, "agilysys_handle_check_out_room"},
                             {ReqSlot::CheckInRoom, "agilysys_handle_check_in_room"},
                             {ReqSlot::RetrieveGuestFolio, "agilysys_handle_retrieve_guest_folio"},
                             {ReqSlot::RetrieveGuestInfo, "agilysys_handle_retrieve_guest_info"},
                             {ReqSlot::Authorize, "agilysys_handle_authorize"},
                             {ReqSlot::RoomEquipmentStatus, "agilysys_handle_room_equipment_status"},
                             {ReqSlot::DbSwap, "agilysys_handle_db_swap"},
                             {ReqSlot::RetrieveGuestMessage, "agilysys_handle_retrieve_guest_message"},
                             {ReqSlot::DeleteGuestMessage, "agilysys_handle_delete_message"},
                         },
                         4);
    r.check_status = [&st](std::optional<std::string>& status) { agilysys_handle_check_status(st, status); };
    // Left empty: a status slot cannot answer 3 itself, the dispatcher does
    // for an empty one.
    r.check_db_swap_status = nullptr;

    d.read_msg = [&st](std::string& record) { return agilysys_read_msg_timeout(st, record); };
    d.post_charge = agilysys_handle_post_charge;
    d.parse_cmd = [&st](const std::string& record) { return agilysys_vendor_parse_cmd(st, record); };
    d.init = agilysys_vendor_init;
    d.close = [] { return 1; };
    d.keep_alive = [] { return 0; };
    return d;
}
