#include "vendors/common/field_check.h"

#include <cmath>

#include "config.h"
#include "platform/log.h"
#include "utils/charset.h"
#include "vendors/common/pms_text_settings.h"

static constexpr char kLogSrc[] = "vendors/common/field_check";

namespace {

// The longest text the database layer escapes (its escaped form must fit
// 64 KiB).
constexpr size_t kDbTextMax = 32767;
constexpr double kAmountLimit = 1e7;
constexpr char kDefaultCharset[] = "ISO-8859-1";

}  // namespace

const char* pms_field_refusal(std::string_view value, size_t max_len) {
    for (unsigned char c : value) {
        if (c == '|') return "it contains the field separator '|'";
        if (c < 0x20 || c == 0x7f) return "it contains a control byte";
    }
    if (max_len > 0 && value.size() > max_len) return "it is too long for its field";
    return nullptr;
}

const char* pms_amount_refusal(double amount) {
    if (!std::isfinite(amount)) return "it is not a finite number";
    if (std::fabs(amount) >= kAmountLimit) return "it is too large for a posting";
    return nullptr;
}

bool db_text_storable(std::string_view text, const char* field, std::string_view what) {
    const char* why = nullptr;
    if (text.size() > kDbTextMax)
        why = "too long to store";
    else if (!utf8_valid(text))
        why = "not valid in the database's encoding";
    if (!why) return true;
    VLOG_ERROR(0, "Refusing %.*s: field %s is %s (%zu bytes)", static_cast<int>(what.size()), what.data(), field,
               why, text.size());
    return false;
}

std::string pms_text_to_utf8(std::string_view text) {
    if (utf8_valid(text)) return std::string(text);
    std::string charset = setting_text(kSetPmsCharset).value_or(kDefaultCharset);
    if (charset.empty()) charset = kDefaultCharset;
    if (auto converted = charset_to_utf8(text, charset)) return *converted;
    return std::string(text);
}

bool pms_calendar_valid(int year, int month, int day, int hour, int minute, int second) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1) return false;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    int last = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
    if (day > last) return false;
    return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59;
}
