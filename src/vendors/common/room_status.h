// Room status answered from the occupancy table, for the vendors whose PMS
// is not asked.
#pragma once

#include <cstdint>
#include <string>

#include "vendor.h"

// status: 1 occupied, 0 vacant; a database failure answers Failed with the
// reason in `reply`.
ReqResult vendor_db_room_status(const std::string& room, int32_t& status, std::string& reply);
