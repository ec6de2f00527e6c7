#include "vendors/nitevision/nv_guest_file.h"

namespace {

constexpr size_t kFields = 8;
constexpr size_t kDateLength = 19;  // "YYYY-MM-DD HH:MM:SS"

std::vector<std::string_view> split_all(std::string_view row, char sep) {
    std::vector<std::string_view> out;
    size_t start = 0;
    for (;;) {
        size_t at = row.find(sep, start);
        out.push_back(row.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
        if (at == std::string_view::npos) return out;
        start = at + 1;
    }
}

// Leading and trailing double quotes removed.
std::string unquoted(std::string_view f) {
    size_t b = f.find_first_not_of('"');
    if (b == std::string_view::npos) return {};
    size_t e = f.find_last_not_of('"');
    return std::string(f.substr(b, e - b + 1));
}

std::string date_field(std::string_view f) {
    std::string d = unquoted(f);
    if (d.size() > kDateLength) d.resize(kDateLength);
    return d.empty() ? std::string(kNvNoDate) : d;
}

}  // namespace

NvGuestFile nv_parse_guest_file(std::string_view text) {
    NvGuestFile file;
    for (std::string_view row : split_all(text, '\n')) {
        ++file.rows;
        if (!row.empty() && row.back() == '\r') row.remove_suffix(1);
        if (row.empty()) continue;
        std::vector<std::string_view> f = split_all(row, '|');
        if (f.size() != kFields) {
            file.bad_rows.emplace_back(row);
            continue;
        }
        NvGuestEntry g;
        g.first = unquoted(f[1]);
        g.last = unquoted(f[2]);
        g.phone = unquoted(f[3]);
        g.room = unquoted(f[4]);
        g.arrival = date_field(f[5]);
        g.departure = date_field(f[6]);
        g.checkin = date_field(f[7]);
        // A heading row names no guest: it must not count as one.
        if (g.room.empty() || g.room.rfind("ROOM", 0) == 0) {
            ++file.headings;
            continue;
        }
        file.guests.push_back(std::move(g));
    }
    return file;
}
