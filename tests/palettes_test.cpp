// The palettes shipped in palettes/: each loads as RUVO_COLORS without a
// message, draws in its own colours, and keeps the promise of its design.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "e2e.hpp"
#include "palette.hpp"
#include "processes.hpp"
#include "reference.hpp"
#include "scratch_files.hpp"

#ifndef RUVO_PALETTE_DIR
#error "RUVO_PALETTE_DIR must name the palettes folder"
#endif

namespace ruvo::test {
namespace {

// Every palette in the folder: each file whose name has no dot.
std::vector<std::string> shipped()
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(RUVO_PALETTE_DIR)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && name.find('.') == std::string::npos)
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

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
    const auto names = shipped();
    ASSERT_FALSE(names.empty()) << "no palette in " << RUVO_PALETTE_DIR;
    for (const auto& name : names) {
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

// The README's gallery and the manual's list of installed palettes name
// exactly the palettes in the folder: none that does not exist, none left
// out.
TEST(shipped_palettes, TheDocsNameEveryPaletteAndNoOther)
{
    const auto names = shipped();
    const std::set<std::string> in_folder(names.begin(), names.end());

    const std::string readme = read_file(std::string(RUVO_PALETTE_DIR) + "/../README.md");
    std::set<std::string> in_gallery;
    static const std::regex gallery_row(
        R"(\| !\[\]\(docs/gallery/palette-([a-z0-9-]+)\.png\) \| \*\*([^*]+)\*\*)");
    for (std::sregex_iterator m(readme.begin(), readme.end(), gallery_row), end; m != end; ++m)
        if ((*m)[1] != "default" && (*m)[1] != "default-light") {
            in_gallery.insert((*m)[1]);
            EXPECT_EQ((*m)[1], (*m)[2]) << "a gallery row whose picture and name differ";
        }
    EXPECT_EQ(in_gallery, in_folder) << "the README's gallery";

    const std::string manual = read_file(std::string(RUVO_PALETTE_DIR) + "/../docs/ruvo.1");
    const std::size_t from = manual.find(".It Pa PREFIX/share/ruvo/palettes");
    const std::size_t to = manual.find(".It", from + 1);
    ASSERT_NE(from, std::string::npos) << "the manual lists no installed palettes";
    const std::string list = manual.substr(from, to - from);
    std::set<std::string> in_manual;
    static const std::regex entry(R"(\n\.Pa ([a-z0-9-]+)( ,|$|\n| \())");
    for (std::sregex_iterator m(list.begin(), list.end(), entry), end; m != end; ++m)
        if ((*m)[1] != "PREFIX")
            in_manual.insert((*m)[1]);
    EXPECT_EQ(in_manual, in_folder) << "the manual's FILES";
}

} // namespace
} // namespace ruvo::test
