// Outside text meant for a terminal, with its control characters
// neutralised.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "processes.hpp"
#include "reference.hpp"
#include "scratch_files.hpp"
#include "visible.hpp"

namespace ruvo {
namespace {

using test::printable;

// Outside text for a terminal: every control character becomes one '?',
// everything else (UTF-8, and bytes that are no UTF-8 and no control)
// stays as it is.
TEST(NeutraliseControls, ControlCharactersBecomeQuestionMarks)
{
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"plain name.txt", "plain name.txt"},
        {"\033]0;pwned\a", "?]0;pwned?"},
        {"\033[2J", "?[2J"},
        {"line\nbreak\ttab\rcr", "line?break?tab?cr"},
        {"del\x7f", "del?"},
        {"c1 \xc2\x80 \xc2\x9b \xc2\x9f", "c1 ? ? ?"}, // U+0080, U+009B, U+009F
        {"raw c1 \x80\x9b\x9f", "raw c1 ???"},
        {"not c1 \xc2\xa0 \xc2\xbf", "not c1 \xc2\xa0 \xc2\xbf"}, // U+00A0, U+00BF
        {"caf\xc3\xa9 \xe6\x97\xa5 \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe6\x97\xa5 \xf0\x9f\x98\x80"},
        {"bad \xff\xfe \xc3", "bad \xff\xfe \xc3"},
        {"overlong \xc0\x9b", "overlong \xc0?"},      // C0 starts nothing
        {"cut \xe2\x80", "cut \xe2?"},                // no third byte
        {"\xe2\x80\x9b quote", "\xe2\x80\x9b quote"}, // U+201B, whole
        {"surrogate \xed\xa0\x80", "surrogate \xed\xa0?"},
        {"\xc2", "\xc2"},
        {"", ""},
    };
    for (const auto& c : cases) {
        std::string buf(std::strlen(c.in) + 1, 'x');
        const std::size_t n = neutralise_controls(buf.data(), c.in);
        EXPECT_EQ(std::string(buf.c_str()), c.out) << "from " << printable(c.in);
        EXPECT_EQ(n, std::strlen(c.out));
        // In place, as the option letters are rewritten.
        std::string same = c.in;
        neutralise_controls(same.data(), same.c_str());
        EXPECT_EQ(std::string(same.c_str()), c.out) << "in place, from " << printable(c.in);
    }
}

// Every bound of a well-formed UTF-8 sequence, and the value beside it.
// The trailing 0x85 is a C1 control when it stands alone, so a sequence
// taken one byte too short or too long shows up as a '?' more or less.
TEST(NeutraliseControls, UTF8BoundsAndTheirNeighbours)
{
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"\xc1\x85", "\xc1?"},                    // C1: no lead byte
        {"\xc2\x85", "?"},                        // C2: U+0085, a control
        {"\xdf\x85", "\xdf\x85"},                 // DF: the last 2-byte lead
        {"\xe0\xa0\x85", "\xe0\xa0\x85"},         // E0: a 3-byte lead, A0 its least
        {"\xe0\x9f\x85", "\xe0??"},               // E0 9F: overlong
        {"\xef\x85\x85", "\xef\x85\x85"},         // EF: the last 3-byte lead
        {"\xed\x9f\x85", "\xed\x9f\x85"},         // ED 9F: below the surrogates
        {"\xed\xa0\x85", "\xed\xa0?"},            // ED A0: a surrogate
        {"\xf0\x90\x85\x85", "\xf0\x90\x85\x85"}, // F0: a 4-byte lead, 90 its least
        {"\xf0\x8f\x85\x85", "\xf0???"},          // F0 8F: overlong
        {"\xf4\x8f\x85\x85", "\xf4\x8f\x85\x85"}, // F4 8F: U+10FFFF's neighbourhood
        {"\xf4\x90\x85\x85", "\xf4???"},          // F4 90: above U+10FFFF
        {"\xf5\x80\x85\x85", "\xf5???"},          // F5: no lead byte
        {"\xe1\x80\x85", "\xe1\x80\x85"},         // continuation: 80 the least
        {"\xe1\x7f\x85", "\xe1??"},               // 7F is none
        {"\xe1\xbf\x85", "\xe1\xbf\x85"},         // BF the greatest
        {"\xe1\xc0\x85", "\xe1\xc0?"},            // C0 is none
        {"\xe1\x85\x80", "\xe1\x85\x80"},         // the same for a third byte
        {"\xe1\x85\x7f", "\xe1??"},
        {"\xe1\x85\xbf", "\xe1\x85\xbf"},
        {"\xe1\x85\xc0", "\xe1?\xc0"},
    };
    for (const auto& c : cases) {
        std::string buf(std::strlen(c.in) + 1, 'x');
        neutralise_controls(buf.data(), c.in);
        EXPECT_EQ(printable(buf.c_str()), printable(c.out)) << "from " << printable(c.in);
    }
}

} // namespace
} // namespace ruvo
