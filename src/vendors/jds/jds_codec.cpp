#include "vendors/jds/jds_codec.h"

#include <cmath>
#include <cstdio>

#include "vendors/common/control_bytes.h"

namespace jds {
namespace {

std::string strip(std::string_view s) {
    size_t b = s.find_first_not_of(' ');
    if (b == std::string_view::npos) return {};
    size_t e = s.find_last_not_of(' ');
    return std::string(s.substr(b, e - b + 1));
}

// Left-justified in `width`, like "%-Ns".
std::string pad(std::string_view s, size_t width) {
    std::string out(s);
    if (out.size() < width) out.append(width - out.size(), ' ');
    return out;
}

bool printable(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) return false;
    return true;
}

bool digits(std::string_view s) {
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return !s.empty();
}

int num(std::string_view s) {
    int v = 0;
    for (char c : s) v = v * 10 + (c - '0');
    return v;
}

bool seq_fits(std::string_view seq) { return seq.size() == kSeqWidth && printable(seq); }

}  // namespace

std::string seq_text(long seq) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%-5ld", ((seq % 100000) + 100000) % 100000);
    return buf;
}

std::string received_seq(std::string_view body) {
    // The long guest record keeps one character after its number.
    if (body.size() == kGuestInfoLong && body.substr(0, 2) == "53") return std::string(body.substr(117, kSeqWidth));
    if (body.size() >= kSeqWidth) return std::string(body.substr(body.size() - kSeqWidth));
    return pad(body, kSeqWidth);
}

std::string link_response(char code, std::string_view seq) {
    std::string body(1, code);
    body += pad(seq.substr(0, kSeqWidth), kSeqWidth);
    return stx_encode(body, kFrames);
}

std::optional<LinkResponse> decode_link_response(std::string_view b) {
    if (b.size() != kLinkResponseSize || b[0] != ctl::STX || b[7] != ctl::ETX) return std::nullopt;
    if (b[1] != ctl::ACK && b[1] != ctl::NAK) return std::nullopt;
    if (static_cast<unsigned char>(b[8]) != stx_lrc(b.substr(1, 7))) return std::nullopt;
    return LinkResponse{b[1], std::string(b.substr(2, kSeqWidth))};
}

bool room_fits(std::string_view room) {
    return !room.empty() && room.size() <= kRoomWidth && room.front() != ' ' && printable(room) &&
           room.find('|') == std::string_view::npos;
}

std::optional<std::string> post_record(std::string_view room, time_t start, double charge, std::string_view seq) {
    if (!room_fits(room) || !seq_fits(seq) || !std::isfinite(charge)) return std::nullopt;
    struct tm tm {};
    if (!localtime_r(&start, &tm)) return std::nullopt;
    char date[16], hm[8], amount[32];
    if (std::strftime(date, sizeof date, "%Y%m%d", &tm) != 8) return std::nullopt;
    std::strftime(hm, sizeof hm, "%H%M", &tm);
    // Cents, right-aligned in nine characters: a larger amount has no place.
    if (std::snprintf(amount, sizeof amount, "%9.0f", charge * 100) != 9) return std::nullopt;
    std::string r = "03" + pad(room, kRoomWidth) + std::string(7, ' ') + "99" + date + hm + std::string(6 + 20 + 36, ' ');
    r += amount;
    r += seq;
    return r;
}

std::optional<std::string> guest_info_request(std::string_view room, std::string_view seq) {
    if (!room_fits(room) || !seq_fits(seq)) return std::nullopt;
    return "12" + pad(room, kRoomWidth) + std::string(7, ' ') + std::string(seq);
}

std::optional<std::string> folio_request(std::string_view room, std::string_view seq) {
    if (!room_fits(room) || !seq_fits(seq)) return std::nullopt;
    return "11" + pad(room, kRoomWidth) + std::string(7, ' ') + std::string(seq);
}

std::optional<std::string> equipment_request(std::string_view room, std::string_view status, std::string_view seq) {
    if (!room_fits(room) || !seq_fits(seq) || status.empty() || status.size() > 2 || !printable(status))
        return std::nullopt;
    return "04" + pad(room, kRoomWidth) + std::string(12, ' ') + pad(status, 2) + std::string(seq);
}

std::string db_swap_request(std::string_view seq) { return "081" + std::string(13, ' ') + std::string(seq); }

std::string close_record(std::string_view seq) { return "02" + std::string(seq); }

std::optional<std::string> GuestInfo::stay_time() const {
    if (date.size() != 8 || !digits(date)) return std::nullopt;
    const int y = num(date.substr(0, 4)), m = num(date.substr(4, 2)), d = num(date.substr(6, 2));
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1900 || m < 1 || m > 12 || d < 1) return std::nullopt;
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (d > kDays[m - 1] + (m == 2 && leap ? 1 : 0)) return std::nullopt;
    std::string hm = strip(time).empty() ? "0000" : time;
    if (hm.size() != 4 || !digits(hm) || num(hm.substr(0, 2)) > 23 || num(hm.substr(2, 2)) > 59) return std::nullopt;
    return date.substr(0, 4) + "-" + date.substr(4, 2) + "-" + date.substr(6, 2) + " " + hm.substr(0, 2) + ":" +
           hm.substr(2, 2) + ":00";
}

std::optional<GuestInfo> decode_guest_info(std::string_view r) {
    if (r.size() != kGuestInfoShort && r.size() != kGuestInfoLong) return std::nullopt;
    GuestInfo g;
    g.room = strip(r.substr(2, 6));
    g.folio = strip(r.substr(8, 7));
    g.status = r[15];
    g.occupancy = r[16];
    g.name = strip(r.substr(17, 30));
    g.language = std::string(r.substr(47, 1));
    g.vip = std::string(r.substr(48, 1));
    g.new_room = strip(r.substr(49, 6));
    g.new_occupancy = r[55];
    g.swap = r[56];
    g.date = std::string(r.substr(57, 8));
    g.time = std::string(r.substr(65, 4));
    if (r.size() == kGuestInfoShort) {
        g.seq = std::string(r.substr(69, 5));
    } else {
        g.group = strip(r.substr(69, 8));
        g.title = strip(r.substr(77, 10));
        g.citizenship = strip(r.substr(87, 15));
        g.country = strip(r.substr(102, 15));
        g.seq = std::string(r.substr(117, 5));
    }
    return g;
}

std::optional<ClassOfService> decode_class_of_service(std::string_view r) {
    if (r.size() != kClassOfServiceSize) return std::nullopt;
    return ClassOfService{strip(r.substr(2, 6)), std::string(r.substr(8, 1)), std::string(r.substr(9, 5))};
}

}  // namespace jds
