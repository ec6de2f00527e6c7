// JDS records without I/O: the bodies the daemon sends, the 9-byte ACK/NAK
// frame both sides exchange, and the guest-information ("53") and
// class-of-service ("59") records the PMS sends. Decoders take any bytes and
// answer nullopt for anything that is not a sound record.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "vendors/common/stx_frame.h"

namespace jds {

// STX, body, ETX, LRC of body and ETX; no other byte stands for the LRC.
inline constexpr FrameRules kFrames{.lrc = true, .lrc_covers_etx = true, .lf_as_lrc = false, .cr_as_lrc = false};

inline constexpr size_t kRoomWidth = 6;
inline constexpr size_t kSeqWidth = 5;
inline constexpr size_t kLinkResponseSize = 9;
inline constexpr size_t kGuestInfoShort = 74;
inline constexpr size_t kGuestInfoLong = 123;
inline constexpr size_t kClassOfServiceSize = 14;
inline constexpr size_t kFolioLineSize = 82;
inline constexpr size_t kGuestAnswerSize = 29;

// The sequence number as records carry it: "%-5d" of `seq` modulo 100000.
std::string seq_text(long seq);

// The sequence number a received body is acknowledged with, read where its
// layout keeps it: positions 117-121 of a 123-character "53", the last five
// characters of any other record (space-padded when shorter).
std::string received_seq(std::string_view body);

// The link response: STX, ACK or NAK, five-character sequence number, ETX, LRC.
std::string link_response(char code, std::string_view seq);
struct LinkResponse {
    char code;        // ACK or NAK
    std::string seq;  // five characters
};
// A 9-byte link response with its LRC right; nullopt otherwise.
std::optional<LinkResponse> decode_link_response(std::string_view bytes);

// True when `room` fits a six-character room field of a record we send:
// 1 to 6 printable characters, no '|', no space at the front.
bool room_fits(std::string_view room);

// Records the daemon sends; `seq` is the already formatted sequence number.
// nullopt when a value does not fit its field.
std::optional<std::string> post_record(std::string_view room, time_t start, double charge, std::string_view seq);
std::optional<std::string> guest_info_request(std::string_view room, std::string_view seq);
std::optional<std::string> folio_request(std::string_view room, std::string_view seq);
std::optional<std::string> equipment_request(std::string_view room, std::string_view status, std::string_view seq);
std::string db_swap_request(std::string_view seq);
std::string close_record(std::string_view seq);

struct GuestInfo {
    std::string room, folio;
    char status = 0, occupancy = 0;
    std::string name, language, vip, new_room;
    char new_occupancy = 0, swap = 0;
    std::string date, time;  // as received, 8 and 4 characters
    std::string group, title, citizenship, country, seq;
    // "YYYY-MM-DD HH:MM:00" from date and time; nullopt when they are no real
    // calendar date and clock time (a time of spaces counts as 00:00).
    std::optional<std::string> stay_time() const;
};
// A "53" record of 74 or 123 characters; nullopt for any other length.
std::optional<GuestInfo> decode_guest_info(std::string_view rec);

struct ClassOfService {
    std::string room;  // stripped, as the guest rows hold it
    std::string cos;   // one character
    std::string seq;
};
// A "59" record of exactly 14 characters; nullopt otherwise.
std::optional<ClassOfService> decode_class_of_service(std::string_view rec);

}  // namespace jds
