#include "utils/strutils.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/log.h"

static constexpr char kLogSrc[] = "utils/strutils";

namespace {

// Formatted texts of 65536 bytes or more are refused by the builders, so that
// a runaway argument cannot produce an unbounded record or statement.
constexpr size_t kMaxFormatted = 65536;

// nullopt on a formatting error or when the result would be kMaxFormatted
// bytes or longer.
__attribute__((format(printf, 1, 0))) std::optional<std::string> formatBounded(const char* fmt, va_list ap) {
    std::optional<std::string> out = strVFormat(fmt, ap);
    if (out && out->size() >= kMaxFormatted) return std::nullopt;
    return out;
}

// Shared by strStripQuotes and strStripSpaces; `what` names the character in
// the debug lines ("quote" / "space"), `plural` the all-of-them form.
bool stripEnds(std::string& text, char c, const char* what, const char* plural) {
    if (text.empty()) return false;
    if (text.front() != c && text.back() != c) {
        VLOG_DEBUG(4, 1000, "lead/trail %s strip - no %s [%s]", what, plural, text.c_str());
        return true;
    }
    size_t b = text.find_first_not_of(c);
    if (b == std::string::npos) {
        VLOG_DEBUG(4, 1000, "lead/trail %s strip - all %s [%s]", what, plural, text.c_str());
        text.clear();
        return true;
    }
    size_t e = text.find_last_not_of(c);
    std::string out = text.substr(b, e - b + 1);
    if (out.size() >= text.size()) {
        VLOG_DEBUG(4, 1000, "%s strip nl >= l, we didn't do anything", what);
        return true;
    }
    VLOG_DEBUG(4, 1000, "%s strip in[%s], out[%s], in len[%d], out len[%d]", what, text.c_str(),
               out.c_str(), static_cast<int>(text.size()), static_cast<int>(out.size()));
    text = std::move(out);
    return true;
}

}  // namespace

size_t strAppendFmt(std::string& s, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    auto piece = formatBounded(fmt, ap);
    va_end(ap);
    if (!piece) return 0;
    s += *piece;
    return s.size();
}

size_t strPutFmt(std::string& s, size_t offset, size_t width, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    auto piece = formatBounded(fmt, ap);
    va_end(ap);
    if (!piece || piece->size() < width) return 0;
    // A gap before `offset` is filled with blanks rather than left undefined.
    if (s.size() < offset) s.append(offset - s.size(), ' ');
    s.resize(offset);
    s.append(*piece, 0, width);
    return offset + width;
}

int strCount(std::string_view text, std::string_view needle) {
    if (needle.empty() || text.size() < needle.size()) return 0;
    int n = 0;
    for (size_t pos = text.find(needle); pos != std::string_view::npos;
         pos = text.find(needle, pos + needle.size()))
        ++n;
    return n;
}

std::vector<std::string> strSplit(std::string_view text, std::string_view sep) {
    std::vector<std::string> fields;
    if (text.empty()) return fields;
    if (sep.empty()) {
        fields.emplace_back(text);
        return fields;
    }
    if (text.substr(0, sep.size()) == sep) text.remove_prefix(sep.size());
    for (;;) {
        size_t pos = text.find(sep);
        if (pos == std::string_view::npos) {
            fields.emplace_back(text);
            return fields;
        }
        fields.emplace_back(text.substr(0, pos));
        text.remove_prefix(pos + sep.size());
    }
}

int strListAppend(StrList& list, std::string_view text) {
    list.emplace_back(text);
    return static_cast<int>(list.size());
}

std::optional<std::string> strShift(StrList& list) {
    VLOG_DEBUG(4, 1000, "Entering strShift");
    if (list.empty()) {
        VLOG_DEBUG(4, 1000, "strShift: nitems[%d] <= 0", 0);
        return std::nullopt;
    }
    std::string head = std::move(list.front());
    list.pop_front();
    int left = static_cast<int>(list.size());
    VLOG_DEBUG(4, 1000, "strShift: shifted off [%s]", head.c_str());
    VLOG_DEBUG(4, 1000, "strShift: nitems is now [%d]", left);
    if (left > 0)
        VLOG_DEBUG(4, 1000, "strShift: returning [%s], items left [%d]", head.c_str(), left);
    else
        VLOG_DEBUG(4, 1000, "strShift: returning [%s], no items left", head.c_str());
    return head;
}

void strListFree(StrList& list) { list.clear(); }

bool strStripQuotes(std::string& text) { return stripEnds(text, '"', "quote", "quotes"); }

bool strStripSpaces(std::string& text) { return stripEnds(text, ' ', "space", "spaces"); }

std::optional<std::string> strTrimRight(std::string_view text) {
    if (text.empty()) return std::nullopt;
    size_t e = text.find_last_not_of(" \t");
    if (e == std::string_view::npos) return std::string();
    return std::string(text.substr(0, e + 1));
}

bool strRemoveColonsFromMAC(std::string& text) {
    VLOG_DEBUG(4, 1000, "strRemoveColonsFromMAC in[%s]", text.c_str());
    if (text.size() != 17) {
        VLOG_DEBUG(4, 1000, "strRemoveColonsFromMAC invalid input string");
        return false;
    }
    std::string out;
    out.reserve(12);
    for (size_t i = 0; i < 17; i += 3) {
        out.push_back(text[i]);
        out.push_back(text[i + 1]);
    }
    VLOG_DEBUG(4, 1000, "strRemoveColonsFromMAC in[%s] out[%s]", text.c_str(), out.c_str());
    text = std::move(out);
    return true;
}

std::optional<std::string> strVFormat(const char* fmt, va_list ap) {
    char small[512];
    va_list copy;
    va_copy(copy, ap);
    int n = vsnprintf(small, sizeof small, fmt, copy);
    va_end(copy);
    if (n < 0) return std::nullopt;
    if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
    std::string out(static_cast<size_t>(n) + 1, '\0');
    vsnprintf(out.data(), out.size(), fmt, ap);
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string strFormat(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::optional<std::string> out = strVFormat(fmt, ap);
    va_end(ap);
    return out ? std::move(*out) : std::string();
}

std::string strDottedQuad(uint32_t network_order) {
    unsigned char b[4];
    memcpy(b, &network_order, sizeof b);
    std::string out;
    out.reserve(15);
    for (int i = 0; i < 4; ++i) {
        if (i) out.push_back('.');
        const unsigned v = b[i];
        if (v >= 100) out.push_back(static_cast<char>('0' + v / 100));
        if (v >= 10) out.push_back(static_cast<char>('0' + v / 10 % 10));
        out.push_back(static_cast<char>('0' + v % 10));
    }
    return out;
}
