// An interrupted dump: on a terminal ruvo switches the colours off before
// it dies of the signal; into a pipe it adds nothing; a signal ignored by
// its parent stays ignored.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
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

// How long a test waits for output that is due at once.
constexpr auto a_moment = 300ms;
// How long a test waits for the rest of a run.
constexpr auto the_rest = 5s;

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
    std::string shown = drain(term.master, a_moment);
    ASSERT_EQ(kill(pid, sig), 0);
    shown += drain(term.master, the_rest);
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
    const std::string shown = drain(out[0], the_rest);
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
    std::string shown = drain(term.master, a_moment); // ruvo now waits for input
    ASSERT_EQ(kill(pid, SIGINT), 0);
    std::this_thread::sleep_for(100ms);
    ASSERT_EQ(write(in[1], data.data() + 1500, 1500), 1500);
    close(in[1]);
    shown += drain(term.master, the_rest);
    EXPECT_EQ(wait_status(pid), 0);
    EXPECT_EQ(printable(shown), printable(reference_dump(data, 0, 64, default_palette)));
}

// A terminal that takes no output, because its output was stopped with
// XOFF (Ctrl-S) or because nobody reads it: ruvo waits in a write.  A
// signal must still end it at once; the reset is left out if it cannot go.
struct stuck_case {
    const char* name;
    bool xoff; // else the test just stops reading
    int sig;
};

std::ostream& operator<<(std::ostream& os, const stuck_case& c)
{
    return os << c.name;
}

class on_a_stuck_terminal : public ::testing::TestWithParam<stuck_case> {};

TEST_P(on_a_stuck_terminal, TheSignalEndsTheRunAtOnce)
{
    const stuck_case& c = GetParam();
    pty term;
    ASSERT_GE(term.slave, 0) << "no pseudo-terminal";
    termios mode{};
    ASSERT_EQ(tcgetattr(term.slave, &mode), 0);
    mode.c_iflag |= IXON;
    ASSERT_EQ(tcsetattr(term.slave, TCSANOW, &mode), 0);
    const int zero = open_zero();
    const pid_t pid = start_ruvo({}, zero, term.slave);
    term.close_slave();
    close(zero);
    const std::string shown = drain(term.master, a_moment);
    ASSERT_GT(shown.size(), 1000u) << "ruvo drew nothing";
    if (c.xoff) {
        ASSERT_EQ(write(term.master, "\023", 1), 1) << "Ctrl-S";
    }
    std::this_thread::sleep_for(500ms); // ruvo now waits in a write
    ASSERT_EQ(kill(pid, c.sig), 0);
    EXPECT_EQ(wait_status(pid, 1s), 128 + c.sig) << "ruvo did not die within 1 s of the signal";
}

const stuck_case stuck[] = {
    {"unread_SIGTERM", false, SIGTERM},
    {"unread_SIGINT", false, SIGINT},
    {"xoff_SIGINT", true, SIGINT},
    {"xoff_SIGHUP", true, SIGHUP},
};
INSTANTIATE_TEST_SUITE_P(stuck, on_a_stuck_terminal, ::testing::ValuesIn(stuck),
                         [](const auto& info) { return std::string(info.param.name); });

// Reads one byte from fd within `limit`; -1 if none came.
int read_byte(int fd, std::chrono::milliseconds limit)
{
    pollfd p{fd, POLLIN, 0};
    unsigned char b = 0;
    if (poll(&p, 1, static_cast<int>(limit.count())) != 1 || read(fd, &b, 1) != 1)
        return -1;
    return b;
}

// Ctrl-Z as a shell with job control sees it: ruvo runs in a process group
// of its own, in the foreground of its controlling terminal, under a
// parent in the same session (a group without one is orphaned, and the
// system discards stop signals sent to it).  The colours go off before
// the stop, and after SIGCONT the dump goes on where it was.
TEST(stopped_by_ctrl_z, ColoursAreOffBeforeTheStopAndTheDumpGoesOn)
{
    pty term;
    ASSERT_GE(term.slave, 0) << "no pseudo-terminal";
    const char* slave_name = ptsname(term.master);
    ASSERT_NE(slave_name, nullptr);
    const std::string slave_path = slave_name;
    int input[2];
    int report[2]; // from the shell: ruvo's pid, 'S' at the stop, 'E' at the end
    ASSERT_EQ(pipe(input), 0);
    ASSERT_EQ(pipe(report), 0);
    const std::string binary = binary_under_test();

    const pid_t shell = fork();
    ASSERT_GE(shell, 0);
    if (shell == 0) {
        // The shell: only async-signal-safe calls from here on.
        close(report[0]);
        close(input[1]);
        close(term.master);
        close(term.slave);
        if (setsid() < 0)
            _exit(90);
        const int tty = open(slave_path.c_str(), O_RDWR);
        if (tty < 0)
            _exit(91);
        (void)ioctl(tty, TIOCSCTTY, 0); // where opening it did not do so already
        const pid_t job = fork();
        if (job == 0) {
            setpgid(0, 0);
            if (dup2(input[0], 0) < 0 || dup2(tty, 1) < 0)
                _exit(92);
            execl(binary.c_str(), binary.c_str(), static_cast<char*>(nullptr));
            _exit(93);
        }
        setpgid(job, job);
        if (tcsetpgrp(tty, job) != 0)
            _exit(94);
        (void)!write(report[1], &job, sizeof job);
        int raw = 0;
        if (waitpid(job, &raw, WUNTRACED) != job || !WIFSTOPPED(raw) || WSTOPSIG(raw) != SIGTSTP)
            _exit(95);
        (void)!write(report[1], "S", 1);
        if (waitpid(job, &raw, 0) != job)
            _exit(96);
        (void)!write(report[1], "E", 1);
        _exit(WIFEXITED(raw) ? WEXITSTATUS(raw) : 97);
    }
    close(report[1]);
    close(input[0]);
    term.close_slave();

    pid_t job = 0;
    pollfd ready{report[0], POLLIN, 0};
    ASSERT_EQ(poll(&ready, 1, 5000), 1) << "the shell did not start ruvo within 5 s";
    ASSERT_EQ(read(report[0], &job, sizeof job), static_cast<ssize_t>(sizeof job));

    // Two whole chunks are drawn; the rest of the first write waits in
    // ruvo for more input.  ruvo is idle, its output all read.
    const bytes data = random_bytes(6000, 51);
    ASSERT_EQ(write(input[1], data.data(), 3000), 3000);
    const std::string before =
        reference_dump(bytes(data.begin(), data.begin() + 2048), 0, 64, default_palette);
    std::string shown;
    EXPECT_TRUE(read_until(term.master, &shown, before.size(), the_rest))
        << "the first two chunks did not arrive within 5 s";

    ASSERT_EQ(write(term.master, "\032", 1), 1); // Ctrl-Z
    EXPECT_EQ(read_byte(report[0], the_rest), 'S') << "ruvo did not stop within 5 s of Ctrl-Z";
    shown += drain(term.master, a_moment);
    EXPECT_EQ(printable(shown), printable(before + "\033[m"))
        << "the colours were not switched off before the stop";

    ASSERT_EQ(kill(job, SIGCONT), 0);
    ASSERT_EQ(write(input[1], data.data() + 3000, 3000), 3000);
    close(input[1]);
    // Up to the end, when ruvo and the shell have closed the terminal.
    shown += drain(term.master, the_rest);
    EXPECT_EQ(read_byte(report[0], a_moment), 'E') << "ruvo did not end within 5 s of SIGCONT";
    const std::string all = reference_dump(data, 0, 64, default_palette);
    EXPECT_EQ(printable(shown),
              printable(all.substr(0, before.size()) + "\033[m" + all.substr(before.size())));
    EXPECT_EQ(wait_status(shell), 0);
    close(report[0]);
}

} // namespace
} // namespace ruvo::test
