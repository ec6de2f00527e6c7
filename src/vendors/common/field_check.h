// Checks on values that cross between the PMS, the control port and the
// database, shared by every vendor: what may go into a PMS record, what the
// database can store, PMS text in another character set, PMS dates.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Why `value` cannot go into a field of a PMS record, or nullptr when it can.
// The field separator '|' and control bytes (STX, ETX and the like) would
// add fields or split the frame; `max_len` (0: no limit) is the width of a
// fixed-width field.
const char* pms_field_refusal(std::string_view value, size_t max_len = 0);

// Why a charge amount cannot be posted, or nullptr: it must be a finite
// number whose hundredths fit the records of every vendor (below ten million
// in either direction; negative amounts are refunds).
const char* pms_amount_refusal(double amount);

// True when the database can store `text` (valid UTF-8, short enough to
// escape); otherwise logs an error naming `field` (and `what`, the record or
// request it belongs to) and returns false, so that the caller refuses the
// record before it changes anything.
bool db_text_storable(std::string_view text, const char* field, std::string_view what);

// PMS text that is not valid UTF-8, converted from the character set named by
// PMS_CHARSET (default ISO-8859-1); returned unchanged when it is valid UTF-8
// already or cannot be converted (db_text_storable then refuses it).
std::string pms_text_to_utf8(std::string_view text);

// True when the numbers name a real calendar date and time of day.
bool pms_calendar_valid(int year, int month, int day, int hour, int minute, int second);
