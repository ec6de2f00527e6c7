// The daemon's settings, read from one key/value file at every (re)initialisation.
#pragma once

#include <optional>
#include <string>
#include <string_view>

extern std::string g_config_file;  // "/usr/local/Tessarine/etc/vornpms.cfg", -c replaces it

// 1 on success, 0 when the file cannot be read ("Could not open %s: %s").
int config_init();
// The value, or nullopt when the key is missing or its value is empty.
std::optional<std::string> config_get(std::string_view key);
// "Null value for %s" when missing, else "Invalid value for %s: %s"; each
// followed by " (configuration file <path>)".
void config_report_invalid(std::string_view key);
// Every setting in file order as info "Config #%s# => #%s#".
void config_dump();
void config_free();

// Reader conventions shared by every module.
// Number: strtol base 10 ("abc" reads 0); `dflt` when absent.
long config_get_number(std::string_view key, long dflt);
// Flag: on when the value starts with '1'; off otherwise and when absent.
bool config_get_flag(std::string_view key);
// Flag that is on unless the value starts with '0' (on when absent): POST_ZERO_CHARGE.
bool config_get_flag_unless_zero(std::string_view key);
// Strict number: exactly one number converted by sscanf "%u" / "%d"; nullopt otherwise
// (absent or malformed). The caller logs its own message and calls config_report_invalid.
std::optional<unsigned> config_get_strict_unsigned(std::string_view key);
std::optional<int> config_get_strict_int(std::string_view key);
// Strict int whose low 16 bits are a TCP port (70000 reads as 4464): CONTROLPORT.
std::optional<unsigned short> config_get_port(std::string_view key);
