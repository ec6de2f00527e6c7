// The descriptor of a line-protocol vendor: its records, request slots and
// operations, all bound to the vendor's own lasting state.
#include "db.h"
#include "platform/log.h"
#include "vendors/common/unserved.h"
#include "vendors/line/line_core.h"

static constexpr char kLogSrc[] = "vendors/line/line_vendor";

namespace {

constexpr int kRecordWait = 3;  // seconds for a record read by the main loop

std::string entry_of(const LineProfile& p, const char* slot) { return std::string(p.prefix) + "_handle_" + slot; }

}  // namespace

VendorDescriptor line_vendor_descriptor(LineVendor& v) {
    VendorDescriptor d;
    d.name = v.p.name;
    d.commands = {
        {"INIT",
         [&v](const std::string&) {
             (void)v;
             VLOG_DEBUG(4, 0, "received INIT but we are ignoring it");
             return 1;
         }},
        {"TEST", [&v](const std::string& rec) { return line_cmd_echo(v, rec); }},
        {"ECHO", [&v](const std::string& rec) { return line_cmd_echo(v, rec); }},
        {"CHKI", [&v](const std::string& rec) { return line_cmd_checkin(v, rec); }},
        {"CHKO", [&v](const std::string& rec) { return line_cmd_checkout(v, rec); }},
    };

    VendorRequests& r = d.requests;
    r.check_room_status = line_check_room_status;
    r.link_free |= vendor_request_bit(1);  // from the occupancy table
    // A refusal the PMS will never take back counts as posted for the caller.
    r.post_charge = [&v](const PMSPostInfo& post, std::string& reply) {
        return line_post_charge(v, post, reply) == PostOutcome::Failed ? ReqResult::Failed : ReqResult::Ok;
    };
    r.authorize = [&v](const std::string& room, const std::string& data, std::string& reply) {
        return line_authorize(v, room, data, reply);
    };
    r.db_swap = [] { return ReqResult::Ok; };
    r.check_status = [&v](std::optional<std::string>& status) { line_check_status(v, status); };
    std::vector<UnservedSlot> unserved;
    for (ReqSlot s : {ReqSlot::CheckOutRoom, ReqSlot::CheckInRoom, ReqSlot::RetrieveGuestFolio,
                      ReqSlot::RetrieveGuestInfo, ReqSlot::RoomEquipmentStatus, ReqSlot::RetrieveGuestMessage,
                      ReqSlot::DeleteGuestMessage}) {
        if (s == ReqSlot::RoomEquipmentStatus && v.p.serves_equipment_status) continue;
        unserved.push_back({s, entry_of(v.p, req_slot_name(s))});
    }
    vendor_fill_unserved(r, unserved, 4);
    if (v.p.serves_equipment_status)
        r.room_equipment_status = [](const std::string&, const std::string&, std::string&) { return ReqResult::Ok; };
    r.check_db_swap_status = nullptr;

    d.read_msg = [&v](std::string& rec) { return line_read_msg_timeout(v, rec, kRecordWait); };
    // From the scan: a charge the PMS refused for good is marked posted by
    // the vendor itself, and reported as not posted, so that no billing line
    // claims the PMS took it.
    d.post_charge = [&v](const PMSPostInfo& post, std::string& reply) {
        switch (line_post_charge(v, post, reply)) {
            case PostOutcome::Posted: return ReqResult::Ok;
            case PostOutcome::Settled:
                if (!db_mark_posted(post, 1))
                    VLOG_ERROR(0, "Charge %ld refused by the PMS could not be marked posted",
                               static_cast<long>(post.db_seqno));
                return ReqResult::Failed;
            case PostOutcome::Failed: break;
        }
        return ReqResult::Failed;
    };
    d.parse_cmd = [&v](const std::string& rec) { return line_parse_cmd(v, rec); };
    d.init = [&v] { return line_start(v); };
    d.close = [] { return 1; };
    d.keep_alive = [&v] { return line_harvest(v); };
    return d;
}
