// Records of the line protocol other than the guest look-ups: the start, the
// PMS's line tests and check-outs, the ERR table, and the status requests.
#include <array>

#include "config.h"
#include "db.h"
#include "db_settings.h"
#include "platform/log.h"
#include "utils/strutils.h"
#include "vendors/line/line_core.h"
#include "vendors/line/line_settings.h"
#include "vendors/common/room_status.h"

static constexpr char kLogSrc[] = "vendors/line/line_records";

namespace {

constexpr std::array<const char*, 14> kErrTexts = {
    "Invalid message type:  The message type in the command was not one of those defined by the protocol.",
    "Invalid message sequence:  An invalid response message was received for the command transmitted. Abort the "
    "current command/response sequence and start over.",
    "Invalid room number:  The room specified in the command does not exist within the PMS.",
    "Vacant room:  The room specified in the command is not occupied.",
    "Invalid reservation:  The reservation specified in the request either does not exist or does not refer to a "
    "current hotel guest.",
    "Invalid method of payment:  The reservation specified does not have a method of payment that is authorized for "
    "in room check out.",
    "Invalid folio balance:  The folio balance of the specified for in room check out does not match the balance "
    "within the PMS.  Most likely the balance has changed due to another function within the PMS.",
    "Fatal error in room check out:  The PMS encountered a fatal error attempting to check out the specified guest.  "
    "This may be the result of a PMS data base error.  The check out process can not continue.",
    "Recoverable error on in room check out:  The PMS encountered a recoverable error attempting to check out the "
    "specified guest.  A process may have been inhibited from performing its function at this time.  ICS may retry "
    "the command at another time.",
    "Reservation is locked:  The PMS can not complete the requested function because the reservation can not be "
    "accessed at this time.  Most likely a PMS operator is currently modifying the reservation information for the "
    "specified guest.  ICS may retry the command at another time.",
    "Can not deliver message:  The guest message can not be marked as delivered because the message has changed.",
    "Message not found:  The guest message requested by ICS was not found in the PMS data base.",
    "Night Audit in progress:  The command issued by ICS can not be completed by PMS at this time.  The PMS end of "
    "day accounting function is in progress.  The ICS may attempt the command at another time.",
    "Invalid housekeeping code:  The housekeeping status code issued in the command from the ICS is invalid. The ICS "
    "may desire to notify the housekeeper of the invalid input.",
};

constexpr size_t kErrMinLength = 22;  // the code field is read only from records longer than 21

bool printable(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) return false;
    return true;
}

}  // namespace

int line_parse_error(const std::string& record, std::string& reply) {
    if (record.size() < kErrMinLength) {
        VLOG_ERROR(0, "Cannot parse error message; message to short");
        return 0;
    }
    // Positions 4-9: a decimal number, blanks allowed around it.
    std::string field = record.substr(4, 6);
    strStripSpaces(field);
    bool negative = false;
    size_t i = 0;
    if (!field.empty() && (field[0] == '-' || field[0] == '+')) negative = field[i++] == '-';
    long code = 0;
    for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i) code = code * 10 + (field[i] - '0');
    if (negative && code != 0) {
        VLOG_ERROR(0, "Cannot parse error message code");
        return 0;
    }
    if (code < 1 || code > static_cast<long>(kErrTexts.size())) return 0;
    strAppendFmt(reply, "%s", kErrTexts[code - 1]);
    return static_cast<int>(code);
}

std::optional<std::string> line_parse_cmd(LineVendor& v, const std::string& record) {
    VLOG_DEBUG(4, 0, "entering %s_vendor_parse_cmd()", v.p.prefix);
    if (record.size() > 3) {
        std::string code = record.substr(0, 4);
        v.hist.last_code = code;
        v.hist.last_code_time = time(nullptr);
        VLOG_DEBUG(3, 0, "%s_vendor_parse_cmd returning %s for %s", v.p.prefix, code.c_str(), record.c_str());
        return code;
    }
    VLOG_DEBUG(3, 0, "%s_vendor_parse_cmd returning error %s", v.p.prefix, record.c_str());
    return std::nullopt;
}

int line_start(LineVendor& v) {
    VLOG_DEBUG(4, 0, "Enter %s_vendor_init...", v.p.prefix);
    // A new link starts from nothing; the history outlives it.
    v.link = LineLink{};
    v.link.in_start = true;
    line_change_state(v, LineState::StartPending);
    v.set.psi_no = static_cast<int>(setting_number(kSetPsiNo));
    v.set.look_wait = static_cast<int>(setting_number(kSetLookWait));
    v.set.name_wait = static_cast<int>(setting_number(kSetNameWait));
    int rc = 1;
    if (!line_bid(v)) {
        VLOG_DEBUG(4, 0, "%s_vendor_init: line bid failed, will try later", v.p.prefix);
    } else if (!line_write_msg(v, "STRT")) {
        rc = 0;
    } else {
        v.link.started = true;
        if (!line_eot(v)) {
            v.link.started = false;
            rc = 0;
        }
    }
    v.link.in_start = false;
    return rc;
}

int line_cmd_echo(LineVendor& v, const std::string& record) {
    const std::string code = record.substr(0, 4);
    if (!line_bid(v)) return 0;
    if (!line_write_msg(v, code)) return 0;
    return line_eot(v) ? 1 : 0;
}

std::optional<std::string> line_record_room(const std::string& record) {
    if (record.size() <= 9) return std::nullopt;
    std::string room;
    for (char c : std::string_view(record).substr(4, 6))
        if (c != ' ') room.push_back(c);
    if (room.empty() || !printable(room)) return std::nullopt;
    return room;
}

bool line_room_fits(std::string_view room) {
    return !room.empty() && room.size() <= kLineRoomWidth && printable(room);
}

int line_cmd_checkout(LineVendor& v, const std::string& record) {
    (void)v;
    const std::optional<std::string> room = line_record_room(record);
    if (!room) return 0;
    VLOG_DEBUG(2, 0, "Recieved CHKO for room '%s'", room->c_str());
    const int rc = db_pms_guests_mark_room_stale(*room, 0);
    db_expire_on_checkout(*room, "", 0);
    return rc;
}

ReqResult line_check_room_status(const std::string& room, int32_t& status, std::string& reply) {
    return vendor_db_room_status(room, status, reply);
}

void line_check_status(const LineVendor& v, std::optional<std::string>& status) {
    std::string text;
    if (strAppendFmt(text, "%s^%ld", v.hist.last_code.c_str(), static_cast<long>(v.hist.last_code_time)) == 0) {
        status.reset();
        return;
    }
    status = std::move(text);
}
