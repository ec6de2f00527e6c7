// FIAS charge posting: the posting inquiry (PR ... IDELI answered by PL),
// PR and PS postings answered by PA, and the VIP discount table.
#pragma once

#include "db.h"

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "vendors/fias/fias_profile.h"
#include "vendors/fias/fias_record.h"
#include "vendors/fias/fias_settings.h"

struct PMSPostInfo;

// "/usr/local/Tessarine/etc/vornpms_vip.cfg" unless VIPFILE says otherwise.
inline constexpr const char* kFiasDefaultVipFile = kSetVipFile.default_text;

// Reads the VIP discount file into v.s.vip; false (logged) when the file is
// missing or not exactly ten valid "code percentage" lines.
bool fias_load_vip_table(FiasVendor& v);

// The first guest a PL named.
struct FiasInquiryResult {
    std::optional<std::string> guest_no;
    std::optional<std::string> last_name;
    std::optional<std::string> vip;
};

// Posting inquiry for `room`. 0 when a PL answered, else 4 with `error` set.
// With `update`, the PL's guests replace the room's rows in pms_guests.
ReqResult fias_send_post_inquiry(FiasVendor& v, const std::string& room, const std::string& workstation,
                           FiasInquiryResult& out, std::string& error, bool update);

// Posts one charge: 0 posted, 4 not posted with `error` set.
ReqResult fias_handle_post_charge(FiasVendor& v, const PMSPostInfo& post, std::string& error);

// Guest values collected from a GI, GC or PL record.
struct FiasGuestFields {
    std::string room, guest_no, last, first, vip, language, group;
    std::string arrival, departure, da, ti;  // as the PMS sent them
    std::string no_post;
    std::string resort_fee;  // RF, taken only by a vendor that reads it
    FiasUserStrings user;
};
// Takes one field into `g`; false when the tag is not a guest field.
bool fias_take_guest_field(FiasGuestFields& g, const FiasField& f);
// DEPARTURE_TIME_OFFSET as HHMMSS; "000000" when absent or short.
std::string fias_departure_offset();
// The occupancy row of `g`, with the arrival, departure and record date-times
// converted for the database (departure at DEPARTURE_TIME_OFFSET); nullopt,
// logged, when one of them fails or a text cannot be stored.
std::optional<PmsGuest> fias_guest_row(const FiasGuestFields& g);

// True when the database can store every value (tag, text) of `what`;
// otherwise logs the first field it cannot and returns false.
bool fias_storable(std::initializer_list<std::pair<const char*, const std::string*>> fields, std::string_view what);

// A PA that answers the last posting given up on (v.s.unanswered): an OK marks
// that charge posted (the PMS took it), another status forgets it. True when
// `rec` was that answer.
bool fias_take_late_answer(FiasVendor& v, const FiasRecord& rec);
