// Reading and writing in blocks, through the dumper: bounded reads that
// leave the rest of an input, pipes that deliver a byte at a time, read
// and write errors, and starts that no file can reach.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "dump_fixture.hpp"
#include "io.hpp"
#include "render.hpp"
#include "short_writes.hpp"
#include "processes.hpp"
#include "reference.hpp"
#include "scratch_files.hpp"
#include "signals.hpp"

namespace ruvo {
namespace {

// The fixture and the reference renderer.
using namespace test;

// The dumper's input and output, one suite.
struct io_dump : dump_fixture {};

// Where the input is read a block at a time, chunks that straddle two
// reads, ranges that start or end inside a block, and inputs that end
// exactly at a block's end must all draw as the reference does.
TEST_F(io_dump, ReadBlocksOnFilesAndPipes)
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
TEST_F(io_dump, PipeDeliveringOneByteAtATime)
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
TEST_F(io_dump, ReadErrorInTheSecondBlockDrawsWhatCameFirst)
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

    const temp_file file;
    const std::string& path = file.path();
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
            auto text = std::make_unique<text_out>(out, "output");
            dump_stream(mem, "memory", settings, cells, *text);
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
TEST_F(io_dump, ReadErrorWhileSkippingToTheStart)
{
    settings.range_start = 2000;
    const temp_file file;
    const std::string& path = file.path();
    const std::string message =
        std::string("^[^\n]*: \\(while seeking\\) unreadable: ") + std::strerror(EBADF) + "\n$";
    EXPECT_EXIT(
        {
            alarm(5); // a skip that never ends fails the test, not the run
            const int out = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int closed = dup(out);
            if (out < 0 || closed < 0 || close(closed) != 0)
                std::exit(3);
            auto text = std::make_unique<text_out>(out, "output");
            text->put("drawn before\n", 13);
            dump_stream(closed, "unreadable", settings, cells, *text);
        },
        ::testing::ExitedWithCode(1), message);
    EXPECT_EQ(test::read_file(path), "drawn before\n");
}

// A start that the file system cannot hold: the seek is refused, and the
// input ends there, without a byte read (reading to the start would take
// minutes on a large sparse file).
TEST_F(io_dump, StartBeyondTheLargestFileReadsNothing)
{
    const temp_file file;
    const int fd = file.fd();
    ASSERT_EQ(ftruncate(fd, 64 << 20), 0);
    constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();
    if (lseek(fd, largest, SEEK_SET) != -1) {
        GTEST_SKIP() << "the file system of " << file.path()
                     << " holds offsets up to 2^63 - 1: no seek to refuse";
    }
    ASSERT_EQ(lseek(fd, 0, SEEK_SET), 0);
    settings.range_start = largest - 10;
    EXPECT_EQ(dump_to_string(fd), "");
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 0) << "bytes were read to reach the start";
}

// The last bytes below 2^63: no read may ask for bytes past the largest
// offset, which the system refuses, so the last 1023 bytes are drawn.
TEST_F(io_dump, TheLastBytesBelowTheLargestOffset)
{
    constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();
    std::string dir;
#if defined(__linux__)
    if (access("/dev/shm", W_OK) == 0)
        dir = "/dev/shm"; // tmpfs takes files of 2^63 - 1 bytes
#endif
    const temp_file file(dir);
    const int fd = file.fd();
    if (ftruncate(fd, largest) != 0) {
        GTEST_SKIP() << "no file system here takes a file of 2^63 - 1 bytes (" << dir << ")";
    }
    settings.range_start = largest - 1023;
    EXPECT_EQ(dump_to_string(fd),
              reference_dump(bytes(1023, 0), static_cast<std::uint64_t>(largest - 1023), 64,
                             default_palette));
}

TEST_F(io_dump, WriteErrorEndsTheDump)
{
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "this system has no /dev/full";
    EXPECT_EXIT(
        {
            alarm(5); // a dump that never ends fails the test, not the run
            auto full = std::make_unique<text_out>(open("/dev/full", O_WRONLY), "stdout");
            dump_stream(seekable(test::random_bytes(100000, 3)), "input", settings, cells, *full);
        },
        ::testing::ExitedWithCode(1),
        std::string("^[^\n]*: stdout: ") + std::strerror(ENOSPC) + "\n$");
}

// Text larger than a whole batch, put after a partly filled batch, goes
// out after what the batch held, and what comes after it after it: the
// order of the text is kept.
TEST(TextOut, AHugeTextAfterAPartBatchKeepsTheOrder)
{
    const temp_file file;
    auto out = std::make_unique<text_out>(file.fd(), "output");
    const std::string before(1000, 'a');
    const std::string huge(text_out::capacity + 5, 'b');
    const std::string after = "c\n";
    out->put(before.data(), before.size());
    out->put(huge.data(), huge.size());
    out->put(after.data(), after.size());
    out->flush();
    EXPECT_TRUE(read_file(file.path()) == before + huge + after) << "the text came out of order";
}

// The writer's side of a stop (Ctrl-Z), on a terminal that keeps its
// queued output (noflsh) or one with default settings: a stop noted
// between two writes, inside a write, at a line's start, at the very end;
// a terminal that takes three or four bytes a write, so that the cut
// falls inside a line and the reset itself goes in pieces.
struct stop_step {
    bool stop_first;  // a stop is noted before this text is written
    const char* text; // put and flushed; "" flushes nothing
};

struct stop_case {
    const char* name;
    bool noflsh;
    std::size_t most; // bytes a write takes at most, 0: any
    int stop_after;   // a stop after this write, 0: none
    std::vector<stop_step> steps;
    const char* want;
};

// A pseudo-terminal whose slave shows the bytes as they were written.
struct raw_pty {
    int master = -1;
    int slave = -1;
    explicit raw_pty(bool noflsh)
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        const char* name = master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0
                               ? ptsname(master)
                               : nullptr;
        slave = name != nullptr ? open(name, O_RDWR | O_NOCTTY) : -1;
        termios mode{};
        if (slave < 0 || tcgetattr(slave, &mode) != 0)
            return;
        mode.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        if (noflsh)
            mode.c_lflag |= NOFLSH;
        else
            mode.c_lflag &= ~static_cast<tcflag_t>(NOFLSH);
        (void)tcsetattr(slave, TCSANOW, &mode);
    }
    ~raw_pty()
    {
        close(slave);
        close(master);
    }
    raw_pty(const raw_pty&) = delete;
    raw_pty& operator=(const raw_pty&) = delete;

    // What the master has, once it holds `size` bytes or 2 s have passed,
    // and whatever more comes within 50 ms.
    std::string read_back(std::size_t size) const
    {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        for (;;) {
            const bool enough = got.size() >= size;
            if (!enough && std::chrono::steady_clock::now() >= deadline)
                return got;
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, enough ? 50 : 10) != 1) {
                if (enough)
                    return got;
                continue;
            }
            char buf[256];
            const ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0)
                return got;
            got.append(buf, static_cast<std::size_t>(n));
        }
    }
};

TEST(TextOutAfterAStop, GoesOnFromTheCutLineOnALineOfItsOwn)
{
    const stop_case cases[] = {
        {"between writes, after a line",
         false,
         0,
         0,
         {{false, "ab\n"}, {true, "cd\n"}},
         "ab\n\033[m\ncd\n"},
        {"between writes, after a line, noflsh",
         true,
         0,
         0,
         {{false, "ab\n"}, {true, "cd\n"}},
         "ab\n\033[mcd\n"},
        {"between writes, inside a line, noflsh",
         true,
         0,
         0,
         {{false, "ab"}, {true, "cd\n"}},
         "ab\033[m\ncd\n"},
        {"inside a write, inside a line",
         false,
         4,
         1,
         {{false, "ab\ncdef\n"}},
         "ab\nc\033[m\ncdef\n"},
        {"inside a write, at a line's start, noflsh",
         true,
         3,
         1,
         {{false, "ab\ncd\n"}},
         "ab\n\033[mcd\n"},
        {"inside a write, the reset in pieces",
         false,
         3,
         1,
         {{false, "abc\ndef\n"}},
         "abc\033[m\nabc\ndef\n"},
        {"at the very end", false, 0, 0, {{false, "ab\n"}, {true, ""}}, "ab\n\033[m\n"},
        {"at the very end, noflsh", true, 0, 0, {{false, "ab\n"}, {true, ""}}, "ab\n\033[m"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const raw_pty term(c.noflsh);
        ASSERT_GE(term.slave, 0) << "no pseudo-terminal";
        {
            auto out = std::make_unique<text_out>(term.slave, "terminal");
            writes_to = {term.slave, c.most, c.stop_after, 0};
            for (const auto& step : c.steps) {
                if (step.stop_first)
                    output_stops = output_stops + 1;
                out->put(step.text, std::strlen(step.text));
                out->flush();
            }
            writes_to = {};
        }
        EXPECT_EQ(printable(term.read_back(std::strlen(c.want))), printable(c.want));
    }
}

// After a stop, the text goes on from the start of the line that holds
// the cut, wherever in it the cut fell: in a label, a cell's colours, the
// half block's bytes, the line's end, a header, or after a byte that is
// not UTF-8 (which must not swallow what follows it).
TEST(ResumePoint, TheStartOfTheLineThatHoldsTheCut)
{
    const std::string label = "    0000 ";
    const std::string pair = "\033[38;2;1;2;3m\033[48;2;4;5;6m\u2580";
    const std::string lone = "\033[0m\033[38;2;7;8;9m\u2580";
    const std::string end = "\033[m\n";
    const std::string line = label + pair + lone + end;
    const std::string text = line + line;
    const std::size_t pair_at = label.size();
    const std::size_t lone_at = pair_at + pair.size();
    const std::size_t end_at = lone_at + lone.size();
    const std::string header = line + "\n====> \033[1mcaf\xe9\033[m <====\n" + line;
    const std::size_t name_at = line.size() + 1;
    const std::size_t after_header = header.size() - line.size();
    const struct {
        const char* what;
        const std::string& text;
        std::size_t cut;
        std::size_t from;
    } cases[] = {
        {"at the start", text, 0, 0},
        {"in the label", text, 4, 0},
        {"in the foreground of a pair", text, pair_at + 3, 0},
        {"in the half block, after its first byte", text, lone_at - 3 + 1, 0},
        {"in the half block, before its last byte", text, lone_at - 1, 0},
        {"in the colour of a lone cell", text, lone_at + 10, 0},
        {"in the line's end", text, end_at + 1, 0},
        {"before the newline", text, end_at + 3, 0},
        {"after the newline", text, line.size(), line.size()},
        {"in the second line's label", text, line.size() + 1, line.size()},
        {"in the second line's last byte", text, text.size() - 1, line.size()},
        {"at the start of a header line", header, name_at, name_at},
        {"in a header's bold", header, name_at + 8, name_at},
        {"after a byte that is not UTF-8, in the reset", header, name_at + 16, name_at},
        {"in the line after a header", header, after_header + 5, after_header},
    };
    for (const auto& c : cases)
        EXPECT_EQ(resume_point(c.text.c_str(), c.cut), c.from)
            << c.what << ": cut after " << printable(c.text.substr(0, c.cut));
}

} // namespace
} // namespace ruvo
