// Character sets of text that comes from a PMS.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool utf8_valid(std::string_view text);

// `text` converted from `charset` (an iconv name such as "ISO-8859-1") to
// UTF-8; nullopt when the charset is unknown or the text is not valid in it.
std::optional<std::string> charset_to_utf8(std::string_view text, const std::string& charset);
