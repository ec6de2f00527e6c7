// GalaVu: the transaction-id vendor that learns its guests by asking (LOOK)
// rather than from its check-in records.
#pragma once

#include <string>
#include <vector>

#include "vendor.h"
#include "vendors/txn/txn_names.h"
#include "vendors/txn/txn_profile.h"

TxnVendor& galavu();

struct GalavuGuest {
    std::string account;
    TxnName name;
};
// At most this many guests in one LOOK answer.
inline constexpr size_t kGalavuMaxLook = 8;

// LOOK of `room`: Ok with the room's guests, Failed, or 5 for a vacant room.
ReqResult galavu_look_request(TxnVendor& v, const std::string& room, std::vector<GalavuGuest>& guests,
                              std::string& reply);
// Replaces the room's guests by `guests` (those with a last name), with
// `when` as arrival, departure and creation time; false when a store failed.
bool galavu_store_guests(const std::string& room, const std::vector<GalavuGuest>& guests, const std::string& when,
                         const std::string& no_post);

// Request slots.
ReqResult galavu_handle_post_charge(TxnVendor& v, const PMSPostInfo& post, std::string& reply);
ReqResult galavu_handle_authorize(TxnVendor& v, const std::string& room, const std::string& data, std::string& reply);
ReqResult galavu_handle_check_out_room(TxnVendor& v, const std::string& room, const std::string& account,
                                       std::string& reply);
ReqResult galavu_handle_db_swap(TxnVendor& v);
int galavu_harvest_guest_data(TxnVendor& v);
