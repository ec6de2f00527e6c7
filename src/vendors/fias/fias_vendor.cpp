#include "vendors/fias/fias_vendor.h"

#include <map>

#include "platform/fmt_text.h"
#include "platform/log.h"
#include "vendors/common/unserved.h"

#include "db.h"
#include "vendors/fias/fias_frame.h"
#include "vendors/fias/fias_guest.h"
#include "vendors/fias/fias_link.h"
#include "vendors/fias/fias_post.h"
#include "vendors/fias/fias_requests.h"

static constexpr char kLogSrc[] = "vendor";

namespace {

using CoreHandler = int (*)(FiasVendor&, const std::string&);

const std::map<std::string, CoreHandler>& core_handlers() {
    static const std::map<std::string, CoreHandler> handlers = {
        {"LS", fias_cmd_start},
        {"LE", fias_cmd_end},
        {"LA", fias_cmd_linkalive},
        {"DR", fias_cmd_db_resync},
        {"DS", fias_cmd_db_resync_start},
        {"DE", fias_cmd_db_resync_done},
        {"NS", fias_cmd_night_audit_start},
        {"NE", fias_cmd_night_audit_end},
        {"GI", fias_cmd_guest_checkin},
        {"GO", fias_cmd_guest_checkout},
        {"GC", fias_cmd_guest_data_change},
        {"RE", fias_cmd_room_equipment_status},
        {"XL", fias_cmd_guest_message},
        {"XO", fias_cmd_guest_folio_update},
    };
    return handlers;
}

}  // namespace

VendorDescriptor fias_descriptor(FiasVendor& v) {
    VendorDescriptor d;
    d.name = v.p.name;
    for (const FiasAccepted& rec : v.p.records) {
        CoreHandler fn = rec.hook;
        if (!fn) {
            auto it = core_handlers().find(rec.code);
            if (it != core_handlers().end()) fn = it->second;
        }
        VendorCmdHandler h;
        if (fn) h = [&v, fn](const std::string& body) { return fn(v, body); };
        d.commands.push_back({rec.code, std::move(h)});
    }
    // A posting's answer that comes after its wait ran out.
    d.commands.push_back({"PA", [&v](const std::string& body) {
                              auto rec = fias_parse(body);
                              if (rec && fias_take_late_answer(v, *rec)) return 1;
                              VLOG_INFO("Unhandled message type 'PA'");
                              return 0;
                          }});

    VendorRequests& r = d.requests;
    // Room status and guest information come from the occupancy table.
    r.link_free |= vendor_request_bit(1) | vendor_request_bit(5);
    r.check_room_status = [&v](const std::string& room, int32_t& status, std::string& reply) {
        return fias_handle_check_room_status(v, room, status, reply);
    };
    r.check_out_room = [&v](const std::string& room, const std::string& f2, std::string& reply) {
        return fias_handle_check_out_room(v, room, f2, reply);
    };
    r.retrieve_guest_folio = [&v](const std::string& room, const std::string& guest, int32_t start, int32_t end,
                                  int32_t& count, std::vector<std::string>& lines, std::string& reply) {
        return fias_handle_retrieve_guest_folio(v, room, guest, start, end, count, lines, reply);
    };
    r.retrieve_guest_info = [&v](const std::string& room, int32_t& count, std::vector<std::string>& lines,
                                 std::string& reply) {
        return fias_handle_retrieve_guest_info(v, room, count, lines, reply);
    };
    r.post_charge = [&v](const PMSPostInfo& post, std::string& reply) {
        return fias_handle_post_charge(v, post, reply);
    };
    r.authorize = [&v](const std::string& room, const std::string& data, std::string& reply) {
        return fias_handle_authorize(v, room, data, reply);
    };
    r.room_equipment_status = [&v](const std::string& room, const std::string& status, std::string& reply) {
        return fias_handle_room_equipment_status(v, room, status, reply);
    };
    r.db_swap = [&v]() { return fias_handle_db_swap(v); };
    r.retrieve_guest_message = [&v](const std::string& room, const std::string& guest, int32_t& count,
                                    std::vector<std::string>& lines, std::string& reply) {
        return fias_get_guest_messages(v, room, guest, count, lines, reply);
    };
    r.delete_guest_message = [&v](const std::string& room, const std::string& data, std::string& reply) {
        return fias_handle_delete_guest_message(v, room, data, reply);
    };
    r.check_status = [&v](std::optional<std::string>& status) { fias_handle_check_status(v, status); };
    r.check_db_swap_status = [&v](std::optional<std::string>& status) {
        fias_handle_check_db_swap_status(v, status);
    };
    std::vector<UnservedSlot> unserved;
    for (int slot = 0; slot < kReqSlotCount; ++slot) {
        const auto s = static_cast<ReqSlot>(slot);
        if (v.p.served & req_slot(s)) continue;
        unserved.push_back({s, fmt_string(v.p.unserved_entry, v.p.prefix, req_slot_name(s))});
    }
    vendor_fill_unserved(r, unserved, 3);

    d.read_msg = [&v](std::string& rec) { return fias_read_response(v, rec); };
    d.post_charge = r.post_charge;
    d.parse_cmd = [&v](const std::string& rec) { return fias_parse_cmd(v, rec); };
    d.init = [&v]() { return fias_vendor_init(v); };
    d.close = [&v]() { return fias_vendor_close(v); };
    d.keep_alive = [&v]() { return fias_keep_alive(v); };
    return d;
}
