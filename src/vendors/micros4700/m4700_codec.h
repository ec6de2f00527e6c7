// Micros 4700 messages without I/O: SOH, header, STX, text, ETX, a four-digit
// hexadecimal sum, EOT; the names request and its answer of 16-character name
// fields; the posting and its answer. Decoders take any bytes and answer
// nullopt for anything that is not a sound answer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace m4700 {

inline constexpr char kHeader[] = "01Micros 4700 Sys.";  // 18 characters
inline constexpr size_t kNameWidth = 16;
inline constexpr size_t kRoomWidth = 16;

// Sum of the bytes after SOH up to and including ETX, modulo 65536, "%04X".
std::string check_value(std::string_view after_soh);
// SOH, header, STX, `text`, ETX, check value, EOT.
std::string encode(std::string_view text);

// True when `room` fits the 16-character room field: 1 to 16 printable
// characters without '|'.
bool room_fits(std::string_view room);
// The names request text (" 1", a space, the room in 16, "   0").
std::optional<std::string> names_request(std::string_view room);
// The posting text: room, the guest's name field, `seqno` modulo 10000 and
// the amount twice in "% 10.2f"; nullopt when a value does not fit.
std::optional<std::string> post_text(std::string_view room, std::string_view name, int64_t seqno, double amount);

// A received message: the text between SOH and EOT (header, STX, code at 19
// and 20, data, ETX, four check digits).
struct NamesAnswer {
    std::vector<std::string> names;  // stripped name fields, possibly none
};
// nullopt: too short, or a response code whose second character is not '1'
// or '2'.
std::optional<NamesAnswer> decode_names(std::string_view msg);
// True when the first name field says the room cannot be charged.
bool cannot_charge(const NamesAnswer& a);

struct PostAnswer {
    std::string type;    // positions 19-20
    std::string status;  // positions 21-36
    bool denied() const { return !status.empty() && status[0] == '\\'; }
    bool wants_account() const { return !status.empty() && status[0] == '?'; }
};
// nullopt when the message is too short to hold the status.
std::optional<PostAnswer> decode_post_answer(std::string_view msg);

// "LAST,FIRST" split and stripped; a field without a comma is a last name.
struct SplitName {
    std::string last, first;
};
SplitName split_name(std::string_view field);

}  // namespace m4700
