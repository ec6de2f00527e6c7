// The Agilysys check-in record: any text either yields a guest with a room
// and storable fields, or nothing.
#include "fuzz_support.h"
#include "vendors/agilysys/agilysys_record.h"
#include "vendors/common/field_check.h"

void fuzz_one(std::string_view input) {
    const std::optional<PmsGuest> g = agilysys_checkin_guest(input, "2026-12-08 12:00:00");
    if (!g) return;
    FUZZ_CHECK(!g->room.empty());
    for (const std::string* text : {&g->room, &g->guest_no, &g->first, &g->last})
        FUZZ_CHECK(db_text_storable(*text, "field", "fuzzed row"));
    FUZZ_CHECK(g->arrival.ends_with(" 00:00:00") && g->departure.ends_with(" 23:59:59"));
}
