// Records whose fields sit at fixed positions (columns): a layout names each
// field's position and width, and decoding a record cuts every field out or
// refuses the record as a whole when it is too short for the layout.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct FixedField {
    std::string_view name;
    size_t pos;  // 0-based
    size_t len;
};

using FixedLayout = std::vector<FixedField>;

class FixedRecord {
public:
    // The field named `name` as cut from the record; empty when the layout
    // has no such field.
    std::string_view get(std::string_view name) const;
    // The same with leading and trailing blanks removed.
    std::string_view stripped(std::string_view name) const;
    // Every field in layout order.
    const std::vector<std::pair<std::string_view, std::string>>& fields() const { return fields_; }

private:
    friend std::optional<FixedRecord> fixed_decode(std::string_view record, const FixedLayout& layout);
    std::vector<std::pair<std::string_view, std::string>> fields_;
};

// Smallest record length that holds every field of the layout.
size_t fixed_min_length(const FixedLayout& layout);

// Cuts every field of `layout` out of `record`; nullopt when the record ends
// before the last byte of any field.
std::optional<FixedRecord> fixed_decode(std::string_view record, const FixedLayout& layout);
