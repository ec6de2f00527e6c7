// FIAS link life: vendor start (LS/LA exchange), the link description, the
// link-record handlers, keep-alive, database resync and vendor close.
#pragma once

#include <optional>
#include <string>

#include "vendors/fias/fias_profile.h"

// Loads the VIP table and reads the vendor's settings; false when the VIP
// table cannot be loaded.
bool fias_load_settings(FiasVendor& v);

// Descriptor operations.
int fias_vendor_init(FiasVendor& v);
// Puts the link state back as a new link starts it; settings and history stay.
void fias_reset_link(FiasVendor& v);
int fias_vendor_close(FiasVendor& v);
int fias_keep_alive(FiasVendor& v);
std::optional<std::string> fias_parse_cmd(FiasVendor& v, const std::string& body);

int fias_send_link_start(FiasVendor& v);
int fias_describe_link(FiasVendor& v);
void fias_init_db(FiasVendor& v);

// Record handlers: 1 handled, 0 failed.
int fias_cmd_start(FiasVendor& v, const std::string& body);
int fias_cmd_end(FiasVendor& v, const std::string& body);
int fias_cmd_linkalive(FiasVendor& v, const std::string& body);
int fias_cmd_db_resync(FiasVendor& v, const std::string& body);
int fias_cmd_db_resync_start(FiasVendor& v, const std::string& body);
int fias_cmd_db_resync_done(FiasVendor& v, const std::string& body);
int fias_cmd_night_audit_start(FiasVendor& v, const std::string& body);
int fias_cmd_night_audit_end(FiasVendor& v, const std::string& body);

// Control requests.
ReqResult fias_handle_db_swap(FiasVendor& v);
void fias_handle_check_status(FiasVendor& v, std::optional<std::string>& status);
void fias_handle_check_db_swap_status(FiasVendor& v, std::optional<std::string>& status);
ReqResult fias_handle_check_in_room(FiasVendor& v);

// Remembers the type and time of the last record read.
void fias_note_record(FiasVendor& v, const char* type);
