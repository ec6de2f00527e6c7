// NiteVision over SFTP, one way: the PMS publishes the in-house guests as a
// file on an SFTP server. At every scan (and on a db swap request) the newest
// file is read and the guest table made to match it: guests no longer in it
// are checked out, new ones checked in. Nothing is ever sent to the PMS, and
// the main loop never reads this link.
#include <ctime>
#include <utility>

#include "db.h"
#include "io_gwy/server.h"
#include "link.h"
#include "platform/log.h"
#include "state.h"
#include "utils/strutils.h"
#include "vendor.h"
#include "vendors/nitevision/nv_guest_file.h"

static constexpr char kLogSrc[] = "vendors/NiteVisionSFTP";

namespace {

// Kept across link restarts: the status requests report the last event even
// after the link was reopened.
struct NvHistory {
    std::string last_event;  // "CHKI" or "CHKO"
    time_t last_event_time = 0;
    time_t last_update = 0;
};

NvHistory& history() {
    static NvHistory h;
    return h;
}

void note_event(const char* code) {
    history().last_event = code;
    history().last_event_time = time(nullptr);
}

// The newest guest file, parsed; nullopt when there is none or it cannot be read.
std::optional<NvGuestFile> nv_download_guest_data_file() {
    VLOG_DEBUG(4, 0, "nv_download_guest_data_file: enter");
    std::string name;
    int size = link_determine_newest_file(name);
    if (size <= 0 || name.empty()) return std::nullopt;
    VLOG_DEBUG(4, 0, "nv_download_guest_data_file: latest file [%s]", name.c_str());
    std::string text;
    int got = link_read_file(name, size, text);
    VLOG_DEBUG(4, 0, "nv_download_guest_data_file: file bytes [%d]", got);
    if (got < 1) return std::nullopt;

    NvGuestFile file = nv_parse_guest_file(text);
    VLOG_DEBUG(4, 0, "nv_download_guest_data_file: file has [%d] rows", file.rows);
    for (const std::string& row : file.bad_rows)
        VLOG_DEBUG(4, 0, "nv_download_guest_data_file: bad row, skipping [%s]", row.c_str());
    for (const NvGuestEntry& g : file.guests)
        VLOG_DEBUG(4, 0,
                   "nv_download_guest_data_file: fname [%s], lname [%s], phone [%s], room [%s], arrival [%s], "
                   "departure [%s], checkin [%s]",
                   g.first.c_str(), g.last.c_str(), g.phone.c_str(), g.room.c_str(), g.arrival.c_str(),
                   g.departure.c_str(), g.checkin.c_str());
    VLOG_DEBUG(4, 0, "nv_download_guest_data_file: exit row[%d]", static_cast<int>(file.guests.size()));
    return file;
}

bool in_file(const std::vector<NvGuestEntry>& guests, const GuestName& current) {
    for (const NvGuestEntry& g : guests)
        if (g.room == current.room && g.last == current.last && g.first == current.first) return true;
    return false;
}

void check_out_departed(const std::vector<NvGuestEntry>& guests) {
    std::string sql;
    auto current = db_current_guest_names(&sql);
    VLOG_DEBUG(4, 0, "nv_update_guest_data: get current room data [%s]", sql.c_str());
    if (!current) {
        VLOG_ERROR(0, "nv_update_guest_data: db_select failed");
        return;
    }
    VLOG_DEBUG(4, 0, "nv_update_guest_data: current num of room recs [%d]", static_cast<int>(current->size()));
    for (const GuestName& c : *current) {
        if (in_file(guests, c)) continue;
        // Only this guest leaves: a room mate still in the file keeps the
        // room, its row and the room's sessions.
        if (!db_pms_guests_mark_named_stale(c.room, c.first, c.last)) continue;
        if (db_find_guest_in_room(c.room, "") == 0) db_expire_on_checkout(c.room, "", 0);
        note_event("CHKO");
    }
    VLOG_DEBUG(4, 0, "nv_update_guest_data: finished checking existing records");
}

// 1 when every new guest could be checked in.
int check_in_arrived(const std::vector<NvGuestEntry>& guests) {
    int result = 1;
    VLOG_DEBUG(4, 0, "nv_update_guest_data: number of new recs [%d]", static_cast<int>(guests.size()));
    for (const NvGuestEntry& g : guests) {
        if (db_is_guest_in_room(g.room, g.first, g.last) > 0) {
            VLOG_DEBUG(4, 0, "nv_update_guest_data: found guest in db, skipping room [%s], first [%s], last [%s]",
                       g.room.c_str(), g.first.c_str(), g.last.c_str());
            if (history().last_event.empty()) note_event("CHKI");
            continue;
        }
        VLOG_DEBUG(4, 0, "nv_update_guest_data: update guest data in room [%s]", g.room.c_str());
        PmsGuest row;
        row.room = g.room;
        row.first = g.first;
        row.last = g.last;
        row.arrival = g.arrival;
        row.departure = g.departure;
        row.created = g.checkin;
        row.resort_fee = "0";
        row.user_count = -1;
        if (db_pms_guests_add(row)) {
            note_event("CHKI");
        } else {
            VLOG_DEBUG(4, 0, "nv_update_guest_data: db_pms_guests_add failed for room[%s], fname[%s], lname[%s]",
                       g.room.c_str(), g.first.c_str(), g.last.c_str());
            result = 0;
        }
        VLOG_DEBUG(4, 0, "nv_update_guest_data: done update guest data in room [%s]", g.room.c_str());
    }
    return result;
}

// 1 when the newest file was applied without a failed check-in, else 0.
int nv_update_guest_data() {
    VLOG_DEBUG(4, 0, "nv_update_guest_data: enter");
    std::optional<NvGuestFile> file = nv_download_guest_data_file();
    // A file without a single guest (only a heading, say) is taken for a
    // broken export rather than an empty hotel: nothing changes.
    if (!file || file->guests.empty()) {
        VLOG_DEBUG(4, 0, "nv_update_guest_data: no guest data");
        return 0;
    }
    check_out_departed(file->guests);
    int result = check_in_arrived(file->guests);
    history().last_update = time(nullptr);
    return result;
}

ReqResult nv_handle_check_room_status(const std::string& room, int32_t& status, std::string& reply) {
    VLOG_DEBUG(4, 0, "nv_handle_check_room_status: room [%s]", room.c_str());
    status = db_room_is_occupied(room);
    VLOG_DEBUG(2, 0, "nv_handle_check_room_status: Room status request (pms_guests): room [%s] returned [%s]",
               room.c_str(), status > 0 ? "CHECKED-IN" : status == 0 ? "CHECKED-OUT" : "ERROR");
    if (status >= 0) return ReqResult::Ok;
    strAppendFmt(reply, "Error querying status from DB");
    return ReqResult::Failed;
}

void nv_handle_check_status(std::optional<std::string>& status) {
    VLOG_DEBUG(4, 0, "entering nv_handle_check_status()");
    std::string text;
    if (strAppendFmt(text, "%s^%ld", history().last_event.c_str(), static_cast<long>(history().last_event_time)) == 0)
        status.reset();
    else
        status = std::move(text);
}

void nv_handle_check_db_swap_status(std::optional<std::string>& status) {
    VLOG_DEBUG(4, 0, "nv_handle_check_db_swap_status: time is %d, swap flag is %d",
               static_cast<int>(history().last_update), 0);
    status = strFormat("%d|%ld", 0, static_cast<long>(history().last_update));
}

int nv_vendor_init() {
    VLOG_DEBUG(4, 0, "nv_vendor_init: enter");
    nv_update_guest_data();
    // A failed read has closed the link (and set BUSY); it reopens before the next scan.
    if (pms_fd_client >= 0) svr_setReady();
    return 1;
}

int nv_link_keep_alive() {
    VLOG_DEBUG(4, 0, "nv_link_keep_alive: enter");
    nv_update_guest_data();
    return 0;
}

ReqResult nv_handle_post_charge(const PMSPostInfo&, std::string&) {
    VLOG_DEBUG(4, 0, "nv_handle_post_charge: enter");
    return ReqResult::NotImplemented;
}

// A request this PMS does not serve: its entry line, then 3.
ReqResult unserved(const char* what, const std::string& room) {
    VLOG_DEBUG(4, 0, "%s: room [%s]", what, room.c_str());
    return ReqResult::NotImplemented;
}

}  // namespace

VendorDescriptor nv_vendor_descriptor() {
    VendorDescriptor d;
    d.name = "NiteVisionSFTP 1-way";
    VendorRequests& r = d.requests;
    r.check_room_status = nv_handle_check_room_status;
    r.link_free |= vendor_request_bit(1);  // from the occupancy table
    r.check_out_room = [](const std::string& room, const std::string&, std::string&) {
        return unserved("nv_handle_check_out_room", room);
    };
    r.check_in_room = [](const std::string& room, const std::string&, const std::string&, std::string&) {
        return unserved("nv_handle_check_in_room", room);
    };
    r.retrieve_guest_folio = [](const std::string& room, const std::string&, int32_t, int32_t, int32_t&,
                                std::vector<std::string>&,
                                std::string&) { return unserved("nv_handle_retrieve_folio_details", room); };
    r.retrieve_guest_info = [](const std::string& room, int32_t&, std::vector<std::string>&, std::string&) {
        return unserved("nv_handle_retrieve_guest_info", room);
    };
    r.post_charge = nv_handle_post_charge;
    r.authorize = [](const std::string& room, const std::string&, std::string&) {
        VLOG_DEBUG(4, 0, "nv_handle_authorize: room [%s]", room.c_str());
        return ReqResult::Failed;
    };
    r.room_equipment_status = [](const std::string& room, const std::string&, std::string&) {
        return unserved("nv_handle_room_equipment_status", room);
    };
    r.db_swap = [] {
        VLOG_DEBUG(4, 0, "nv_handle_db_swap: enter");
        nv_update_guest_data();
        return ReqResult::Ok;
    };
    r.retrieve_guest_message = [](const std::string& room, const std::string&, int32_t&, std::vector<std::string>&,
                                  std::string&) { return unserved("nv_handle_retrieve_guest_message", room); };
    r.delete_guest_message = [](const std::string& room, const std::string&, std::string&) {
        return unserved("nv_handle_delete_guest_message", room);
    };
    r.check_status = nv_handle_check_status;
    r.check_db_swap_status = nv_handle_check_db_swap_status;

    d.read_msg = [](std::string&) {
        VLOG_DEBUG(4, 0, "nv_read_msg: return -1, we don't belong here");
        return -1;
    };
    d.post_charge = nv_handle_post_charge;
    d.parse_cmd = [](const std::string&) { return std::optional<std::string>(std::string()); };
    d.init = nv_vendor_init;
    d.close = [] {
        VLOG_DEBUG(4, 0, "nv_vendor_close: enter");
        return 0;
    };
    d.keep_alive = nv_link_keep_alive;
    return d;
}
