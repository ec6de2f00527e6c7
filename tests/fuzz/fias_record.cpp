// FIAS record text: the tagged-field splitter, the type probe and the
// date-time converters. A parsed record keeps a two-character type and
// two-character tags; a converted date-time has the database's layout.
#include <optional>
#include <string>

#include "fuzz_support.h"
#include "vendors/fias/fias_record.h"

namespace {

bool digit(char c) { return c >= '0' && c <= '9'; }

void check_db_datetime(std::string_view da, std::string_view ti) {
    std::string out;
    if (!fias_pms_to_db_datetime(out, da, ti)) return;
    FUZZ_CHECK(out.size() == 19);
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18}) FUZZ_CHECK(digit(out[i]));
    FUZZ_CHECK(out[4] == '-' && out[7] == '-' && out[10] == ' ' && out[13] == ':' && out[16] == ':');
}

}  // namespace

void fuzz_one(std::string_view input) {
    const std::optional<std::string> type = fias_record_type(input);
    if (type) FUZZ_CHECK(type->size() == 2 && input.substr(0, 2) == *type);

    const std::optional<FiasRecord> rec = fias_parse(input);
    if (!rec) return;
    FUZZ_CHECK(rec->type.size() == 2);
    FiasUserStrings us;
    for (const FiasField& f : rec->fields) {
        FUZZ_CHECK(f.tag.size() == 2);
        FUZZ_CHECK(rec->has(f.tag));
        fias_take_user_string(us, f);
    }
    FUZZ_CHECK(us.last_index >= -1 && us.last_index <= 9);
    const std::string da = rec->text("DA");
    const std::string ti = rec->text("TI");
    check_db_datetime(da, ti);
    if (!da.empty()) {
        (void)fias_pms_to_time(da, rec->get("TI"));
        (void)fias_pms_to_time(da, std::nullopt);
    }
}
