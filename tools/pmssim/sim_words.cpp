#include "sim_words.h"

#include <cctype>
#include <cstdlib>

std::optional<std::vector<std::string>> sim_split_words(const std::string& line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isspace(static_cast<unsigned char>(line[i]))) ++i;
        if (i >= line.size() || line[i] == '#') break;
        std::string word;
        bool quoted = false;
        while (i < line.size() && (quoted || !isspace(static_cast<unsigned char>(line[i])))) {
            if (line[i] == '"') {
                quoted = !quoted;
            } else {
                word += line[i];
            }
            ++i;
        }
        if (quoted) return std::nullopt;
        words.push_back(word);
    }
    return words;
}

std::map<std::string, std::string> sim_options(const std::vector<std::string>& words, size_t first,
                                               std::vector<std::string>& plain) {
    std::map<std::string, std::string> opts;
    for (size_t i = first; i < words.size(); ++i) {
        auto eq = words[i].find('=');
        if (eq != std::string::npos && eq > 0) {
            opts[words[i].substr(0, eq)] = words[i].substr(eq + 1);
        } else {
            plain.push_back(words[i]);
        }
    }
    return opts;
}

std::optional<long> sim_parse_amount(const std::string& text) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    long whole = 0;
    size_t digits = 0;
    while (i < text.size() && isdigit(static_cast<unsigned char>(text[i]))) {
        if (whole > 100000000) return std::nullopt;
        whole = whole * 10 + (text[i++] - '0');
        ++digits;
    }
    long cents = 0;
    if (i < text.size() && text[i] == '.') {
        ++i;
        int decimals = 0;
        while (i < text.size() && isdigit(static_cast<unsigned char>(text[i]))) {
            if (++decimals > 2) return std::nullopt;
            cents = cents * 10 + (text[i++] - '0');
            ++digits;
        }
        if (decimals == 1) cents *= 10;
    }
    if (i != text.size() || digits == 0) return std::nullopt;
    long value = whole * 100 + cents;
    return negative ? -value : value;
}

std::optional<double> sim_parse_seconds(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    double v = strtod(text.c_str(), &end);
    if (*end != '\0' || !(v >= 0) || v > 86400) return std::nullopt;
    return v;
}

std::string sim_format_amount(long hundredths) {
    char buf[32];
    long a = hundredths < 0 ? -hundredths : hundredths;
    snprintf(buf, sizeof buf, "%s%ld.%02ld", hundredths < 0 ? "-" : "", a / 100, a % 100);
    return buf;
}

std::string sim_field_text(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (c == '|' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    return out;
}
