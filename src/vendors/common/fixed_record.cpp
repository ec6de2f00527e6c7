#include "vendors/common/fixed_record.h"

#include <algorithm>

namespace {

std::string_view strip_blanks(std::string_view s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string_view::npos) return {};
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

}  // namespace

std::string_view FixedRecord::get(std::string_view name) const {
    for (const auto& [n, v] : fields_)
        if (n == name) return v;
    return {};
}

std::string_view FixedRecord::stripped(std::string_view name) const { return strip_blanks(get(name)); }

size_t fixed_min_length(const FixedLayout& layout) {
    size_t need = 0;
    for (const auto& f : layout) need = std::max(need, f.pos + f.len);
    return need;
}

std::optional<FixedRecord> fixed_decode(std::string_view record, const FixedLayout& layout) {
    FixedRecord out;
    out.fields_.reserve(layout.size());
    for (const auto& f : layout) {
        // Written so that a huge pos or len cannot wrap around.
        if (f.pos > record.size() || f.len > record.size() - f.pos) return std::nullopt;
        out.fields_.emplace_back(f.name, std::string(record.substr(f.pos, f.len)));
    }
    return out;
}
