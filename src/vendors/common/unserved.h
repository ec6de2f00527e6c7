// Request slots a vendor does not serve. Each such slot logs its entry, as
// the vendor names it, and answers "functionality not implemented" (3).
#pragma once

#include <string>
#include <vector>

#include "vendor.h"

// The request slots 0-10, in the order of VendorRequests. The status slots
// 11 and 12 have no result and cannot answer 3: a vendor leaves them empty.
enum class ReqSlot : int {
    CheckRoomStatus = 0,
    CheckOutRoom = 1,
    CheckInRoom = 2,
    RetrieveGuestFolio = 3,
    RetrieveGuestInfo = 4,
    PostCharge = 5,
    Authorize = 6,
    RoomEquipmentStatus = 7,
    DbSwap = 8,
    RetrieveGuestMessage = 9,
    DeleteGuestMessage = 10,
};
inline constexpr int kReqSlotCount = 11;

// A set of slots, one bit per slot number.
using ReqSlots = unsigned;
constexpr ReqSlots req_slot(ReqSlot s) { return 1u << static_cast<int>(s); }
inline constexpr ReqSlots kAllReqSlots = (1u << kReqSlotCount) - 1;

// The slot's name as handlers are named: "check_in_room", "db_swap" ...
const char* req_slot_name(ReqSlot slot);

struct UnservedSlot {
    ReqSlot slot;
    std::string entry;  // the debug line its call writes
    std::string reply = {};  // written to the caller's reply ("": left as it is)
};

// Fills each listed slot with "log `entry` at debug `level`, answer 3", and
// the slot's `reply` text where the slot has a reply.
void vendor_fill_unserved(VendorRequests& r, const std::vector<UnservedSlot>& slots, int level);
