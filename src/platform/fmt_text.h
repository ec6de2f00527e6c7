// Log texts kept as data (a vendor profile's texts) are printf formats the
// compiler cannot see at the call. FmtText<Args...> checks its text against
// the argument types at compile time instead, so that a wrong conversion in a
// table is a build error, and the log calls that take one stay checked with
// -Wformat=2 on.
#pragma once

#include <cstddef>
#include <string>
#include <type_traits>

#include "platform/log.h"
#include "utils/strutils.h"

// clang before 15 leaves a consteval call in a default member initialiser
// unevaluated and the link fails; there the check runs as constexpr (the
// GCC build still enforces it).
#if defined(__clang__) && __clang_major__ < 15
#define VORN_FMT_CHECKED constexpr
#else
#define VORN_FMT_CHECKED consteval
#endif

namespace fmt_detail {

enum class Kind { Int, Long, Double, CString, Char, Bad };

template <class T>
consteval Kind kind_of() {
    using U = std::remove_cv_t<T>;
    if constexpr (std::is_same_v<U, const char*> || std::is_same_v<U, char*>)
        return Kind::CString;
    else if constexpr (std::is_same_v<U, char>)
        return Kind::Char;
    else if constexpr (std::is_same_v<U, long> || std::is_same_v<U, unsigned long>)
        return Kind::Long;
    else if constexpr (std::is_integral_v<U>)
        return Kind::Int;
    else if constexpr (std::is_floating_point_v<U>)
        return Kind::Double;
    else
        return Kind::Bad;
}

// The kind each conversion of `f` takes, in order; false when `f` does not
// take exactly `kinds`. Flags, width and precision are skipped ('*' is refused).
VORN_FMT_CHECKED bool matches(const char* f, const Kind* kinds, std::size_t n) {
    std::size_t used = 0;
    for (std::size_t i = 0; f[i] != '\0'; ++i) {
        if (f[i] != '%') continue;
        ++i;
        if (f[i] == '%') continue;
        while (f[i] == '-' || f[i] == '+' || f[i] == ' ' || f[i] == '#' || f[i] == '0') ++i;
        while (f[i] >= '0' && f[i] <= '9') ++i;
        if (f[i] == '.') {
            ++i;
            while (f[i] >= '0' && f[i] <= '9') ++i;
        }
        bool is_long = false;
        if (f[i] == 'l') {
            is_long = true;
            ++i;
        }
        Kind want = Kind::Bad;
        switch (f[i]) {
            case 'd':
            case 'i':
            case 'u':
            case 'x':
            case 'X':
                want = is_long ? Kind::Long : Kind::Int;
                break;
            case 'c':
                want = Kind::Char;
                break;
            case 's':
                want = Kind::CString;
                break;
            case 'f':
            case 'e':
            case 'g':
                want = Kind::Double;
                break;
            default:
                return false;
        }
        if (used >= n) return false;
        const Kind got = kinds[used++];
        // A char argument is promoted to int: %d and %c both take it.
        const bool ok = got == want || (want == Kind::Int && got == Kind::Char) ||
                        (want == Kind::Char && got == Kind::Int);
        if (!ok) return false;
    }
    return used == n;
}

}  // namespace fmt_detail

template <class... Args>
class FmtText {
  public:
    // Not explicit: a profile writes its texts as plain literals.
    VORN_FMT_CHECKED FmtText(const char* text) : text_(text) {
        constexpr fmt_detail::Kind kinds[sizeof...(Args) + 1] = {fmt_detail::kind_of<Args>()...,
                                                                 fmt_detail::Kind::Bad};
        if (!fmt_detail::matches(text, kinds, sizeof...(Args)))
            throw "log text does not match its arguments";  // not a constant expression: a build
                                                            // error
    }
    constexpr const char* text() const { return text_; }

  private:
    const char* text_;
};

// The logging calls for checked texts. The text was checked when the FmtText
// was made, which the compiler's own check cannot see.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
template <class... Args>
void vlog_debug_text(const char* src, int line, int level, const FmtText<Args...>& fmt,
                     std::type_identity_t<Args>... args) {
    vornMSG_DebugFL(src, line, level, 0, fmt.text(), args...);
}
// The formatted text, as strFormat gives it.
template <class... Args>
std::string fmt_string(const FmtText<Args...>& fmt, std::type_identity_t<Args>... args) {
    return strFormat(fmt.text(), args...);
}
template <class... Args>
void vlog_error_text(const char* src, int line, const FmtText<Args...>& fmt,
                     std::type_identity_t<Args>... args) {
    vornMSG_ErrorFL(src, line, 0, fmt.text(), args...);
}
#pragma GCC diagnostic pop

#define VLOG_DEBUG_TEXT(level, fmt, ...) \
    vlog_debug_text(kLogSrc, __LINE__, (level), (fmt), __VA_ARGS__)
#define VLOG_ERROR_TEXT(fmt, ...) vlog_error_text(kLogSrc, __LINE__, (fmt), __VA_ARGS__)
