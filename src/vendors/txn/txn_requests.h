// Requests the transaction-id vendors share.
#pragma once

#include <string>
#include <vector>

#include "vendors/txn/txn_core.h"

// Sends "<id>9999<verb><room><account>" and collects the answer's records of
// the `wanted` verbs as lines (text from position 8).
ReqResult txn_multi_record(TxnVendor& v, const char* verb, const std::vector<std::string>& wanted,
                           const std::string& room, const std::string& account, int32_t& count,
                           std::vector<std::string>& lines, std::string& reply);
// DISP: the NAME, ITEM and BAL records of the folio.
ReqResult txn_handle_retrieve_folio_details(TxnVendor& v, const std::string& room, const std::string& account,
                                            int32_t& count, std::vector<std::string>& lines, std::string& reply);
// MSGR: the MHDR, MCLR and MTXT records of the guest's messages.
ReqResult txn_handle_retrieve_guest_message(TxnVendor& v, const std::string& room, const std::string& account,
                                            int32_t& count, std::vector<std::string>& lines, std::string& reply);
// MSGD with the two "^"-separated fields of `data`.
ReqResult txn_handle_delete_message(TxnVendor& v, const std::string& room, const std::string& data,
                                    std::string& reply);
// HSKP: room status.
ReqResult txn_handle_room_equipment_status(TxnVendor& v, const std::string& room, const std::string& status,
                                           std::string& reply);
