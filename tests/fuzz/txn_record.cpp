// Records of the transaction-id vendors (GalaVu, Galaxy, HTNG): id and verb,
// the fixed guest fields under the Galaxy and HTNG layouts, the name
// splitters and the date fields. A blank date is NULL; any other is handed
// to the database as text no longer than its fields.
#include "fuzz_support.h"
#include "vendors/txn/txn_core.h"
#include "vendors/txn/txn_guest.h"
#include "vendors/txn/txn_link.h"
#include "vendors/txn/txn_names.h"

namespace {

// Galaxy's check-in and HTNG's guest record.
constexpr TxnGuestLayout kLayouts[] = {
    {.room = {12, 6}, .guest_no = {18, 10}, .name = {28, 20}, .arrival = {52, 10}, .arrival_time = {62, 5},
     .departure = {67, 10}, .departure_time = {77, 5}},
    {.room = {12, 16}, .guest_no = {28, 64}, .name = {92, 128}, .arrival = {285, 10}, .arrival_time = {296, 5},
     .departure = {301, 10}, .departure_time = {312, 5}},
};

void check_date(std::string_view date, std::string_view time) {
    const std::string d = txn_date(date, time);
    // Blank is NULL; anything else goes to the database, which judges it,
    // never longer than the date, one blank and the time.
    FUZZ_CHECK(d.empty() == (date.find_first_not_of(' ') == std::string_view::npos));
    FUZZ_CHECK(d.size() <= date.size() + time.size() + 1);
}

}  // namespace

void fuzz_one(std::string_view input) {
    const std::string rec(input);
    const std::string_view id = txn_id(input);
    const std::string_view verb = txn_verb(input);
    FUZZ_CHECK(id.size() <= input.size() && verb.size() <= input.size());
    (void)txn_is_last(input);

    for (const TxnGuestLayout& l : kLayouts) {
        const PmsGuest g = txn_guest_fields(rec, l, ",");
        FUZZ_CHECK(g.room.size() <= l.room.len && g.guest_no.size() <= l.guest_no.len);
        check_date(txn_field(rec, l.arrival.pos, l.arrival.len), txn_field(rec, l.arrival_time.pos, l.arrival_time.len));
        check_date(txn_field(rec, l.departure.pos, l.departure.len),
                   txn_field(rec, l.departure_time.pos, l.departure_time.len));
    }
    // The whole input as one date and time, split where a time would begin.
    const size_t cut = input.empty() ? 0 : static_cast<unsigned char>(input[0]) % (input.size() + 1);
    check_date(input.substr(0, cut), input.substr(cut));

    (void)txn_split_name_last_first(rec, " ");
    (void)txn_split_name_galavu(rec, true, "fuzz");
    (void)txn_split_name_galavu(rec, false, "fuzz");
    FUZZ_CHECK(!txn_value_fits(input, input.size()) || input.find('\0') == std::string_view::npos);
}
