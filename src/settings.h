// Settings declared once. Each module declares the settings it reads in a
// table of {key, form, default, meaning}; its code reads them through these
// declarations, -C describes them and checks the file against them, and the
// README's settings tables can be generated from config_settings_tables().
// A key read two ways (POSTDELAY, USER_STRINGS) is declared twice, once in
// each module that reads it.
#pragma once

#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// How a value is read, which also says what a valid one looks like.
enum class SettingForm {
    Text,            // any text
    Number,          // strtol base 10 (a value that is not a number reads 0)
    Seconds,         // as Number, with an optional fraction ("0.2")
    StrictUnsigned,  // exactly one non-negative number
    StrictInt,       // exactly one number
    Flag,            // on when the value starts with "1"
    FlagUnlessZero,  // off only when the value starts with "0"
    FlagWords,       // off for "no", "false" or "0"
    Choice,          // one of the words in `choices`, any letter case
    Address,         // an IPv4 address
    TimeOfDay,       // six digits HHMMSS
};

struct Setting {
    const char* key;
    SettingForm form;
    const char* default_text;  // as an operator reads it ("required", "30", "off")
    const char* meaning;
    long number = 0;                // the default of a Number setting
    const char* choices = nullptr;  // Choice: the words, separated by '|'
};

struct SettingsTable {
    const char* module;
    std::span<const Setting> settings;
};

// Every module's table.
std::span<const SettingsTable> config_settings_tables();

// Readers by declaration; a missing or empty value gives the declared default.
long setting_number(const Setting& s);
// A Seconds setting in milliseconds: its leading number, fraction included
// ("0.25" is 250, "7x" is 7000, a value that is not a number 0).
long long setting_millis(const Setting& s);
bool setting_flag(const Setting& s);  // Flag, FlagUnlessZero or FlagWords
std::optional<std::string> setting_text(const Setting& s);

// What a valid value of `s` looks like, when `value` is not one; nullopt
// when it is valid.
std::optional<std::string> setting_invalid(const Setting& s, std::string_view value);

// The form of `s` as the manual page and README name it ("number", "flag" ...).
std::string setting_form_text(const Setting& s);

// One line per declared setting: module, key, form, default and meaning,
// separated by tabs; the manual page of the settings is made from it.
void config_settings_write_tsv(std::FILE* out);

// -C: each setting with its meaning and default, then a warning for each
// value in the file that its declaration would not read as intended.
void config_describe_and_check();
