// The default palette, and RUVO_COLORS: the tokens, the separators, the
// count rules and what strtol lets through.
#include <gtest/gtest.h>

#include <string>

#include "palette.hpp"

namespace ruvo {
namespace {

// n colours: entry i is i * 0x010101, or `bad` in place of entry bad_at.
std::string colours(std::size_t n, const std::string& sep = "\n", std::size_t bad_at = ~0u,
                    const std::string& bad = "")
{
    std::string s;
    char tok[8];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(tok, sizeof tok, "%06zx", (i & 0xff) * 0x010101);
        s += (i == bad_at ? bad : std::string(tok)) + sep;
    }
    return s;
}

struct outcome {
    colours_status status;
    std::size_t count;
    std::string token; // for bad_token
    bool excess;
};

outcome parse(std::string text, colour_table& table)
{
    const colours_result r = parse_colours(text.data(), table);
    return {r.status, r.count, r.token != nullptr ? r.token : "", r.excess};
}

TEST(ParseColours, CountsTokensAndSeparators)
{
    using enum colours_status;
    const struct {
        const char* name;
        std::string text;
        outcome want;
    } cases[] = {
        {"empty", "", {too_few, 0, "", false}},
        {"only separators", " \n\r\v \n", {too_few, 0, "", false}},
        {"255 colours", colours(255), {too_few, 255, "", false}},
        {"256 by newline", colours(256), {ok, 256, "", false}},
        {"256 by CR LF", colours(256, "\r\n"), {ok, 256, "", false}},
        {"256 by vertical tab", colours(256, "\v"), {ok, 256, "", false}},
        {"256 by blanks", colours(256, "  "), {ok, 256, "", false}},
        {"leading and trailing separators", "\n \r" + colours(256, " \n"), {ok, 256, "", false}},
        {"257 valid", colours(257), {ok, 256, "", true}},
        {"290th of 300 invalid", colours(300, "\n", 289, "nothex"), {ok, 256, "", true}},
        {"257th invalid", colours(257, "\n", 256, "zzzzzz"), {bad_token, 256, "zzzzzz", false}},
        {"first invalid", colours(256, "\n", 0, "12345"), {bad_token, 0, "12345", false}},
        {"tab separated",
         "000000\t111111\t222222",
         {bad_token, 0, "000000\t111111\t222222", false}},
        {"five characters", colours(256, "\n", 3, "abcde"), {bad_token, 3, "abcde", false}},
        {"seven characters", colours(256, "\n", 3, "abcdef0"), {bad_token, 3, "abcdef0", false}},
        {"form feed is no separator",
         colours(256, "\f"),
         {bad_token, 0, colours(256, "\f").substr(0, 256 * 7), false}},
    };
    for (const auto& c : cases) {
        colour_table table{};
        const outcome got = parse(c.text, table);
        EXPECT_EQ(got.status, c.want.status) << c.name;
        EXPECT_EQ(got.count, c.want.count) << c.name;
        EXPECT_EQ(got.token, c.want.token) << c.name;
        EXPECT_EQ(got.excess, c.want.excess) << c.name;
    }
}

TEST(ParseColours, StoresEveryEntryInOrder)
{
    colour_table table{};
    ASSERT_EQ(parse(colours(257), table).status, colours_status::ok);
    for (std::size_t i = 0; i < table.size(); ++i)
        ASSERT_EQ(table[i], i * 0x010101u) << i;
}

// A mebibyte of text: the first 256 colours count, the rest is not read.
TEST(ParseColours, LargeText)
{
    std::string text = colours(256) + std::string(1 << 20, '\n');
    colour_table table{};
    EXPECT_EQ(parse(text, table).status, colours_status::ok);
    text = colours(150000) + "not-a-colour";
    const outcome got = parse(text, table);
    EXPECT_EQ(got.status, colours_status::ok);
    EXPECT_TRUE(got.excess);
    EXPECT_EQ(table[255], 0xffffffu);
}

// Tokens that strtol converts whole in base 16 count, as it reads them.
TEST(ParseColours, TokensAsStrtolReadsThem)
{
    const struct {
        const char* token;
        colour value;
    } cases[] = {
        {"AbCdEf", 0xabcdef},   {"abcdef", 0xabcdef},
        {"ABCDEF", 0xabcdef},   {"0x1234", 0x1234},
        {"0X00ff", 0xff},       {"+12345", 0x12345},
        {"-00001", 0xffffffff}, {"\t12345", 0x12345},
        {"\f0000a", 0xa},       {"-0x123", static_cast<colour>(-0x123)},
    };
    for (const auto& c : cases) {
        colour_table table{};
        const outcome got = parse(std::string(c.token).append("\n").append(colours(255)), table);
        EXPECT_EQ(got.status, colours_status::ok) << c.token;
        EXPECT_EQ(table[0], c.value) << c.token;
    }
    for (const char* bad : {"0x12g4", "12 345", "--1234", "1234-5", "0x    ", "0x"}) {
        colour_table table{};
        const std::string text = std::string(bad).append("\n").append(colours(255));
        const outcome got = parse(text, table);
        EXPECT_EQ(got.status, colours_status::bad_token) << bad;
    }
}

// The default table, entry by entry where it breaks its own pattern.
TEST(Palette, DefaultEntriesAreTheTable)
{
    const struct {
        unsigned byte;
        colour value;
    } cases[] = {
        {0x00, 0x000000}, {0x0F, 0xfe9595}, {0x10, 0x4c1600}, {0x41, 0x395600},
        {0x8E, 0x79ffff}, {0x8F, 0x95fffe}, {0x8A, 0x0ffffe}, {0x3F, 0xfffe95},
        {0xE9, 0xf500f5}, {0xEA, 0xfe0fff}, {0xEF, 0xfe95fe}, {0xF0, 0x4c0032},
        {0xFE, 0xff79d2}, {0xFF, 0xffffff}, {0x7B, 0x28ff70}, {0xC5, 0x33009b},
    };
    for (const auto& c : cases)
        EXPECT_EQ(default_palette[c.byte], c.value) << "byte " << std::hex << c.byte;
}

} // namespace
} // namespace ruvo
