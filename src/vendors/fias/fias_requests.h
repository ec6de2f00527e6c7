// FIAS answers to control-port requests: room status, guest info, folio,
// remote check-out, authorize, guest messages, delete message and room
// equipment status. Results: 0 success, 2 missing argument, 4 failure
// explained in `reply`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vendors/fias/fias_profile.h"

ReqResult fias_handle_check_room_status(FiasVendor& v, const std::string& room, int32_t& status, std::string& reply);
ReqResult fias_handle_retrieve_guest_info(FiasVendor& v, const std::string& room, int32_t& count,
                                    std::vector<std::string>& lines, std::string& reply);
ReqResult fias_handle_retrieve_guest_folio(FiasVendor& v, const std::string& room, const std::string& guest_no,
                                     int32_t start, int32_t end, int32_t& count, std::vector<std::string>& lines,
                                     std::string& reply);
ReqResult fias_handle_check_out_room(FiasVendor& v, const std::string& room, const std::string& unused,
                               std::string& reply);
ReqResult fias_handle_authorize(FiasVendor& v, const std::string& room, const std::string& data, std::string& reply);
ReqResult fias_handle_room_equipment_status(FiasVendor& v, const std::string& room, const std::string& status,
                                      std::string& reply);
ReqResult fias_get_guest_messages(FiasVendor& v, const std::string& room, const std::string& guest_no, int32_t& count,
                            std::vector<std::string>& lines, std::string& reply);
ReqResult fias_handle_delete_guest_message(FiasVendor& v, const std::string& room, const std::string& data,
                                     std::string& reply);
