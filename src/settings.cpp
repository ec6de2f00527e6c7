#include "settings.h"

#include <arpa/inet.h>
#include <strings.h>

#include <array>
#include <cmath>
#include <cstdlib>

#include "config.h"
#include "db_settings.h"
#include "platform/log.h"
#include "settings_core.h"
#include "io_pms/sftp_settings.h"
#include "vendors/common/pms_text_settings.h"
#include "vendors/fias/fias_settings.h"
#include "vendors/jds/jds_settings.h"
#include "vendors/line/line_settings.h"
#include "vendors/txn/txn_settings.h"
#include "vendors/micros4700/m4700_settings.h"

static constexpr char kLogSrc[] = "settings";

namespace {

constexpr std::array<SettingsTable, 11> kTables = {{
    {"daemon core", kCoreSettings},
    {"PMS link", kLinkSettings},
    {"SFTP link", kSftpSettings},
    {"control server", kServerSettings},
    {"database", kDbSettings},
    {"PMS text", kPmsTextSettings},
    {"FIAS vendors", kFiasSettings},
    {"Marriott and Marriott FOSSE", kLineSettings},
    {"GalaVu, Galaxy and HTNG", kTxnSettings},
    {"JDS", kJdsSettings},
    {"Micros 4700", kMicros4700Settings},
}};

bool all_digits(std::string_view v) {
    if (v.empty()) return false;
    for (char c : v)
        if (c < '0' || c > '9') return false;
    return true;
}

bool whole_number(std::string_view v) {
    if (!v.empty() && (v[0] == '-' || v[0] == '+')) v.remove_prefix(1);
    return all_digits(v);
}

bool is_choice(std::string_view v, const char* choices) {
    std::string_view rest = choices ? choices : "";
    while (!rest.empty()) {
        size_t bar = rest.find('|');
        std::string_view word = rest.substr(0, bar);
        if (word.size() == v.size() && strncasecmp(word.data(), v.data(), v.size()) == 0)
            return true;
        if (bar == std::string_view::npos) break;
        rest.remove_prefix(bar + 1);
    }
    return false;
}

}  // namespace

std::span<const SettingsTable> config_settings_tables() { return kTables; }

long setting_number(const Setting& s) { return config_get_number(s.key, s.number); }

long long setting_millis(const Setting& s) {
    auto v = config_get(s.key);
    if (!v || v->empty()) return s.number * 1000LL;
    double seconds = strtod(v->c_str(), nullptr);
    // Far beyond any sensible wait, and kept inside what select() takes.
    constexpr double kLimit = 24.0 * 3600 * 365;
    if (!(seconds >= -kLimit)) seconds = seconds > 0 ? kLimit : -kLimit;
    if (seconds > kLimit) seconds = kLimit;
    return llround(seconds * 1000);
}

bool setting_flag(const Setting& s) {
    switch (s.form) {
        case SettingForm::FlagUnlessZero:
            return config_get_flag_unless_zero(s.key);
        case SettingForm::FlagWords: {
            auto v = config_get(s.key);
            return v && strcasecmp(v->c_str(), "no") != 0 && strcasecmp(v->c_str(), "false") != 0 &&
                   *v != "0";
        }
        default:
            return config_get_flag(s.key);
    }
}

std::optional<std::string> setting_text(const Setting& s) { return config_get(s.key); }

std::optional<std::string> setting_invalid(const Setting& s, std::string_view v) {
    switch (s.form) {
        case SettingForm::Text:
            return std::nullopt;
        case SettingForm::Number:
        case SettingForm::StrictInt:
            if (whole_number(v)) return std::nullopt;
            return std::string("a whole number");
        case SettingForm::Seconds: {
            size_t dot = v.find('.');
            if (whole_number(v.substr(0, dot)) && (dot == std::string_view::npos || all_digits(v.substr(dot + 1))))
                return std::nullopt;
            return std::string("a number of seconds (a fraction allowed: 0.2)");
        }
        case SettingForm::StrictUnsigned:
            if (all_digits(v)) return std::nullopt;
            return std::string("a whole number of 0 or more");
        case SettingForm::Flag:
            // "no" reads as off, as it says; "yes" would read as off too.
            if (v[0] == '0' || v[0] == '1' || is_choice(v, "no|false|off")) return std::nullopt;
            return std::string("0 or 1");
        case SettingForm::FlagUnlessZero:
            // Only a leading "0" turns it off: "no" would leave it on.
            if (v[0] == '0' || v[0] == '1') return std::nullopt;
            return std::string("0 or 1");
        case SettingForm::FlagWords:
            if (is_choice(v, "0|1|no|yes|false|true")) return std::nullopt;
            return std::string("0 or 1 (also no/yes, false/true)");
        case SettingForm::Choice:
            if (is_choice(v, s.choices)) return std::nullopt;
            return std::string("one of ") + (s.choices ? s.choices : "");
        case SettingForm::Address: {
            in_addr a{};
            if (inet_pton(AF_INET, std::string(v).c_str(), &a) == 1) return std::nullopt;
            return std::string("an IPv4 address");
        }
        case SettingForm::TimeOfDay:
            if (v.size() == 6 && all_digits(v)) return std::nullopt;
            return std::string("six digits HHMMSS");
    }
    return std::nullopt;
}

std::string setting_form_text(const Setting& s) {
    switch (s.form) {
        case SettingForm::Text:
            return "text";
        case SettingForm::Number:
            return "number";
        case SettingForm::Seconds:
            return "seconds, a fraction allowed (0.2)";
        case SettingForm::StrictUnsigned:
            return "strict number, 0 or more";
        case SettingForm::StrictInt:
            return "strict number";
        case SettingForm::Flag:
            return "flag";
        case SettingForm::FlagUnlessZero:
            return "flag, on unless it starts with 0";
        case SettingForm::FlagWords:
            return "flag (0/1, no/yes, false/true)";
        case SettingForm::Choice:
            return std::string("one of ") + (s.choices ? s.choices : "");
        case SettingForm::Address:
            return "IPv4 address";
        case SettingForm::TimeOfDay:
            return "time of day HHMMSS";
    }
    return "text";
}

void config_settings_write_tsv(std::FILE* out) {
    for (const SettingsTable& table : kTables)
        for (const Setting& s : table.settings)
            std::fprintf(out, "%s\t`%s`\t%s\t%s\t%s\n", table.module, s.key, setting_form_text(s).c_str(),
                         s.default_text, s.meaning);
}

void config_describe_and_check() {
    for (const SettingsTable& table : kTables)
        for (const Setting& s : table.settings)
            VLOG_INFO("Setting %s (%s): %s; default %s", s.key, table.module, s.meaning,
                      s.default_text);
    for (const SettingsTable& table : kTables) {
        for (const Setting& s : table.settings) {
            auto value = config_get(s.key);
            if (!value) continue;
            if (auto expected = setting_invalid(s, *value)) {
                const std::string_view key = s.key;
                const bool secret = key == "DBPASS" || key == "SFTP_PASSWORD";
                VLOG_WARN(1000, "Invalid value for %s: '%s', expected %s", s.key,
                          secret ? "****" : value->c_str(), expected->c_str());
            }
        }
    }
}
