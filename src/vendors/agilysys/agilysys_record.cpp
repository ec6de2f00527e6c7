#include "vendors/agilysys/agilysys_record.h"

#include <utility>
#include <vector>

#include "platform/log.h"
#include "utils/strutils.h"
#include "vendors/common/field_check.h"

static constexpr char kLogSrc[] = "vendors/agilysys/agilysys_record";

std::optional<PmsGuest> agilysys_checkin_guest(std::string_view rec, const std::string& now_text) {
    if (rec.size() <= 9) return std::nullopt;
    const std::string record(rec);
    // Names in the PMS's own character set (Latin-1) become UTF-8.
    std::vector<std::string> f = strSplit(pms_text_to_utf8(record), ",");
    if (f.empty()) {
        VLOG_ERROR(0,
                   "Unable to parse the incoming Checkin message into the individual tokens! Message = '%s', "
                   "delimiter = '%c'",
                   record.c_str(), ',');
        return std::nullopt;
    }
    if (f.size() != kAgilysysCiFields) {
        VLOG_ERROR(0, "Incoming message has the wrong number of fields! [%s]", record.c_str());
        return std::nullopt;
    }
    const std::string& room = f[5];
    // Without a room the check-in would check out and add nothing that exists.
    if (room.empty()) {
        VLOG_ERROR(0, "Incoming check-in names no room! [%s]", record.c_str());
        return std::nullopt;
    }
    // A text the database cannot take would be stored empty, or fail the
    // insert after the room was already checked out.
    for (auto [index, tag] : {std::pair{5, "room"}, {0, "guest number"}, {7, "last name"}, {8, "first name"},
                              {2, "arrival"}, {3, "departure"}})
        if (!db_text_storable(f[index], tag, "check-in record")) return std::nullopt;
    PmsGuest g;
    g.room = room;
    g.guest_no = f[0];
    g.first = f[8];
    g.last = f[7];
    g.arrival = f[2] + " 00:00:00";
    g.departure = f[3] + " 23:59:59";
    g.created = now_text;
    g.no_post = "0";
    g.resort_fee = "0";
    g.user_count = -1;
    return g;
}
