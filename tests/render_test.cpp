// The renderer against the reference renderer, and the dumper's handling
// of ranges, pipes and failing streams, through its function interface.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "render.hpp"
#include "support.hpp"

namespace ruvo {
namespace {

using test::bytes;
using test::printable;
using test::reference_dump;

constexpr std::uint64_t max_width = std::numeric_limits<std::int64_t>::max();

struct dump_fixture : ::testing::Test {
    void SetUp() override
    {
        settings = dump_settings{};
        prepare_cells(default_palette);
    }
    void TearDown() override { settings = dump_settings{}; }
};

// A stream over a temporary file holding data, positioned at its start.
std::FILE* seekable(const bytes& data)
{
    std::FILE* f = std::tmpfile();
    if (!data.empty())
        std::fwrite(data.data(), 1, data.size(), f);
    std::rewind(f);
    return f;
}

// A stream over a pipe holding data (small enough for the pipe buffer).
std::FILE* pipe_of(const bytes& data)
{
    int fds[2];
    if (pipe(fds) != 0)
        return nullptr;
    if (!data.empty() &&
        write(fds[1], data.data(), data.size()) != static_cast<ssize_t>(data.size()))
        return nullptr;
    close(fds[1]);
    return fdopen(fds[0], "r");
}

std::string dump_to_string(std::FILE* in)
{
    std::FILE* out = std::tmpfile();
    dump_stream(in, "input", out);
    std::fflush(out);
    std::string text(static_cast<std::size_t>(std::ftell(out)), '\0');
    std::rewind(out);
    if (!text.empty() && std::fread(text.data(), 1, text.size(), out) != text.size())
        text = "short read";
    std::fclose(out);
    return text;
}

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

TEST_F(dump_fixture, WorkedExampleThreeBytesWidthTwo)
{
    settings.width = 2;
    std::FILE* in = seekable({0x00, 0xff, 0x41});
    const std::string expected = "    0000 "
                                 "\033[38;2;0;0;0m\033[48;2;57;86;0m\u2580"
                                 "\033[0m\033[38;2;255;255;255m\u2580"
                                 "\033[m\n";
    EXPECT_EQ(printable(dump_to_string(in)), printable(expected));
    std::fclose(in);
}

// The guard of the fast path: every width class (1, powers of two, widths
// that do not divide the chunk, wider than a chunk, the largest) and
// lengths on both sides of every row-pair and chunk boundary.
TEST_F(dump_fixture, MatchesReferenceAcrossWidthsAndLengths)
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
            std::FILE* in = seekable(data);
            const std::string got = dump_to_string(in);
            std::fclose(in);
            const std::string want = reference_dump(data, 0, w, default_palette);
            ASSERT_EQ(got, want) << "width " << w << ", length " << n;
        }
    }
}

TEST(RenderChunk, LabelsAtEveryOffsetSize)
{
    prepare_cells(default_palette);
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
TEST_F(dump_fixture, RangesOnFilesAndPipes)
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
        const auto from = std::min<std::size_t>(static_cast<std::size_t>(c.start), data.size());
        const auto to = c.end == -1
                            ? data.size()
                            : std::min<std::size_t>(static_cast<std::size_t>(c.end), data.size());
        const bytes part(data.begin() + static_cast<long>(from),
                         data.begin() + static_cast<long>(std::max(from, to)));
        const std::string want = reference_dump(part, static_cast<std::uint64_t>(c.start),
                                                settings.width, default_palette);
        std::FILE* file = seekable(data);
        EXPECT_EQ(dump_to_string(file), want) << "file, range " << c.start << "-" << c.end;
        std::fclose(file);
        std::FILE* pipe = pipe_of(data);
        ASSERT_NE(pipe, nullptr);
        EXPECT_EQ(dump_to_string(pipe), want) << "pipe, range " << c.start << "-" << c.end;
        // Exactly the bytes up to the end of the range were consumed, also
        // when the range is empty and nothing is drawn.
        if (c.end != -1 && c.end <= 3000) {
            bytes rest(data.size());
            rest.resize(std::fread(rest.data(), 1, rest.size(), pipe));
            EXPECT_EQ(rest, bytes(data.begin() + c.end, data.end()))
                << "pipe, range " << c.start << "-" << c.end;
        }
        std::fclose(pipe);
    }
}

// A stream that hands out `good` bytes and then fails with EIO, and cannot
// seek: a flaky device or a network file system.
struct failing_source {
    std::size_t good;
    std::size_t given = 0;
};

std::size_t failing_read(failing_source* src, char* buf, std::size_t size)
{
    if (src->given == src->good) {
        errno = EIO;
        return 0;
    }
    const std::size_t n = std::min(size, src->good - src->given);
    std::memset(buf, 0x41, n);
    src->given += n;
    return n;
}

#if defined(__GLIBC__)
std::FILE* failing_stream(failing_source* src)
{
    cookie_io_functions_t io{};
    io.read = [](void* cookie, char* buf, std::size_t size) -> ssize_t {
        const std::size_t n = failing_read(static_cast<failing_source*>(cookie), buf, size);
        return n == 0 ? -1 : static_cast<ssize_t>(n);
    };
    return fopencookie(src, "r", io);
}
#else // the BSDs
std::FILE* failing_stream(failing_source* src)
{
    return funopen(
        src,
        [](void* cookie, char* buf, int size) -> int {
            const std::size_t n = failing_read(static_cast<failing_source*>(cookie), buf,
                                               static_cast<std::size_t>(size));
            return n == 0 ? -1 : static_cast<int>(n);
        },
        nullptr, nullptr, nullptr);
}
#endif

TEST_F(dump_fixture, ReadErrorAfterSomeBytesDrawsThemFirst)
{
    const std::string path = ::testing::TempDir() + "ruvo-read-error.out";
    EXPECT_EXIT(
        {
            failing_source src{1500};
            std::FILE* out = std::fopen(path.c_str(), "w");
            dump_stream(failing_stream(&src), "flaky", out);
        },
        ::testing::ExitedWithCode(1), "^[^\n]*: \\(while reading\\) flaky: Input/output error\n$");
    const std::string want = reference_dump(bytes(1500, 0x41), 0, 64, default_palette);
    EXPECT_EQ(test::read_file(path), want);
}

TEST_F(dump_fixture, ReadErrorWhileSkippingToTheStart)
{
    settings.range_start = 2000;
    EXPECT_EXIT(
        {
            failing_source src{10};
            dump_stream(failing_stream(&src), "flaky", stdout);
        },
        ::testing::ExitedWithCode(1), "^[^\n]*: \\(while seeking\\) flaky: Input/output error\n$");
}

TEST_F(dump_fixture, WriteErrorEndsTheDump)
{
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "this system has no /dev/full";
    EXPECT_EXIT(
        {
            std::FILE* full = std::fopen("/dev/full", "w");
            std::FILE* in = seekable(test::random_bytes(100000, 3));
            dump_stream(in, "input", full);
        },
        ::testing::ExitedWithCode(1), "^[^\n]*: stdout: No space left on device\n$");
}

} // namespace
} // namespace ruvo
