// The palettes shipped in palettes/: each loads as RUVO_COLORS without a
// message, draws in its own colours, and keeps the promise of its design.
#include <gtest/gtest.h>

#include <string>

#include "e2e.hpp"
#include "palette.hpp"
#include "support.hpp"

#ifndef RUVO_PALETTE_DIR
#error "RUVO_PALETTE_DIR must name the palettes folder"
#endif

namespace ruvo::test {
namespace {

const char* const shipped[] = {"gray", "classes", "viridis", "on-dark", "on-light"};

std::string path_of(const std::string& name)
{
    return std::string(RUVO_PALETTE_DIR) + "/" + name;
}

colour_table load(const std::string& name)
{
    std::string text = read_file(path_of(name));
    colour_table table{};
    const colours_result r = parse_colours(text.data(), table);
    EXPECT_EQ(r.status, colours_status::ok) << name;
    EXPECT_FALSE(r.excess) << name;
    return table;
}

// Relative luminance, in thousandths.
int luminance(colour c)
{
    return static_cast<int>(((c >> 16) & 0xff) * 2126 + ((c >> 8) & 0xff) * 7152 +
                            (c & 0xff) * 722) /
           2550;
}

TEST(shipped_palettes, DrawWithoutAMessage)
{
    const bytes data = random_bytes(1500, 9);
    const scratch dir({{"input", data}});
    for (const char* name : shipped) {
        const colour_table table = load(name);
        const run_result r =
            dir.run("RUVO_COLORS=\"$(cat '" + path_of(name) + "')\" $RUVO -w 32 input");
        EXPECT_EQ(r.err, "") << name;
        EXPECT_EQ(r.status, 0) << name;
        EXPECT_EQ(r.out, reference_dump(data, 0, 32, table)) << name;
    }
}

TEST(shipped_palettes, GrayIsTheByteValue)
{
    const colour_table gray = load("gray");
    for (unsigned v = 0; v < 256; ++v)
        EXPECT_EQ(gray[v], v * 0x010101u) << v;
}

// Within each class of bytes the colour gets lighter as the value rises;
// 0x00 and 0xFF stand apart as black and white.
TEST(shipped_palettes, ClassesLightenWithinEachClass)
{
    const colour_table classes = load("classes");
    EXPECT_EQ(classes[0x00], 0x000000u);
    EXPECT_EQ(classes[0xFF], 0xffffffu);
    const struct {
        const char* name;
        std::vector<unsigned> members;
    } groups[] = {
        {"white space", {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20}},
        {"control", {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x0E, 0x0F, 0x1F, 0x7F}},
        {"printable", {0x21, 0x30, 0x41, 0x5A, 0x61, 0x7A, 0x7E}},
        {"high", {0x80, 0x90, 0xC0, 0xE0, 0xFE}},
    };
    for (const auto& g : groups)
        for (std::size_t i = 1; i < g.members.size(); ++i)
            EXPECT_LT(luminance(classes[g.members[i - 1]]), luminance(classes[g.members[i]]))
                << g.name << " at " << g.members[i];
    // Neighbours across a class border get different colours: blank and
    // '!', '~' and DEL.
    EXPECT_NE(classes[0x20], classes[0x21]);
    EXPECT_NE(classes[0x7E], classes[0x7F]);
}

// A ramp whose lightness rises with every step stays readable without
// telling red from green.
TEST(shipped_palettes, ViridisLightnessRisesSteadily)
{
    const colour_table viridis = load("viridis");
    for (unsigned v = 16; v < 256; v += 16)
        EXPECT_LT(luminance(viridis[v - 16]), luminance(viridis[v])) << v;
}

// The palettes for dark and light terminals change one entry of the
// default each: the one that would vanish into the terminal's background,
// where cells past the end of the input show that background too.
TEST(shipped_palettes, BackgroundPalettesKeepTheByteApartFromTheBackground)
{
    const struct {
        const char* name;
        unsigned byte;
        int min_luminance, max_luminance; // thousandths
    } cases[] = {
        {"on-dark", 0x00, 150, 350},  // a dark grey, yet clearly not black
        {"on-light", 0xFF, 300, 650}, // a grey well below white
    };
    for (const auto& c : cases) {
        const colour_table table = load(c.name);
        const colour v = table[c.byte];
        EXPECT_TRUE(((v >> 16) & 0xff) == (v & 0xff) && ((v >> 8) & 0xff) == (v & 0xff))
            << c.name << ": not a grey";
        EXPECT_GE(luminance(v), c.min_luminance) << c.name;
        EXPECT_LE(luminance(v), c.max_luminance) << c.name;
        for (unsigned b = 0; b < 256; ++b) {
            if (b == c.byte)
                continue;
            EXPECT_EQ(table[b], default_palette[b]) << c.name << " at " << b;
            EXPECT_NE(table[b], v) << c.name << ": " << b << " looks the same";
        }
    }
}

} // namespace
} // namespace ruvo::test
