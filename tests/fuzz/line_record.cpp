// Records of the Marriott line protocol: the command code, the room of a
// CHKI/CHKO and the ERR code. A room read from a record must fit the
// records we send back about it.
#include "fuzz_support.h"
#include "vendors/line/line_core.h"

namespace {

LinePostClass no_class(int) { return {"  ", "        "}; }

const LineProfile kProfile{.name = "fuzz", .prefix = "fuzz", .look_info_verb = "receiving",
                           .because_word = "because", .post_class = no_class, .auth_look_wait = 1,
                           .auth_look_silence = "", .serves_equipment_status = false};

}  // namespace

void fuzz_one(std::string_view input) {
    const std::string record(input);
    LineVendor v{kProfile};
    const std::optional<std::string> code = line_parse_cmd(v, record);
    if (code) FUZZ_CHECK(code->size() == 4 && record.starts_with(*code));

    if (const std::optional<std::string> room = line_record_room(record)) FUZZ_CHECK(line_room_fits(*room));

    std::string reply;
    const int err = line_parse_error(record, reply);
    FUZZ_CHECK(err >= 0 && err <= 14);
    FUZZ_CHECK((err == 0) == reply.empty());
}
