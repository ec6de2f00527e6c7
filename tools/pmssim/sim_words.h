// Splitting command lines into words, with "double quoted" words that keep
// their blanks, and reading the NAME=VALUE options of a command.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

// Words of a line; a '#' at the start of a word begins a comment. nullopt
// for an unterminated quote.
std::optional<std::vector<std::string>> sim_split_words(const std::string& line);

// Words from `first` on that look like name=value; the others stay, in order,
// in `plain`.
std::map<std::string, std::string> sim_options(const std::vector<std::string>& words, size_t first,
                                               std::vector<std::string>& plain);

// Amount such as "12.50", "-3" or "0.29" in hundredths; nullopt when it is
// not a plain decimal with at most two decimals.
std::optional<long> sim_parse_amount(const std::string& text);
// Whole seconds or fractions ("2", "0.5"); nullopt when not a number >= 0.
std::optional<double> sim_parse_seconds(const std::string& text);
// "12.50" from 1250.
std::string sim_format_amount(long hundredths);
// A text safe to place in a record field: '|' and control bytes become blanks.
std::string sim_field_text(const std::string& text);
