// Authorisation by guest name: does a name given by the gateway (the guest
// typing it at the login page) name a guest the PMS has in the room? The
// gateway writes "XXXX" for a name part it does not know; some interfaces
// also take a first name "###" for "any first name". Names compare without
// regard to letter case, over at most a given number of characters.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

struct GuestNameRules {
    bool hash_any_first = true;  // a given first name that begins "###" matches any first name
    bool xxxx_any_name = true;   // a given name part that begins "XXXX" matches any
    bool xxxx_any_case = false;  // "xxxx" in any letter case counts as "XXXX"
    // A given last name "XXXX" matches any last name only when the first
    // name given is "XXXX" too; otherwise it is compared as a name.
    bool last_xxxx_needs_first = false;
    size_t compare_len = std::string::npos;  // characters compared at most (0: every name matches)
};

// True when the two texts are equal ignoring ASCII letter case, over at most
// `len` characters of each.
bool guest_text_equal(std::string_view a, std::string_view b, size_t len = std::string::npos);

// True when `given` begins with "XXXX" (in any case when `any_case`).
bool guest_name_is_wildcard(std::string_view given, bool any_case = false);

// True when the given first and last name name the PMS's guest.
bool guest_name_matches(const GuestNameRules& rules, std::string_view given_first, std::string_view given_last,
                        std::string_view pms_first, std::string_view pms_last);

// Guest numbers compare whole, ignoring letter case.
inline bool guest_number_matches(std::string_view given, std::string_view pms) { return guest_text_equal(given, pms); }
