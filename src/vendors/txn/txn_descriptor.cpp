// The descriptor of a transaction-id vendor: the shared records, reader and
// status slots, the vendor's own records and hooks, and every request slot
// the vendor does not serve filled from its profile.
#include "platform/log.h"
#include "utils/strutils.h"
#include "vendors/common/room_status.h"
#include "vendors/common/unserved.h"
#include "vendors/txn/txn_core.h"
#include "vendors/txn/txn_requests.h"

static constexpr char kLogSrc[] = "vendors/txn";

namespace {

std::optional<std::string> parse_cmd(TxnVendor& v, const std::string& rec) {
    if (rec.size() > 11) {
        v.s.last_code = rec.substr(8, 4);
        v.s.last_code_time = time(nullptr);
        return v.s.last_code;
    }
    VLOG_ERROR(0, "%s_vendor_parse_cmd unknown message [%s]", v.p.prefix, rec.c_str());
    return std::nullopt;
}

int default_init(TxnVendor& v) {
    txn_load_settings(v);
    return txn_start(v);
}

// Folio, messages, message deletion and room status, as every vendor that
// serves them asks the PMS.
void wire_guest_requests(TxnVendor& v, VendorRequests& r) {
    r.retrieve_guest_folio = [&v](const std::string& room, const std::string& acct, int32_t, int32_t, int32_t& count,
                                  std::vector<std::string>& lines, std::string& reply) {
        return txn_handle_retrieve_folio_details(v, room, acct, count, lines, reply);
    };
    r.retrieve_guest_message = [&v](const std::string& room, const std::string& acct, int32_t& count,
                                    std::vector<std::string>& lines, std::string& reply) {
        return txn_handle_retrieve_guest_message(v, room, acct, count, lines, reply);
    };
    r.delete_guest_message = [&v](const std::string& room, const std::string& data, std::string& reply) {
        return txn_handle_delete_message(v, room, data, reply);
    };
    r.room_equipment_status = [&v](const std::string& room, const std::string& status, std::string& reply) {
        return txn_handle_room_equipment_status(v, room, status, reply);
    };
}

void wire_room_request(TxnVendor& v, const TxnRoomRequest& hook,
                       std::function<ReqResult(const std::string&, const std::string&, std::string&)>& slot) {
    if (hook)
        slot = [&v, hook](const std::string& room, const std::string& data, std::string& reply) {
            return hook(v, room, data, reply);
        };
}

bool empty_slot(const VendorRequests& r, ReqSlot s) {
    switch (s) {
        case ReqSlot::CheckRoomStatus: return !r.check_room_status;
        case ReqSlot::CheckOutRoom: return !r.check_out_room;
        case ReqSlot::CheckInRoom: return !r.check_in_room;
        case ReqSlot::RetrieveGuestFolio: return !r.retrieve_guest_folio;
        case ReqSlot::RetrieveGuestInfo: return !r.retrieve_guest_info;
        case ReqSlot::PostCharge: return !r.post_charge;
        case ReqSlot::Authorize: return !r.authorize;
        case ReqSlot::RoomEquipmentStatus: return !r.room_equipment_status;
        case ReqSlot::DbSwap: return !r.db_swap;
        case ReqSlot::RetrieveGuestMessage: return !r.retrieve_guest_message;
        case ReqSlot::DeleteGuestMessage: return !r.delete_guest_message;
    }
    return false;
}

}  // namespace

VendorDescriptor txn_descriptor(TxnVendor& v, const TxnHooks& hooks) {
    VendorDescriptor d;
    d.name = v.p.name;
    for (const auto& [code, fn] : hooks.records) {
        VendorCmdHandler h;
        if (fn) h = [&v, fn = fn](const std::string& rec) { return fn(v, rec); };
        d.commands.push_back({code, std::move(h)});
    }
    VendorRequests& r = d.requests;
    r.check_room_status = vendor_db_room_status;
    r.link_free |= vendor_request_bit(1);  // from the occupancy table
    r.check_status = [&v](std::optional<std::string>& status) {
        status = strFormat("%s^%ld", v.s.last_code.c_str(), static_cast<long>(v.s.last_code_time));
    };
    r.check_db_swap_status = [&v](std::optional<std::string>& status) {
        status = strFormat("%d|%ld", v.s.swap, static_cast<long>(v.s.swap_time));
    };
    if (v.p.guest_requests) wire_guest_requests(v, r);
    wire_room_request(v, hooks.authorize, r.authorize);
    wire_room_request(v, hooks.check_out_room, r.check_out_room);
    if (hooks.post_charge)
        r.post_charge = [&v, post = hooks.post_charge](const PMSPostInfo& info, std::string& reply) {
            return post(v, info, reply);
        };
    else
        r.post_charge = [](const PMSPostInfo&, std::string&) { return ReqResult::Failed; };
    r.db_swap = [&v, swap = hooks.db_swap] { return swap ? swap(v) : txn_init_request_and_dbst_response(v); };

    std::vector<UnservedSlot> unserved;
    for (int i = 0; i < kReqSlotCount; ++i) {
        const auto slot = static_cast<ReqSlot>(i);
        if (!empty_slot(r, slot)) continue;
        const bool refused = (v.p.not_supported & req_slot(slot)) != 0;
        unserved.push_back({slot, strFormat("%s_handle_%s", v.p.prefix, req_slot_name(slot)),
                            refused ? "Not supported by vendor" : ""});
    }
    vendor_fill_unserved(r, unserved, 4);

    d.post_charge = r.post_charge;
    d.read_msg = [&v](std::string& rec) { return txn_read_msg_timeout(v, v.s.read, rec); };
    d.parse_cmd = [&v](const std::string& rec) { return parse_cmd(v, rec); };
    d.init = [&v, init = hooks.init] { return init ? init(v) : default_init(v); };
    d.close = [] { return 0; };
    d.keep_alive = [&v, keep = hooks.keep_alive] { return keep ? keep(v) : req_code(txn_keep_alive(v)); };
    return d;
}
