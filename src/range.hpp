// The range argument of -r: "START-END" or "START+SIZE", read into the
// first byte to show and one past the last.
#ifndef RUVO_RANGE_HPP
#define RUVO_RANGE_HPP

#include <cstdint>

namespace ruvo {

// Which check a range argument failed, in the order they are made.
enum class range_error {
    none,
    no_delimiter,      // neither '+' nor '-'
    invalid_start,     // START is not a number up to the delimiter
    invalid_end,       // END or SIZE is not a number up to the end
    start_unspecified, // "+SIZE" or "+"
    size_unspecified,  // "START+"
    end_before_start,  // END (or START+SIZE, wrapped) below START
};

struct range_result {
    range_error error = range_error::none;
    std::int64_t start = 0; // first byte shown, never negative
    std::int64_t end = -1;  // one past the last byte, or -1 for EOF
};

// Reads "START-END" (either number may be left out) or "START+SIZE".
// Numbers take a C prefix for their base (0x hex, 0 octal) and must begin
// with a digit; too large a number saturates at INT64_MAX.
range_result parse_range(const char* text);

} // namespace ruvo

#endif
