// An interrupted dump: on a terminal ruvo switches the colours off before
// it dies of the signal; into a pipe it adds nothing; a signal ignored by
// its parent stays ignored.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "e2e.hpp"
#include "support.hpp"

namespace ruvo::test {
namespace {

using namespace std::chrono_literals;

// A pseudo-terminal: ruvo writes to the slave, the test reads the master.
struct pty {
    int master = -1;
    int slave = -1;

    pty()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            return;
        const char* name = ptsname(master);
        if (name != nullptr)
            slave = open(name, O_RDWR | O_NOCTTY);
        fcntl(master, F_SETFD, FD_CLOEXEC);
        fcntl(slave, F_SETFD, FD_CLOEXEC);
        // No output processing: the bytes arrive as ruvo wrote them, and
        // a write cut short by the signal stops at any byte, not only
        // where a "\n" would not fit as "\r\n".
        termios mode{};
        if (tcgetattr(slave, &mode) == 0) {
            mode.c_oflag &= ~static_cast<tcflag_t>(OPOST);
            tcsetattr(slave, TCSANOW, &mode);
        }
    }
    ~pty()
    {
        close(master);
        close_slave();
    }
    // Once ruvo holds the slave, the master sees the end when ruvo ends.
    void close_slave()
    {
        if (slave >= 0)
            close(slave);
        slave = -1;
    }
    pty(const pty&) = delete;
    pty& operator=(const pty&) = delete;
};

// What arrives on fd within `how_long`, or up to its end if that comes
// first.  A terminal's master reports the end as an error.
std::string drain(int fd, std::chrono::milliseconds how_long = 20s)
{
    std::string text;
    (void)read_until(fd, &text, std::string::npos, how_long);
    return text;
}

int open_zero()
{
    const int fd = open("/dev/zero", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error("cannot open /dev/zero");
    return fd;
}

class on_a_terminal : public ::testing::TestWithParam<int> {};

// However the dump is cut, the very last bytes on the terminal are the
// attributes-off sequence (a whole line would end in "\033[m\n").
TEST_P(on_a_terminal, TheSignalEndsTheRunAfterTheColoursAreOff)
{
    const int sig = GetParam();
    pty term;
    ASSERT_GE(term.slave, 0) << "no pseudo-terminal";
    const int zero = open_zero();
    const pid_t pid = start_ruvo({}, zero, term.slave);
    term.close_slave();
    close(zero);
    std::string shown = drain(term.master, 300ms);
    ASSERT_EQ(kill(pid, sig), 0);
    shown += drain(term.master);
    EXPECT_EQ(wait_status(pid), 128 + sig);
    ASSERT_GT(shown.size(), 1000u) << "ruvo drew nothing before the signal";
    EXPECT_EQ(printable(shown.substr(shown.size() - 3)), printable("\033[m"));
}

INSTANTIATE_TEST_SUITE_P(signals, on_a_terminal, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const auto& info) {
                             switch (info.param) {
                             case SIGINT:
                                 return "SIGINT";
                             case SIGTERM:
                                 return "SIGTERM";
                             default:
                                 return "SIGHUP";
                             }
                         });

// Into a pipe, the output stops where the signal cut it: a prefix of the
// plain dump, nothing added.
TEST(interrupted, IntoAPipeNothingIsAdded)
{
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    fcntl(out[0], F_SETFD, FD_CLOEXEC);
    fcntl(out[1], F_SETFD, FD_CLOEXEC);
    const int zero = open_zero();
    const pid_t pid = start_ruvo({}, zero, out[1]);
    close(zero);
    close(out[1]);
    // Unread, the pipe fills and ruvo waits in the middle of a write.
    std::this_thread::sleep_for(200ms);
    ASSERT_EQ(kill(pid, SIGINT), 0);
    const std::string shown = drain(out[0]);
    close(out[0]);
    EXPECT_EQ(wait_status(pid), 128 + SIGINT);
    ASSERT_FALSE(shown.empty());
    const std::size_t chunks = shown.size() / 10000 + 2; // a chunk of zeros is about 15 KB
    const std::string plain = reference_dump(bytes(chunks * 1024, 0), 0, 64, default_palette);
    ASSERT_LE(shown.size(), plain.size());
    EXPECT_TRUE(plain.compare(0, shown.size(), shown) == 0)
        << "the output is not a prefix of the plain dump; it ends in"
        << printable(shown.substr(shown.size() - std::min<std::size_t>(shown.size(), 80)));
}

// With SIGINT ignored by the parent, Ctrl-C does not stop the dump: the
// run goes on to the end of its input and exits normally.
TEST(interrupted, IgnoredSignalStaysIgnored)
{
    pty term;
    ASSERT_GE(term.slave, 0) << "no pseudo-terminal";
    int in[2];
    ASSERT_EQ(pipe(in), 0);
    fcntl(in[0], F_SETFD, FD_CLOEXEC);
    fcntl(in[1], F_SETFD, FD_CLOEXEC);
    struct sigaction ignore {};
    struct sigaction saved {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGINT, &ignore, &saved);
    const pid_t pid = start_ruvo({}, in[0], term.slave);
    sigaction(SIGINT, &saved, nullptr);
    term.close_slave();
    close(in[0]);

    const bytes data = random_bytes(3000, 8);
    ASSERT_EQ(write(in[1], data.data(), 1500), 1500);
    std::string shown = drain(term.master, 300ms); // ruvo now waits for input
    ASSERT_EQ(kill(pid, SIGINT), 0);
    std::this_thread::sleep_for(100ms);
    ASSERT_EQ(write(in[1], data.data() + 1500, 1500), 1500);
    close(in[1]);
    shown += drain(term.master);
    EXPECT_EQ(wait_status(pid), 0);
    EXPECT_EQ(printable(shown), printable(reference_dump(data, 0, 64, default_palette)));
}

} // namespace
} // namespace ruvo::test
