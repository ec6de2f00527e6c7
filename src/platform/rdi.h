// Gateway registration driver: platform version query and session expiry.
#pragma once

#include <optional>
#include <string>

// Answers request 320 with VORNPMS_PLATFORM_VERSION when set, else "59";
// other requests get nullopt.
std::optional<std::string> vrdi_ask_the_driver(int request, const char* arg);
// Logs "vrdi_set_reg_expiry_time: mac [%s] expires at %ld" (info); 210 = done.
int vrdi_set_reg_expiry_time(const char* mac, long expiry);
