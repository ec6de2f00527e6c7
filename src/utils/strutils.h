// String building, splitting and stripping, and the string list that vendors
// use as a queue of records that arrive out of turn.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Appends the formatted text; the new length, or 0 on failure (string unchanged;
// a formatted text longer than 65535 bytes fails).
size_t strAppendFmt(std::string& s, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// Lays exactly `width` bytes of the formatted text at `offset` (cut when longer)
// and ends the string there; offset + width, or 0 when the text is shorter
// than width or 65536 bytes or longer.
size_t strPutFmt(std::string& s, size_t offset, size_t width, const char* fmt, ...)
    __attribute__((format(printf, 4, 5)));
// Fields of `text` at `sep` (a leading separator is skipped); empty for an empty text.
std::vector<std::string> strSplit(std::string_view text, std::string_view sep);
// Non-overlapping occurrences of `needle` in `text`.
int strCount(std::string_view text, std::string_view needle);

using StrList = std::deque<std::string>;
// New count.
int strListAppend(StrList& list, std::string_view text);
// Takes the head of the queue; nullopt when it is empty.
std::optional<std::string> strShift(StrList& list);
void strListFree(StrList& list);

// Drop leading and trailing double quotes / spaces (not tabs); false for an empty text.
bool strStripQuotes(std::string& text);
bool strStripSpaces(std::string& text);
// Copy without trailing spaces and tabs; nullopt for an empty text.
std::optional<std::string> strTrimRight(std::string_view text);
// "00:1a:2b:3c:4d:5e" -> "001a2b3c4d5e"; false (unchanged) unless 17 characters long.
bool strRemoveColonsFromMAC(std::string& text);

// An IPv4 address (network byte order) as inet_ntop writes it, without the
// printf inside inet_ntop: every control connection needs one.
std::string strDottedQuad(uint32_t network_order);

// printf into a new std::string (no length limit; empty on a formatting error).
std::string strFormat(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// The same with a va_list; nullopt on a formatting error.
std::optional<std::string> strVFormat(const char* fmt, va_list ap) __attribute__((format(printf, 1, 0)));
