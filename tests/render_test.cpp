// The renderer against the reference renderer, and the dumper's handling
// of ranges, pipes and failing streams, through its function interface.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

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

// A descriptor of a temporary file holding data, positioned at its start.
int seekable(const bytes& data)
{
    std::FILE* f = std::tmpfile();
    if (!data.empty())
        std::fwrite(data.data(), 1, data.size(), f);
    std::fflush(f);
    const int fd = dup(fileno(f));
    std::fclose(f);
    lseek(fd, 0, SEEK_SET);
    return fd;
}

// The read end of a pipe holding data (small enough for the pipe buffer).
int pipe_of(const bytes& data)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    if (!data.empty() &&
        write(fds[1], data.data(), data.size()) != static_cast<ssize_t>(data.size()))
        return -1;
    close(fds[1]);
    return fds[0];
}

// The read end of a pipe that a thread fills with data, `piece` bytes per
// write.  With pieces of one byte it waits until each byte has been read
// before it writes the next, so every read(2) gets one byte.
class fed_pipe {
  public:
    fed_pipe(const bytes& data, std::size_t piece)
    {
        int fds[2];
        if (pipe(fds) != 0)
            throw std::runtime_error("pipe");
        fd = fds[0];
        writer_ = std::thread([data, piece, r = fds[0], w = fds[1]] {
            for (std::size_t at = 0; at < data.size();) {
                const std::size_t n = std::min(piece, data.size() - at);
                const ssize_t put = write(w, data.data() + at, n);
                if (put <= 0)
                    break;
                at += static_cast<std::size_t>(put);
                // The pipe is empty again once its read end polls as not ready.
                pollfd p{r, POLLIN, 0};
                while (piece == 1 && poll(&p, 1, 0) == 1)
                    std::this_thread::yield();
            }
            close(w);
        });
    }
    ~fed_pipe()
    {
        // Takes what the reader left, so that the writer can finish.
        char rest[4096];
        while (read(fd, rest, sizeof rest) > 0) {
        }
        close(fd);
        writer_.join();
    }
    fed_pipe(const fed_pipe&) = delete;
    fed_pipe& operator=(const fed_pipe&) = delete;

    int fd;

  private:
    std::thread writer_;
};

std::string dump_to_string(int in)
{
    std::FILE* f = std::tmpfile();
    {
        auto out = std::make_unique<text_out>(fileno(f));
        dump_stream(in, "input", *out);
    }
    std::string text(static_cast<std::size_t>(lseek(fileno(f), 0, SEEK_END)), '\0');
    if (!text.empty() &&
        pread(fileno(f), text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()))
        text = "short read";
    std::fclose(f);
    return text;
}

// What the dumper must draw of data for the range [start, end).
std::string want_range(const bytes& data, std::int64_t start, std::int64_t end)
{
    const auto from = std::min<std::size_t>(static_cast<std::size_t>(start), data.size());
    const auto to =
        end == -1 ? data.size() : std::min<std::size_t>(static_cast<std::size_t>(end), data.size());
    const bytes part(data.begin() + static_cast<long>(from),
                     data.begin() + static_cast<long>(std::max(from, to)));
    return reference_dump(part, static_cast<std::uint64_t>(start), settings.width, default_palette);
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
    prepare_cells(default_palette);
    static char zero[chunk_text_max];
    static char one[chunk_text_max];
    const bytes data = test::random_bytes(301, 17);
    const std::size_t n0 = render_chunk(zero, data.data(), data.size(), 0x40, 0, cells);
    const std::size_t n1 = render_chunk(one, data.data(), data.size(), 0x40, 1, cells);
    EXPECT_EQ(std::string(zero, n0), std::string(one, n1));
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

// Where the input is read a block at a time, chunks that straddle two
// reads, ranges that start or end inside a block, and inputs that end
// exactly at a block's end must all draw as the reference does.
TEST_F(dump_fixture, ReadBlocksOnFilesAndPipes)
{
    const struct {
        std::size_t length;
        std::int64_t start, end;
    } cases[] = {
        {block_size, 0, -1},
        {2 * block_size, 0, -1},
        {2 * block_size + 1, 0, -1},
        {3 * block_size, 70000, -1},      // the start inside the second block
        {3 * block_size, block_size, -1}, // the start on a block boundary
        {3 * block_size, 1000, 1000 + static_cast<std::int64_t>(block_size) + 77},
        {3 * block_size, 70001, 140000},
        {3 * block_size, 0, 70000}, // more than a block, from the start
    };
    for (const auto& c : cases) {
        const bytes data = test::random_bytes(c.length, static_cast<std::uint32_t>(c.start + 5));
        settings.range_start = c.start;
        settings.range_end = c.end;
        const std::string want = want_range(data, c.start, c.end);
        const int file = seekable(data);
        EXPECT_EQ(dump_to_string(file), want)
            << "file " << c.length << ", " << c.start << "-" << c.end;
        // Nothing past the end of the range was read.
        if (c.end != -1) {
            EXPECT_EQ(lseek(file, 0, SEEK_CUR), c.end) << "file, range " << c.start << "-" << c.end;
        }
        close(file);
        // Pieces that do not divide a chunk, and pipe-sized ones.
        for (std::size_t piece : {std::size_t{1000}, std::size_t{4096}, block_size + 3}) {
            const fed_pipe pipe(data, piece);
            EXPECT_EQ(dump_to_string(pipe.fd), want) << "pipe " << c.length << ", " << c.start
                                                     << "-" << c.end << ", pieces of " << piece;
            if (c.end == -1)
                continue;
            std::string rest;
            EXPECT_TRUE(
                test::read_until(pipe.fd, &rest, std::string::npos, std::chrono::seconds(5)))
                << "the pipe did not end within 5 s";
            EXPECT_EQ(rest.size(), data.size() - static_cast<std::size_t>(c.end))
                << "pipe, range " << c.start << "-" << c.end << ", pieces of " << piece;
        }
    }
}

// Every read(2) returns one byte: no chunk is ever whole before its last read.
TEST_F(dump_fixture, PipeDeliveringOneByteAtATime)
{
    const bytes data = test::random_bytes(2600, 21);
    settings.range_start = 100;
    settings.range_end = 2500;
    settings.width = 7;
    const fed_pipe pipe(data, 1);
    EXPECT_EQ(dump_to_string(pipe.fd), want_range(data, 100, 2500));
}

#if defined(__linux__)
// A real read error after some blocks: the kernel answers EIO for
// addresses of /proc/self/mem that nothing is mapped at.  One block and
// one page are mapped, then nothing, so the second block is cut short and
// the read after it fails.
TEST_F(dump_fixture, ReadErrorInTheSecondBlockDrawsWhatCameFirst)
{
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t good = block_size + page;
    void* area =
        mmap(nullptr, good + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(area, MAP_FAILED);
    auto* mapped = static_cast<unsigned char*>(area);
    const bytes data = test::random_bytes(good, 13);
    std::memcpy(mapped, data.data(), good);
    ASSERT_EQ(munmap(mapped + good, page), 0);
    const auto where = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(area));

    const std::string path = ::testing::TempDir() + "ruvo-read-error.out";
    const std::string message =
        std::string("^[^\n]*: \\(while reading\\) memory: ") + std::strerror(EIO) + "\n$";
    EXPECT_EXIT(
        {
            alarm(5); // a dump that never ends fails the test, not the run
            const int out = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int mem = open("/proc/self/mem", O_RDONLY);
            if (out < 0 || mem < 0)
                std::exit(3);
            settings.range_start = static_cast<std::int64_t>(where);
            auto text = std::make_unique<text_out>(out);
            dump_stream(mem, "memory", *text);
        },
        ::testing::ExitedWithCode(1), message);
    munmap(area, good);
    EXPECT_EQ(test::read_file(path), reference_dump(data, where, 64, default_palette));
}
#endif

// An input that can neither seek nor be read, and that poll(2) reports
// ready (a descriptor that is not open): the skip to the start fails at
// its first read.  What was drawn before (a header line, say) is written
// out ahead of the message.
TEST_F(dump_fixture, ReadErrorWhileSkippingToTheStart)
{
    settings.range_start = 2000;
    const std::string path = ::testing::TempDir() + "ruvo-seek-error.out";
    const std::string message =
        std::string("^[^\n]*: \\(while seeking\\) unreadable: ") + std::strerror(EBADF) + "\n$";
    EXPECT_EXIT(
        {
            alarm(5); // a skip that never ends fails the test, not the run
            const int out = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int closed = dup(out);
            if (out < 0 || closed < 0 || close(closed) != 0)
                std::exit(3);
            auto text = std::make_unique<text_out>(out);
            text->put("drawn before\n", 13);
            dump_stream(closed, "unreadable", *text);
        },
        ::testing::ExitedWithCode(1), message);
    EXPECT_EQ(test::read_file(path), "drawn before\n");
}

// A start that the file system cannot hold: the seek is refused, and the
// input ends there, without a byte read (reading to the start would take
// minutes on a large sparse file).
TEST_F(dump_fixture, StartBeyondTheLargestFileReadsNothing)
{
    const std::string path = ::testing::TempDir() + "ruvo-sparse";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    unlink(path.c_str());
    ASSERT_EQ(ftruncate(fd, 64 << 20), 0);
    constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();
    if (lseek(fd, largest, SEEK_SET) != -1) {
        close(fd);
        GTEST_SKIP() << "the file system of " << ::testing::TempDir()
                     << " holds offsets up to 2^63 - 1: no seek to refuse";
    }
    ASSERT_EQ(lseek(fd, 0, SEEK_SET), 0);
    settings.range_start = largest - 10;
    EXPECT_EQ(dump_to_string(fd), "");
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 0) << "bytes were read to reach the start";
    close(fd);
}

// The last bytes below 2^63: no read may ask for bytes past the largest
// offset, which the system refuses, so the last 1023 bytes are drawn.
TEST_F(dump_fixture, TheLastBytesBelowTheLargestOffset)
{
    constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();
    std::string dir = ::testing::TempDir();
#if defined(__linux__)
    if (access("/dev/shm", W_OK) == 0)
        dir = "/dev/shm/"; // tmpfs takes files of 2^63 - 1 bytes
#endif
    const std::string path = dir + "ruvo-huge";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    unlink(path.c_str());
    if (ftruncate(fd, largest) != 0) {
        close(fd);
        GTEST_SKIP() << "no file system here takes a file of 2^63 - 1 bytes (" << dir << ")";
    }
    settings.range_start = largest - 1023;
    EXPECT_EQ(dump_to_string(fd),
              reference_dump(bytes(1023, 0), static_cast<std::uint64_t>(largest - 1023), 64,
                             default_palette));
    close(fd);
}

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

TEST_F(dump_fixture, WriteErrorEndsTheDump)
{
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "this system has no /dev/full";
    EXPECT_EXIT(
        {
            alarm(5); // a dump that never ends fails the test, not the run
            auto full = std::make_unique<text_out>(open("/dev/full", O_WRONLY));
            dump_stream(seekable(test::random_bytes(100000, 3)), "input", *full);
        },
        ::testing::ExitedWithCode(1),
        std::string("^[^\n]*: stdout: ") + std::strerror(ENOSPC) + "\n$");
}

} // namespace
} // namespace ruvo
