// FIAS record text: "GI|RN101|G#55|GNSmith|" split into a type and tagged
// fields, the DA/TI date and time fields, and building records from layouts.
#pragma once

#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vendors/fias/fias_profile.h"

struct FiasField {
    std::string tag;    // two characters
    std::string value;  // the rest of the field
};

struct FiasRecord {
    std::string type;
    std::vector<FiasField> fields;  // in record order

    // Value of the last field with this tag, or nullopt.
    std::optional<std::string> get(std::string_view tag) const;
    // The value, or "" when absent.
    std::string text(std::string_view tag) const;
    bool has(std::string_view tag) const { return get(tag).has_value(); }
};

// Splits a record body on '|'. nullopt for an empty body or one without a
// type of two characters; fields shorter than a tag are skipped. A value that
// is not valid UTF-8 is converted from PMS_CHARSET.
std::optional<FiasRecord> fias_parse(std::string_view body);

// The record's two-letter type when the body is longer than two characters.
std::optional<std::string> fias_record_type(std::string_view body);
bool fias_is_type(std::string_view body, std::string_view type);

// DA "YYMMDD" and TI "HHMMSS" of `when` in local time; `offset` is added to
// the seconds without carrying (59 + 3 is written 62). false for time -1.
bool fias_date_time(time_t when, std::string& da, std::string& ti, int offset = 0);

// "YYMMDD" + "HHMMSS" -> "20YY-MM-DD HH:MM:SS"; a missing, short or
// non-numeric time is "000000". false when the date does not begin with six
// digits, or when date or time name no real calendar date or time of day.
bool fias_pms_to_db_datetime(std::string& out, std::string_view date, std::string_view time);

// DA and TI of a folio record as local time; a missing TI is 00:00:01 of
// the day; the current time when the date cannot be read.
time_t fias_pms_to_time(std::string_view da, std::optional<std::string_view> ti);

// Values for the two-character tags of a layout.
using FiasValues = std::map<std::string, std::string>;

// "TYPE|f1|f2|...|" from a layout; nullopt when a tag has no value.
std::optional<std::string> fias_build_body(const FiasLayout& layout, const FiasValues& values);

// User-defined strings A0-A9 collected from guest records.
struct FiasUserStrings {
    std::array<std::string, 10> text;
    int last_index = -1;  // last index seen, -1 when none
};
// Stores an "A<digit>" field; logs and drops anything else. Returns true
// when the tag was an "A" tag (valid or not).
bool fias_take_user_string(FiasUserStrings& us, const FiasField& field);
