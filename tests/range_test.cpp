// The range argument: both forms, the bases, saturation, and which check
// decides the error.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "range.hpp"

namespace ruvo {
namespace {

constexpr std::int64_t int64_max = std::numeric_limits<std::int64_t>::max();

TEST(ParseRange, Accepted)
{
    const struct {
        const char* text;
        std::int64_t start, end;
    } cases[] = {
        {"0x100-0x200", 256, 512},
        {"16+16", 16, 32},
        {"100-", 100, -1},
        {"-64", 0, 64},
        {"-", 0, -1},
        {"010-020", 8, 16},
        {"0X1F+1", 31, 32},
        {"5-5", 5, 5},
        {"7+0", 7, 7},
        {"0-0", 0, 0},
        {"99999999999999999999-", int64_max, -1},
        {"0-99999999999999999999", 0, int64_max},
        {"9223372036854775806+1", int64_max - 1, int64_max},
    };
    for (const auto& c : cases) {
        const range_result r = parse_range(c.text);
        EXPECT_EQ(r.error, range_error::none) << c.text;
        EXPECT_EQ(r.start, c.start) << c.text;
        EXPECT_EQ(r.end, c.end) << c.text;
    }
}

TEST(ParseRange, RejectedByTheFirstFailingCheck)
{
    const struct {
        const char* text;
        range_error error;
    } cases[] = {
        {"1024", range_error::no_delimiter},
        {"", range_error::no_delimiter},
        {"0x10", range_error::no_delimiter},
        {"a-10", range_error::invalid_start},
        {"1 -5", range_error::invalid_start},
        {" 1-5", range_error::invalid_start},
        {"08-10", range_error::invalid_start}, // octal stops at the 8
        {"0b1-5", range_error::invalid_start}, // no binary prefix
        {"0B1-5", range_error::invalid_start},
        {"0b-5", range_error::invalid_start}, // stops at the b, not at the delimiter
        {"0x-5", range_error::invalid_start},
        {"10-a", range_error::invalid_end},
        {"1-2-3", range_error::invalid_end},
        {"0- 20", range_error::invalid_end},
        {"1-0b11", range_error::invalid_end},
        {"1-0b", range_error::invalid_end},
        {"1--5", range_error::invalid_end},
        {"1+-5", range_error::invalid_end},
        {"+a", range_error::invalid_end}, // not "start unspecified": END is checked first
        {"a+", range_error::invalid_start},
        {"+8", range_error::start_unspecified},
        {"+", range_error::start_unspecified},
        {"8+", range_error::size_unspecified},
        {"20-10", range_error::end_before_start},
        {"99999999999999999999+1", range_error::end_before_start}, // the sum wraps
        {"9223372036854775807+9223372036854775807", range_error::end_before_start},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parse_range(c.text).error, c.error) << '"' << c.text << '"';
}

} // namespace
} // namespace ruvo
