// The renderer against the reference renderer, and the dumper's ranges on
// files and pipes, through its function interface.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "dump_fixture.hpp"
#include "render.hpp"
#include "processes.hpp"
#include "reference.hpp"
#include "scratch_files.hpp"

namespace ruvo {
namespace {

// The fixture and the reference renderer.
using namespace test;

// The dumper's drawing, one suite.
struct render_dump : dump_fixture {};

constexpr std::uint64_t max_width = std::numeric_limits<std::int64_t>::max();

TEST_F(render_dump, WorkedExampleThreeBytesWidthTwo)
{
    settings.width = 2;
    const int in = seekable({0x00, 0xff, 0x41});
    const std::string expected = "    0000 "
                                 "\033[38;2;0;0;0m\033[48;2;57;86;0m\u2580"
                                 "\033[0m\033[38;2;255;255;255m\u2580"
                                 "\033[m\n";
    EXPECT_EQ(printable(dump_to_string(in)), printable(expected));
    close(in);
}

// The guard of the fast path: every width class (1, powers of two, widths
// that do not divide the chunk, wider than a chunk, the largest) and
// lengths on both sides of every row-pair and chunk boundary.
TEST_F(render_dump, MatchesReferenceAcrossWidthsAndLengths)
{
    const std::uint64_t widths[] = {1,   2,   3,    63,   64,   96,       511,
                                    512, 513, 1023, 1024, 5000, max_width};
    for (std::uint64_t w : widths) {
        std::vector<std::size_t> lengths = {0,    1,    2,    3,    1023, 1024,
                                            1025, 1500, 2047, 2048, 2049, 3072 + 77};
        for (std::uint64_t edge : {w, 2 * w}) {
            if (edge > 4096)
                continue;
            for (std::size_t d : {edge - 1, edge, edge + 1, 1024 + edge})
                lengths.push_back(d);
        }
        for (std::size_t n : lengths) {
            const bytes data = test::random_bytes(n, static_cast<std::uint32_t>(n + w));
            settings.width = w;
            const int in = seekable(data);
            const std::string got = dump_to_string(in);
            close(in);
            const std::string want = reference_dump(data, 0, w, default_palette);
            ASSERT_EQ(got, want) << "width " << w << ", length " << n;
        }
    }
}

// A width of 0 never comes from the command line; should a caller pass
// one, it draws as width 1 instead of looping for ever.
TEST(RenderChunk, WidthZeroDrawsAsWidthOne)
{
    cell_strings cells{};
    prepare_cells(default_palette, cells);
    static char zero[chunk_text_max];
    static char one[chunk_text_max];
    const bytes data = test::random_bytes(301, 17);
    const std::size_t n0 = render_chunk(zero, data.data(), data.size(), 0x40, 0, cells);
    const std::size_t n1 = render_chunk(one, data.data(), data.size(), 0x40, 1, cells);
    EXPECT_EQ(std::string(zero, n0), std::string(one, n1));
}

TEST(RenderChunk, LabelsAtEveryOffsetSize)
{
    cell_strings cells{};
    prepare_cells(default_palette, cells);
    const struct {
        std::uint64_t offset;
        const char* label;
    } cases[] = {
        {0, "    0000 "},
        {0x80, "    0080 "},
        {0x3e8, "    03e8 "},
        {0xfff, "    0fff "},
        {0x1000, "    1000 "},
        {0xfffff000, "fffff000 "},
        {0x100000000, "100000000 "},
        {0x7fffffffffffffff, "7fffffffffffffff "},
        {0xfffffffffffff000, "fffffffffffff000 "},
    };
    static char text[chunk_text_max];
    const bytes data = test::random_bytes(1024, 7);
    for (const auto& c : cases) {
        for (std::uint64_t w : {std::uint64_t{1}, std::uint64_t{96}, max_width}) {
            const std::size_t n = c.offset > 0xfffffffffffff000 - 1 ? 1000 : 1024;
            const std::size_t len = render_chunk(text, data.data(), n, c.offset, w, cells);
            const bytes part(data.begin(), data.begin() + static_cast<long>(n));
            ASSERT_EQ(std::string(text, len), reference_dump(part, c.offset, w, default_palette))
                << "offset " << c.offset << ", width " << w;
            EXPECT_EQ(std::string(text, std::strlen(c.label)), c.label);
        }
    }
}

// Ranges on a file (seek) and on a pipe (skip by reading) give the same
// text: the bytes of the range, labelled from the start of the input.
TEST_F(render_dump, RangesOnFilesAndPipes)
{
    const bytes data = test::random_bytes(3000, 11);
    const struct {
        std::int64_t start, end;
    } cases[] = {
        {0, -1},    {100, -1},  {1027, 3000}, {5, 5}, {0, 0},       {2999, -1},
        {3000, -1}, {4000, -1}, {4000, 5000}, {1, 2}, {2048, 2500},
    };
    for (const auto& c : cases) {
        settings.range_start = c.start;
        settings.range_end = c.end;
        const std::string want = want_range(data, c.start, c.end);
        const int file = seekable(data);
        EXPECT_EQ(dump_to_string(file), want) << "file, range " << c.start << "-" << c.end;
        close(file);
        const int pipe = pipe_of(data);
        ASSERT_NE(pipe, -1);
        EXPECT_EQ(dump_to_string(pipe), want) << "pipe, range " << c.start << "-" << c.end;
        // Exactly the bytes up to the end of the range were consumed, also
        // when the range is empty and nothing is drawn.
        if (c.end != -1 && c.end <= 3000) {
            bytes rest(data.size());
            rest.resize(static_cast<std::size_t>(
                std::max<ssize_t>(0, read(pipe, rest.data(), rest.size()))));
            EXPECT_EQ(rest, bytes(data.begin() + c.end, data.end()))
                << "pipe, range " << c.start << "-" << c.end;
        }
        close(pipe);
    }
}

} // namespace
} // namespace ruvo
