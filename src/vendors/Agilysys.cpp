// Agilysys: the PMS sends check-in records (CI) framed as STX, text, ETX and
// an LRC of the text; we acknowledge each and record the guest. We send
// nothing but ACK/NAK: charges count as posted without being transmitted, and
// the only control requests served are room status and our own status.
#include <ctime>
#include <memory>
#include <utility>

#include "db.h"
#include "io_gwy/server.h"
#include "link.h"
#include "platform/log.h"
#include "utils/strutils.h"
#include "vendor.h"
#include "vendors/agilysys/agilysys_record.h"
#include "vendors/common/stx_frame.h"
#include "vendors/common/field_check.h"
#include "vendors/common/unserved.h"
#include "vendors/common/room_status.h"

static constexpr char kLogSrc[] = "vendors/Agilysys";

namespace {

constexpr int kReadTimeout = 5;  // seconds, for each part of a frame
constexpr char kCode[] = "CI";
// The LRC covers the text alone, without the ETX; some interfaces end the
// frame with LF or CR instead.
constexpr FrameRules kFrames{.lrc = true, .lrc_covers_etx = false, .lf_as_lrc = true, .cr_as_lrc = true};

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
    StxReader reader(kFrames);
    const StxReader::Result r = reader.next(kReadTimeout);
    switch (r) {
        case StxReader::Result::Failed:
            if (reader.stage() == StxReader::Stage::Head) {
                VLOG_ERRNO(0, "agilysys_read_msg_timeout: read error");
            } else if (reader.stage() == StxReader::Stage::Text) {
                VLOG_DEBUG(3, 0, "Error reading the rest of transmisson");
                VLOG_ERRNO(0, "agilysys_read_msg_timeout");
            }
            return -1;
        case StxReader::Result::Timeout:
            if (reader.stage() == StxReader::Stage::Text)
                VLOG_DEBUG(4, 0, "Time out reading the rest of transmisson");
            else if (reader.stage() == StxReader::Stage::Lrc)
                VLOG_DEBUG(4, 0, "Time out reading the rest of transmisson no checksum");
            return 0;
        case StxReader::Result::Control:
            VLOG_ERROR(0, "Unexpected byte found during read - '%c', int('%d')", reader.control(), reader.control());
            return -1;
        case StxReader::Result::Overflow:
            return -1;
        case StxReader::Result::Frame:
        case StxReader::Result::BadLrc:
            break;
    }

    st.last_activity = time(nullptr);
    const int lrc = reader.expected_lrc();
    const bool verified = r == StxReader::Result::Frame;
    VLOG_DEBUG(2, 0, "LRC = %d [%c] : %s", lrc, reader.lrc_received(), verified ? "VERIFIED" : "INVALID");
    if (!verified) {
        VLOG_WARN(0, "PMS message failed checksum.. got %c, expected %c", reader.lrc_received(), static_cast<char>(lrc));
        VLOG_DEBUG(4, 0, "Sending NACK");
        agilysys_write_byte(st, ctl::NAK);
        return -1;
    }
    VLOG_DEBUG(4, 0, "Sending ACK");
    agilysys_write_byte(st, ctl::ACK);
    st.last_activity = time(nullptr);
    record = reader.body();
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
    const std::optional<PmsGuest> g = agilysys_checkin_guest(record, db_local_time_text(time(nullptr)));
    if (!g) return 0;
    const std::string& room = g->room;
    VLOG_DEBUG(2, 0, "Recieved CI for room '%s'", room.c_str());
    // Only guests whose departure has passed leave the room.
    db_pms_guests_mark_room_stale(room, 1);
    return db_pms_guests_add(*g);
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
    return vendor_db_room_status(room, status, reply);
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
    r.link_free |= vendor_request_bit(1);  // from the occupancy table
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
