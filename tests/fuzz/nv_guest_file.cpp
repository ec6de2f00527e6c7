// The NiteVision guest file: every row is counted once, as a guest, a bad
// row, a heading or an empty row; a guest names a room and its dates are
// no longer than the database's date-time.
#include "fuzz_support.h"
#include "vendors/nitevision/nv_guest_file.h"

void fuzz_one(std::string_view input) {
    const NvGuestFile f = nv_parse_guest_file(input);
    FUZZ_CHECK(f.rows >= 0 && f.headings >= 0);
    FUZZ_CHECK(f.guests.size() + f.bad_rows.size() + static_cast<size_t>(f.headings) <= static_cast<size_t>(f.rows));
    for (const NvGuestEntry& g : f.guests) {
        FUZZ_CHECK(!g.room.empty());
        for (const std::string* d : {&g.arrival, &g.departure, &g.checkin}) FUZZ_CHECK(!d->empty() && d->size() <= 19);
    }
}
