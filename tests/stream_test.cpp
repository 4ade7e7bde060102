// ruvo as a filter on live inputs: a writer that pauses must find every
// line of what it sent so far on ruvo's output, on pipes and sockets alike.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "e2e.hpp"
#include "processes.hpp"
#include "reference.hpp"
#include "scratch_files.hpp"

namespace ruvo::test {
namespace {

using namespace std::chrono_literals;

bool write_all(int fd, const unsigned char* data, std::size_t n)
{
    while (n != 0) {
        const ssize_t put = write(fd, data, n);
        if (put <= 0)
            return false;
        data += put;
        n -= static_cast<std::size_t>(put);
    }
    return true;
}

// Reads ruvo's output to its end (20 s at most), waits for the writer and
// for ruvo, and checks that the output is the plain dump of data.
void expect_the_dump_of(const bytes& data, int output, pid_t pid, std::thread& writer)
{
    const std::string all = reference_dump(data, 0, 64, default_palette);
    std::string shown;
    EXPECT_TRUE(read_until(output, &shown, all.size() + 1, 20s));
    writer.join();
    close(output);
    EXPECT_EQ(wait_status(pid), 0);
    EXPECT_TRUE(shown == all) << shown.size() << " bytes of output, " << all.size() << " expected";
}

struct stall_case {
    const char* name;
    std::size_t first; // bytes sent before the pause
    bool socket;       // a socket pair instead of a pipe
};

std::ostream& operator<<(std::ostream& os, const stall_case& c)
{
    return os << c.name;
}

class stall : public ::testing::TestWithParam<stall_case> {};

// The writer sends `first` bytes and holds its end open.  Every complete
// chunk of them must reach ruvo's output while the writer waits; then the
// rest follows and the whole output is the plain dump.
TEST_P(stall, CompleteChunksAreShownWhileTheWriterWaits)
{
    const stall_case& c = GetParam();
    const bytes data = random_bytes(c.first + 3000, static_cast<std::uint32_t>(c.first));
    int input[2];
    // ruvo must hold no end but its own, or it would never see the end of
    // its input.
    if (c.socket)
        ASSERT_EQ(cloexec_socketpair(input), 0);
    else
        ASSERT_EQ(cloexec_pipe(input), 0);
    int output[2];
    ASSERT_EQ(cloexec_pipe(output), 0);
    const pid_t pid = start_ruvo({}, input[0], output[1]);
    close(input[0]);
    close(output[1]);

    ASSERT_TRUE(write_all(input[1], data.data(), c.first));
    const std::size_t whole = c.first / 1024 * 1024;
    const std::string before = reference_dump(
        bytes(data.begin(), data.begin() + static_cast<long>(whole)), 0, 64, default_palette);
    std::string shown;
    const bool in_time = read_until(output[0], &shown, before.size(), 10s);
    EXPECT_TRUE(in_time) << "only " << shown.size() << " of " << before.size()
                         << " bytes of output while the writer waits";
    EXPECT_EQ(shown, before);

    ASSERT_TRUE(write_all(input[1], data.data() + c.first, data.size() - c.first));
    close(input[1]);
    const std::string all = reference_dump(data, 0, 64, default_palette);
    EXPECT_TRUE(read_until(output[0], &shown, all.size() + 1, 20s));
    close(output[0]);
    EXPECT_EQ(wait_status(pid), 0);
    EXPECT_EQ(shown, all);
}

const stall_case stalls[] = {
    {"pipe_four_chunks", 5000, false},
    {"pipe_sixty_eight_chunks", 70000, false},
    {"socket_four_chunks", 5000, true},
    {"socket_sixty_eight_chunks", 70000, true},
};
INSTANTIATE_TEST_SUITE_P(stalls, stall, ::testing::ValuesIn(stalls),
                         [](const auto& info) { return std::string(info.param.name); });

// A stream whose bytes come in pieces that do not divide a chunk: the
// reads run unevenly past the end of the input block, and the dump must
// still be the file's, chunk for chunk.
TEST(pieces, UnevenPiecesAcrossTheInputBlockDrawAsTheFile)
{
    const bytes data = random_bytes(70 * 1000 + 123, 42);
    int input[2];
    int output[2];
    ASSERT_EQ(cloexec_socketpair(input), 0);
    ASSERT_EQ(cloexec_pipe(output), 0);
    const pid_t pid = start_ruvo({}, input[0], output[1]);
    close(input[0]);
    close(output[1]);
    std::thread writer([&] {
        // A pause after each piece, so that each is read alone.  Should
        // ruvo stop reading, MSG_NOSIGNAL gives the writer an error
        // instead of killing the test.
        for (std::size_t at = 0; at < data.size(); at += 1000) {
            const std::size_t n = std::min<std::size_t>(1000, data.size() - at);
            if (send(input[1], data.data() + at, n, MSG_NOSIGNAL) != static_cast<ssize_t>(n))
                break;
            std::this_thread::sleep_for(1ms);
        }
        close(input[1]);
    });
    expect_the_dump_of(data, output[0], pid, writer);
}

// Another program may leave a descriptor non-blocking, and the flag is
// shared with everyone who holds it.  ruvo then waits for input and for
// room to write, as it would on a blocking one, instead of failing with
// EAGAIN.
TEST(non_blocking, InputAndOutputAreWaitedForNotFailed)
{
    const bytes data = random_bytes(300000, 31);
    int input[2];
    int output[2];
    ASSERT_EQ(cloexec_socketpair(input), 0);
    ASSERT_EQ(cloexec_pipe(output), 0);
    fcntl(input[0], F_SETFL, O_NONBLOCK);
    fcntl(output[1], F_SETFL, O_NONBLOCK);
    const pid_t pid = start_ruvo({}, input[0], output[1]);
    close(input[0]);
    close(output[1]);

    // Nothing to read for a while, then a full output pipe for a while.
    std::this_thread::sleep_for(200ms);
    std::thread writer([&] {
        // MSG_NOSIGNAL: should ruvo fail, the writer sees an error
        // instead of being killed.
        for (std::size_t at = 0; at < data.size();) {
            const ssize_t put = send(input[1], data.data() + at, data.size() - at, MSG_NOSIGNAL);
            if (put <= 0)
                break;
            at += static_cast<std::size_t>(put);
        }
        close(input[1]);
    });
    std::this_thread::sleep_for(200ms);
    expect_the_dump_of(data, output[0], pid, writer);
}

// The CPU time that pid has used, from /proc/PID/stat (Linux).
std::chrono::milliseconds cpu_time(pid_t pid)
{
    const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    // The fields after the command's closing parenthesis: utime and stime
    // are the 12th and 13th of them, in clock ticks.
    std::istringstream rest(stat.substr(stat.rfind(')') + 2));
    std::string field;
    long long ticks = 0;
    for (int i = 1; i <= 13 && rest >> field; ++i)
        if (i >= 12)
            ticks += std::stoll(field);
    return std::chrono::milliseconds(ticks * 1000 / sysconf(_SC_CLK_TCK));
}

// Standard input left non-blocking by another program, and a writer that
// pauses: ruvo sleeps until the input comes, as a blocking read would,
// and does not spin.
TEST(non_blocking, APauseOfTheWriterCostsNoTime)
{
    const bytes data = random_bytes(5000, 33);
    int input[2];
    int output[2];
    ASSERT_EQ(cloexec_pipe(input), 0);
    ASSERT_EQ(cloexec_pipe(output), 0);
    fcntl(input[0], F_SETFL, O_NONBLOCK);
    const pid_t pid = start_ruvo({}, input[0], output[1]);
    close(input[0]);
    close(output[1]);
    ASSERT_TRUE(write_all(input[1], data.data(), 2500));
    // The pause: ruvo has drawn what it could and waits for more.
    ASSERT_TRUE(blocked_in(pid, {SYS_poll, SYS_ppoll, SYS_read}, 5s))
        << "ruvo did not wait for input within 5 s";
    const auto before = cpu_time(pid);
    std::this_thread::sleep_for(1s);
    const auto used = cpu_time(pid) - before;
    EXPECT_LT(used.count(), 100) << "ruvo used " << used.count()
                                 << " ms of CPU time while the writer paused for 1 s";
    std::thread writer([&] {
        (void)write_all(input[1], data.data() + 2500, 2500);
        close(input[1]);
    });
    expect_the_dump_of(data, output[0], pid, writer);
}

// Pseudo-files that say they are empty and take a seek, but give their
// bytes only to a read from offset 0 (/proc/sys, tracefs): a range that
// starts past 0 shows what the same bytes show through a pipe.  An empty
// file still shows nothing.
TEST(pseudo_files, ARangeFromPastTheStartShowsTheirBytes)
{
    const scratch dir({{"empty", bytes{}}});
    const struct {
        std::string path;
        const char* range;
        std::size_t from;
    } cases[] = {
        {"/proc/sys/kernel/pid_max", "2-", 2},
        {"/proc/sys/kernel/ostype", "1+3", 1},
        {"/proc/sys/kernel/osrelease", "3-", 3},
        {dir.dir() + "/empty", "5-", 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path + " -r " + c.range);
        const std::string text = read_file(c.path);
        if (text.empty() && c.path.rfind("/proc/", 0) == 0)
            FAIL() << "not run: " << c.path << " cannot be read here";
        bytes shown_bytes(text.begin(), text.end());
        if (c.from < shown_bytes.size())
            shown_bytes.erase(shown_bytes.begin(), shown_bytes.begin() + static_cast<long>(c.from));
        else
            shown_bytes.clear();
        if (std::string(c.range) == "1+3")
            shown_bytes.resize(std::min<std::size_t>(3, shown_bytes.size()));
        const run_result r = run_ruvo({"-r", c.range, c.path});
        EXPECT_TRUE(r.err.find("no end of the output") == std::string::npos)
            << "no end of the output within 5 s";
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(printable(r.out),
                  printable(reference_dump(shown_bytes, c.from, 64, default_palette)));
    }
}

// A pseudo-file of more than a block whose bytes come only from offset 0,
// with a range that starts inside a chunk: the bytes kept from the skip
// do not fill whole chunks to the end of the input block, and the rest
// of them moves to its front when a chunk would run past its end.
TEST(pseudo_files, ALargeOneFromInsideAChunkShowsItsBytes)
{
#if !defined(__linux__) && !defined(__FreeBSD__)
    GTEST_SKIP() << "not run: no LD_PRELOAD on this system";
#endif
    if (binary_under_test() != RUVO_BINARY)
        GTEST_SKIP() << "not run: preloading needs the program built with the tests";
    const bytes data = random_bytes(200000, 19);
    const scratch dir({{"f", data}});
    start_options how;
    how.env = {std::string("LD_PRELOAD=") + RUVO_FAULTS, "RUVO_TEST_PSEUDO_FILE=1",
               "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=1"};
    for (const auto& [range, from, to] :
         {std::tuple<const char*, std::size_t, std::size_t>{"100-", 100, data.size()},
          {"1000-150000", 1000, 150000}}) {
        SCOPED_TRACE(std::string("-r ") + range);
        const run_result r = run_ruvo({"-r", range, dir.dir() + "/f"}, how);
        EXPECT_EQ(r.status, 0) << r.err;
        const std::string want = reference_dump(
            bytes(data.begin() + static_cast<long>(from), data.begin() + static_cast<long>(to)),
            from, 64, default_palette);
        EXPECT_TRUE(r.out == want)
            << r.out.size() << " bytes of output, " << want.size() << " expected";
    }
}

// A regular file that cannot seek is a stream: ruvo skips to the start
// of the range by reading, and from offset 0 it just reads.  Only EINVAL
// at a start past 0 means a place that the file cannot hold.
TEST(unseekable_file, IsReadLikeAStream)
{
#if !defined(__linux__) && !defined(__FreeBSD__)
    GTEST_SKIP() << "not run: no LD_PRELOAD on this system";
#endif
    if (binary_under_test() != RUVO_BINARY)
        GTEST_SKIP() << "not run: preloading needs the program built with the tests";
    const bytes data = random_bytes(3000, 41);
    const scratch dir({{"f", data}});
    const struct {
        const char* error;
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {"ESPIPE", {"f"}, reference_dump(data, 0, 64, default_palette)},
        {"ESPIPE",
         {"-r", "100-2100", "f"},
         reference_dump(bytes(data.begin() + 100, data.begin() + 2100), 100, 64, default_palette)},
        {"EINVAL", {"f"}, reference_dump(data, 0, 64, default_palette)},
        {"EINVAL", {"-r", "100-", "f"}, ""},
    };
    for (const auto& c : cases) {
        const std::string args = c.args.size() == 1 ? c.args[0] : c.args[0] + " " + c.args[1];
        SCOPED_TRACE(std::string(c.error) + ", " + args);
        std::vector<std::string> in_dir;
        for (const auto& a : c.args)
            in_dir.push_back(a == "f" ? dir.dir() + "/f" : a);
        start_options how;
        // The sanitizers' runtime wants to come first; here it need not.
        how.env = {std::string("LD_PRELOAD=") + RUVO_FAULTS,
                   std::string("RUVO_TEST_SEEK_ERROR=") + c.error,
                   "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=1"};
        const run_result r = run_ruvo(in_dir, how);
        EXPECT_TRUE(r.err.find("no end of the output") == std::string::npos)
            << "no end of the output within 5 s";
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(r.out == c.out)
            << r.out.size() << " bytes of output, " << c.out.size() << " expected";
    }
}

// What a dump costs, as the system counts it for the process: the bytes
// it read and the writes it made.  The output would be right either way;
// a dump that read a whole file for a range past its end, or wrote a
// piece at a time, would not be.
struct dump_cost {
    unsigned long long read = 0;   // rchar
    unsigned long long writes = 0; // syscw
    unsigned long long wrote = 0;  // wchar
};

// The cost of `$RUVO ARGS`, run in dir by a shell that then reads its own
// counts: they hold those of the children it has reaped (a child's own
// can be read only until it ends, and a zombie's by root alone), and the
// shell itself reads and writes nothing else.
dump_cost cost_of(const scratch& dir, const std::string& args, int status_wanted)
{
    const run_result r =
        dir.run("\"$RUVO\" " + args + " >/dev/null; s=$?; cat /proc/$$/io; exit $s");
    EXPECT_EQ(r.status, status_wanted) << r.err;
    dump_cost c;
    const auto field = [&](const char* key) -> unsigned long long {
        const std::size_t at = r.out.find(std::string(key) + ": ");
        if (at == std::string::npos)
            throw std::runtime_error("not run: the shell's /proc/PID/io has no " +
                                     std::string(key) + ": " + r.err);
        return std::strtoull(r.out.c_str() + at + std::strlen(key) + 2, nullptr, 10);
    };
    c.read = field("rchar");
    c.writes = field("syscw");
    c.wrote = field("wchar");
    return c;
}

TEST(what_a_dump_costs, ARangePastTheEndOfALargeFileReadsNothing)
{
    const scratch dir({});
    const std::string path = dir.dir() + "/sparse";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 256LL << 20), 0) << "no sparse file of 256 MiB here";
    close(fd);
    const dump_cost c = cost_of(dir, "-r 300000000- sparse", 0);
    EXPECT_LT(c.read, 64U * 1024) << "bytes read for a range past the end of a 256 MiB file";
}

TEST(what_a_dump_costs, OneMebibyteGoesOutInLargeWrites)
{
    const scratch dir({{"data", random_bytes(1 << 20, 77)}});
    const dump_cost c = cost_of(dir, "data", 0);
    ASSERT_GT(c.writes, 0U);
    EXPECT_GE(c.wrote / c.writes, 200U * 1024)
        << c.writes << " writes for " << c.wrote << " bytes of output";
}

} // namespace
} // namespace ruvo::test
