// FIAS guest events sent by the PMS unprompted: check-in (GI), check-out
// (GO), guest change and room move (GC), class of service (RE), guest
// message waiting (XL) and folio update (XO). Results: 1 handled, 0 the
// record cannot be processed, 2 key fields missing, 4 a statement failed.
#pragma once

#include <string>

#include "vendors/fias/fias_profile.h"

int fias_cmd_guest_checkin(FiasVendor& v, const std::string& body);
int fias_cmd_guest_checkout(FiasVendor& v, const std::string& body);
int fias_cmd_guest_data_change(FiasVendor& v, const std::string& body);
int fias_cmd_room_equipment_status(FiasVendor& v, const std::string& body);
int fias_cmd_guest_message(FiasVendor& v, const std::string& body);
int fias_cmd_guest_folio_update(FiasVendor& v, const std::string& body);
