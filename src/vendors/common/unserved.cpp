#include "vendors/common/unserved.h"

#include <array>

#include "platform/log.h"

static constexpr char kLogSrc[] = "vendors/common/unserved";

namespace {

constexpr std::array<const char*, kReqSlotCount> kSlotNames = {
    "check_room_status",
    "check_out_room",
    "check_in_room",
    "retrieve_guest_folio",
    "retrieve_guest_info",
    "post_charge",
    "authorize",
    "room_equipment_status",
    "db_swap",
    "retrieve_guest_message",
    "delete_guest_message",
};

}  // namespace

const char* req_slot_name(ReqSlot slot) { return kSlotNames[static_cast<size_t>(slot)]; }

void vendor_fill_unserved(VendorRequests& r, const std::vector<UnservedSlot>& slots, int level) {
    for (const UnservedSlot& u : slots) {
        // Each handler owns its text: the table it came from may be a temporary.
        auto answer = [entry = u.entry, text = u.reply, level](std::string* reply = nullptr) {
            VLOG_DEBUG(level, 0, "%s", entry.c_str());
            if (reply && !text.empty()) *reply = text;
            return ReqResult::NotImplemented;
        };
        switch (u.slot) {
            case ReqSlot::CheckRoomStatus:
                r.check_room_status = [answer](const std::string&, int32_t&, std::string& reply) {
                    return answer(&reply);
                };
                break;
            case ReqSlot::CheckOutRoom:
                r.check_out_room = [answer](const std::string&, const std::string&, std::string& reply) {
                    return answer(&reply);
                };
                break;
            case ReqSlot::CheckInRoom:
                r.check_in_room = [answer](const std::string&, const std::string&,
                                           const std::string&, std::string& reply) { return answer(&reply); };
                break;
            case ReqSlot::RetrieveGuestFolio:
                r.retrieve_guest_folio = [answer](const std::string&, const std::string&, int32_t,
                                                  int32_t, int32_t&, std::vector<std::string>&,
                                                  std::string& reply) { return answer(&reply); };
                break;
            case ReqSlot::RetrieveGuestInfo:
                r.retrieve_guest_info = [answer](const std::string&, int32_t&,
                                                 std::vector<std::string>&,
                                                 std::string& reply) { return answer(&reply); };
                break;
            case ReqSlot::PostCharge:
                r.post_charge = [answer](const PMSPostInfo&, std::string& reply) { return answer(&reply); };
                break;
            case ReqSlot::Authorize:
                r.authorize = [answer](const std::string&, const std::string&, std::string& reply) {
                    return answer(&reply);
                };
                break;
            case ReqSlot::RoomEquipmentStatus:
                r.room_equipment_status = [answer](const std::string&, const std::string&,
                                                   std::string& reply) { return answer(&reply); };
                break;
            case ReqSlot::DbSwap:
                r.db_swap = [answer] { return answer(); };
                break;
            case ReqSlot::RetrieveGuestMessage:
                r.retrieve_guest_message = [answer](const std::string&, const std::string&,
                                                    int32_t&, std::vector<std::string>&,
                                                    std::string& reply) { return answer(&reply); };
                break;
            case ReqSlot::DeleteGuestMessage:
                r.delete_guest_message = [answer](const std::string&, const std::string&,
                                                  std::string& reply) { return answer(&reply); };
                break;
        }
    }
}
