// The Agilysys check-in record (CI) without I/O: nine comma-separated
// fields (guest no, -, arrival date, departure date, -, room, -, last name,
// first name) in the PMS's character set.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "db.h"

inline constexpr size_t kAgilysysCiFields = 9;

// The guest of a check-in record, created at `now_text`; nullopt (logged)
// when the record is too short, has the wrong number of fields, names no
// room or holds a text the database cannot store.
std::optional<PmsGuest> agilysys_checkin_guest(std::string_view record, const std::string& now_text);
