#include "vendors/fias/fias_record.h"

#include <cstdio>
#include <cstring>

#include "platform/log.h"
#include "utils/strutils.h"
#include "vendors/common/field_check.h"

static constexpr char kLogSrc[] = "vendors/fias/fias_record";

std::optional<std::string> FiasRecord::get(std::string_view tag) const {
    for (auto it = fields.rbegin(); it != fields.rend(); ++it)
        if (it->tag == tag) return it->value;
    return std::nullopt;
}

std::string FiasRecord::text(std::string_view tag) const { return get(tag).value_or(""); }

std::optional<FiasRecord> fias_parse(std::string_view body) {
    auto parts = strSplit(body, "|");
    if (parts.empty() || parts[0].size() != 2) return std::nullopt;
    FiasRecord rec;
    rec.type = parts[0];
    for (size_t i = 1; i < parts.size(); ++i) {
        if (parts[i].size() < 2) continue;
        // Values in the PMS's own character set (Latin-1 names) become UTF-8.
        rec.fields.push_back({parts[i].substr(0, 2), pms_text_to_utf8(std::string_view(parts[i]).substr(2))});
    }
    return rec;
}

std::optional<std::string> fias_record_type(std::string_view body) {
    if (body.size() <= 2) return std::nullopt;
    return std::string(body.substr(0, 2));
}

bool fias_is_type(std::string_view body, std::string_view type) {
    return body.size() >= 2 && body.substr(0, 2) == type;
}

bool fias_date_time(time_t when, std::string& da, std::string& ti, int offset) {
    if (when == static_cast<time_t>(-1)) return false;
    struct tm tm {};
    if (!localtime_r(&when, &tm)) return false;
    int year = tm.tm_year >= 100 ? tm.tm_year - 100 : tm.tm_year;
    da = strFormat("%02d%02d%02d", year, tm.tm_mon + 1, tm.tm_mday);
    ti = strFormat("%02d%02d%02d", tm.tm_hour, tm.tm_min, tm.tm_sec + offset);
    return true;
}

namespace {

bool six_digits(std::string_view s) {
    if (s.size() < 6) return false;
    for (size_t i = 0; i < 6; ++i)
        if (s[i] < '0' || s[i] > '9') return false;
    return true;
}

int two_digits(std::string_view s, size_t at) { return (s[at] - '0') * 10 + (s[at + 1] - '0'); }

}  // namespace

bool fias_pms_to_db_datetime(std::string& out, std::string_view date, std::string_view time) {
    // A value the database refuses would fail the record only after it had
    // already checked guests out (swap flag, posting list): a date that is
    // not six digits, or six digits naming no real date or time of day
    // (month 13, 31 April, hour 24), is refused here. A time that is absent
    // or not digits is midnight.
    if (!six_digits(date)) return false;
    if (!six_digits(time)) time = "000000";
    if (!pms_calendar_valid(2000 + two_digits(date, 0), two_digits(date, 2), two_digits(date, 4),
                            two_digits(time, 0), two_digits(time, 2), two_digits(time, 4)))
        return false;
    out = strFormat("%s%c%c-%c%c-%c%c %c%c:%c%c:%c%c", "20", date[0], date[1], date[2], date[3],
                    date[4], date[5], time[0], time[1], time[2], time[3], time[4], time[5]);
    return true;
}

time_t fias_pms_to_time(std::string_view da, std::optional<std::string_view> ti) {
    std::string d(da);
    struct tm tm {};
    int y = 0, mo = 0, day = 0;
    if (std::sscanf(d.c_str(), "%2d%2d%2d", &y, &mo, &day) != 3) return time(nullptr);
    tm.tm_year = y + 100;
    tm.tm_mon = mo - 1;
    tm.tm_mday = day;
    if (ti) {
        std::string t(*ti);
        int h = 0, mi = 0, s = 0;
        if (std::sscanf(t.c_str(), "%2d%2d%2d", &h, &mi, &s) != 3) return time(nullptr);
        tm.tm_hour = h;
        tm.tm_min = mi;
        tm.tm_sec = s;
    } else {
        tm.tm_sec = 1;
    }
    tm.tm_isdst = -1;
    time_t t = mktime(&tm);
    return t == static_cast<time_t>(-1) ? time(nullptr) : t;
}

std::optional<std::string> fias_build_body(const FiasLayout& layout, const FiasValues& values) {
    if (layout.empty()) return std::nullopt;
    std::string body = layout[0] + "|";
    for (size_t i = 1; i < layout.size(); ++i) {
        const std::string& f = layout[i];
        if (f.size() == 2) {
            auto it = values.find(f);
            if (it == values.end()) return std::nullopt;
            body += f + it->second + "|";
        } else {
            body += f + "|";
        }
    }
    return body;
}

bool fias_take_user_string(FiasUserStrings& us, const FiasField& field) {
    if (field.tag[0] != 'A') return false;
    char c = field.tag[1];
    if (c < '0' || c > '9') {
        VLOG_WARN(0, "Index of User defined string invalid, discarding data [%d]", c - '0');
        return true;
    }
    int idx = c - '0';
    std::string v = field.value;
    if (v.size() > kFiasUserStringMax) {
        VLOG_WARN(0, "User defined string size exceeded, truncating data");
        v.resize(kFiasUserStringMax);
    }
    us.text[idx] = v;
    us.last_index = idx;
    return true;
}
