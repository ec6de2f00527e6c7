#include "vendors/common/guest_match.h"

#include <algorithm>

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool guest_text_equal(std::string_view a, std::string_view b, size_t len) {
    a = a.substr(0, std::min(len, a.size()));
    b = b.substr(0, std::min(len, b.size()));
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
}

bool guest_name_is_wildcard(std::string_view given, bool any_case) {
    constexpr std::string_view kAny = "XXXX";
    if (given.size() < kAny.size()) return false;
    return any_case ? guest_text_equal(given.substr(0, kAny.size()), kAny) : given.substr(0, kAny.size()) == kAny;
}

bool guest_name_matches(const GuestNameRules& rules, std::string_view given_first, std::string_view given_last,
                        std::string_view pms_first, std::string_view pms_last) {
    const bool first_any = rules.xxxx_any_name && guest_name_is_wildcard(given_first, rules.xxxx_any_case);
    const bool last_any = rules.xxxx_any_name && guest_name_is_wildcard(given_last, rules.xxxx_any_case) &&
                          (!rules.last_xxxx_needs_first || first_any);
    const bool first_ok = first_any || (rules.hash_any_first && given_first.substr(0, 3) == "###") ||
                          guest_text_equal(given_first, pms_first, rules.compare_len);
    return first_ok && (last_any || guest_text_equal(given_last, pms_last, rules.compare_len));
}
