#include "range.hpp"

#include <cinttypes>
#include <cstdlib>
#include <cstring>

namespace ruvo {

namespace {

static_assert(sizeof(std::intmax_t) == sizeof(std::int64_t),
              "numbers saturate at the largest 64-bit value");

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// strtoimax in base 0 for a number that must begin with a digit.  0b is
// not taken as a binary prefix, whatever the C library: "0b1" reads as 0
// and stops at the b, as the classic conversion does.
bool convert_number(const char* s, std::int64_t* value, const char** end)
{
    if (!is_digit(s[0]))
        return false;
    if (s[0] == '0' && (s[1] == 'b' || s[1] == 'B')) {
        *value = 0;
        *end = s + 1;
        return true;
    }
    char* stop = nullptr;
    *value = std::strtoimax(s, &stop, 0);
    *end = stop;
    return true;
}

} // namespace

range_result parse_range(const char* text)
{
    range_result r;
    const std::size_t d = std::strcspn(text, "+-");
    if (text[d] == '\0') {
        r.error = range_error::no_delimiter;
        return r;
    }
    const char* end = nullptr;

    const bool have_start = d != 0;
    r.start = 0;
    if (have_start && (!convert_number(text, &r.start, &end) || end != text + d)) {
        r.error = range_error::invalid_start;
        return r;
    }

    const char* rest = text + d + 1;
    const bool have_second = *rest != '\0';
    std::int64_t second = -1;
    if (have_second && (!convert_number(rest, &second, &end) || *end != '\0')) {
        r.error = range_error::invalid_end;
        return r;
    }

    if (text[d] == '+') {
        if (!have_start) {
            r.error = range_error::start_unspecified;
            return r;
        }
        if (!have_second) {
            r.error = range_error::size_unspecified;
            return r;
        }
        // Two's complement sum: past INT64_MAX it wraps negative and fails
        // the check below.
        r.end = static_cast<std::int64_t>(static_cast<std::uint64_t>(r.start) +
                                          static_cast<std::uint64_t>(second));
    } else {
        r.end = second;
    }
    if (r.end != -1 && r.end < r.start)
        r.error = range_error::end_before_start;
    return r;
}

} // namespace ruvo
