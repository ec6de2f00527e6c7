// The NiteVision guest file: the PMS's list of in-house guests, one row per
// guest, eight fields separated by "|":
//   0 not used, 1 first name, 2 last name, 3 phone, 4 room,
//   5 arrival, 6 departure, 7 check-in (date-times)
// Fields 1-7 may be enclosed in double quotes. Parsing is a pure function:
// text in, guest entries out; the vendor logs what it reports.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct NvGuestEntry {
    std::string first;
    std::string last;
    std::string phone;
    std::string room;
    std::string arrival;    // at most 19 characters; "2000-11-11" when empty
    std::string departure;  // as arrival
    std::string checkin;    // as arrival; stored as the row's creation time
};

struct NvGuestFile {
    std::vector<NvGuestEntry> guests;   // rows naming a room
    std::vector<std::string> bad_rows;  // non-empty rows without eight fields
    int rows = 0;                       // rows in the text, empty ones included
    int headings = 0;                   // eight-field rows without a room (or "ROOM...")
};

// The date a missing date-time field stands for.
inline constexpr char kNvNoDate[] = "2000-11-11";

// Rows end at "\n"; a trailing "\r" is dropped first, so files with CR/LF
// line ends read the same. Fields are split at every "|" (an empty first
// field is a field), so a row has eight fields or is bad.
NvGuestFile nv_parse_guest_file(std::string_view text);
