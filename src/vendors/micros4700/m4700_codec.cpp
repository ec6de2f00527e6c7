#include "vendors/micros4700/m4700_codec.h"

#include <cmath>
#include <cstdio>

#include "vendors/common/control_bytes.h"

namespace m4700 {
namespace {

constexpr size_t kCodePos = 19;
constexpr size_t kDataPos = 21;
constexpr size_t kCheckDigits = 4;

std::string strip(std::string_view s) {
    size_t b = s.find_first_not_of(' ');
    if (b == std::string_view::npos) return {};
    size_t e = s.find_last_not_of(' ');
    return std::string(s.substr(b, e - b + 1));
}

std::string pad(std::string_view s, size_t width) {
    std::string out(s);
    if (out.size() < width) out.append(width - out.size(), ' ');
    return out;
}

bool printable(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e || c == '|') return false;
    return true;
}

// Name fields may carry letters of the PMS's own character set (bytes above
// 0x7e); control bytes would break the message they are sent back in.
bool name_text(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
    return true;
}

constexpr const char* kNoCharge[] = {"CASH-ONLY GUEST", "/VACANT ROOM", "/INVALID", "/NOPOST GUEST"};

}  // namespace

std::string check_value(std::string_view after_soh) {
    unsigned sum = 0;
    for (char c : after_soh) sum += static_cast<unsigned char>(c);
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04X", sum % 65536);
    return buf;
}

std::string encode(std::string_view text) {
    std::string body = std::string(kHeader) + ctl::STX + std::string(text) + ctl::ETX;
    return std::string(1, ctl::SOH) + body + check_value(body) + ctl::EOT;
}

bool room_fits(std::string_view room) {
    return !room.empty() && room.size() <= kRoomWidth && room.front() != ' ' && printable(room);
}

std::optional<std::string> names_request(std::string_view room) {
    if (!room_fits(room)) return std::nullopt;
    return " 1 " + pad(room, kRoomWidth) + "   0";
}

std::optional<std::string> post_text(std::string_view room, std::string_view name, int64_t seqno, double amount) {
    if (!room_fits(room) || name.size() > kNameWidth || !name_text(name) || !std::isfinite(amount))
        return std::nullopt;
    char seq[8], amt[32];
    std::snprintf(seq, sizeof seq, "%4ld", static_cast<long>(((seqno % 10000) + 10000) % 10000));
    if (std::snprintf(amt, sizeof amt, "% 10.2f", amount) != 10) return std::nullopt;
    std::string t = " 2 " + pad(room, kRoomWidth) + "    " + pad(name, kNameWidth) + "1" + "   1" + "   1" + "  1" +
                    "  1" + seq + "   1" + "   1" + "  1" + amt + amt;
    for (int i = 0; i < 11; ++i) t += "      0.00";
    return t;
}

std::optional<NamesAnswer> decode_names(std::string_view msg) {
    if (msg.size() < kDataPos + kCheckDigits) return std::nullopt;
    if (msg[kCodePos + 1] != '1' && msg[kCodePos + 1] != '2') return std::nullopt;
    std::string_view data = msg.substr(kDataPos, msg.size() - kDataPos - kCheckDigits);
    // The data ends with ETX before the check digits.
    if (!data.empty() && data.back() == ctl::ETX) data.remove_suffix(1);
    NamesAnswer a;
    for (size_t i = 0; i + kNameWidth <= data.size(); i += kNameWidth) {
        std::string n = strip(data.substr(i, kNameWidth));
        if (!name_text(n)) return std::nullopt;
        a.names.push_back(std::move(n));
    }
    return a;
}

bool cannot_charge(const NamesAnswer& a) {
    if (a.names.empty()) return false;
    for (const char* m : kNoCharge)
        if (std::string_view(a.names.front()).substr(0, std::string_view(m).size()) == m) return true;
    return false;
}

std::optional<PostAnswer> decode_post_answer(std::string_view msg) {
    if (msg.size() < kDataPos + kNameWidth) return std::nullopt;
    return PostAnswer{std::string(msg.substr(kCodePos, 2)), std::string(msg.substr(kDataPos, kNameWidth))};
}

SplitName split_name(std::string_view field) {
    size_t comma = field.find(',');
    if (comma == std::string_view::npos) return {strip(field), ""};
    return {strip(field.substr(0, comma)), strip(field.substr(comma + 1))};
}

}  // namespace m4700
