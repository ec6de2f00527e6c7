// What the FIAS guest handlers do before they touch the database: collect a
// record's guest fields and build the occupancy row from them. A row that
// comes out carries converted date-times and only texts the database takes.
#include "fuzz_support.h"
#include "vendors/common/field_check.h"
#include "vendors/fias/fias_post.h"
#include "vendors/fias/fias_record.h"

void fuzz_one(std::string_view input) {
    const std::optional<FiasRecord> rec = fias_parse(input);
    if (!rec) return;
    FiasGuestFields g;
    for (const FiasField& f : rec->fields) fias_take_guest_field(g, f);
    (void)fias_storable({{"RN", &g.room}, {"G#", &g.guest_no}}, "fuzzed record");
    const std::optional<PmsGuest> row = fias_guest_row(g);
    if (!row) return;
    for (const std::string* text : {&row->room, &row->guest_no, &row->first, &row->last, &row->arrival,
                                    &row->departure, &row->created})
        FUZZ_CHECK(db_text_storable(*text, "field", "fuzzed row"));
}
