// PMS guest records (check-in, check-out, room move) that arrive while the
// database is unreachable are held here, in arrival order and bounded, and
// applied once it is back, before any newer record.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

// Most records held; one arriving beyond that is dropped with a log line.
inline constexpr size_t kHeldRecordsMax = 5000;

// True for a record code that stores or removes a guest, in any vendor.
bool held_record_code(std::string_view code);

// Holds `record` (code `code`); false when the bound is reached (logged).
bool held_records_push(const std::string& code, const std::string& record);
size_t held_records_count();
// Applies held records in order through `apply` while `db_up` says the
// database answers; a record during which it went away again stays first.
void held_records_replay(const std::function<bool()>& db_up, const std::function<void(const std::string&)>& apply);
void held_records_clear();
