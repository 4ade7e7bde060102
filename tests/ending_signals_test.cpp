// Signals that end a run: on a terminal ruvo switches the colours off
// before it dies of the signal; into a pipe it adds nothing; a signal
// ignored by its parent stays ignored; a stuck or hung-up terminal, a
// background job and odd descriptors never keep it from ending.
#include <gtest/gtest.h>

#include "job_shell.hpp"

namespace ruvo::test {
namespace {

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
    std::string shown;
    ASSERT_TRUE(read_until(term.master, &shown, 1000, the_rest))
        << "ruvo drew less than 1000 bytes within 5 s";
    ASSERT_EQ(kill(pid, sig), 0);
    shown += drain(term.master, the_rest);
    EXPECT_EQ(wait_status(pid), 128 + sig);
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
    ASSERT_EQ(cloexec_pipe(out), 0);
    const int zero = open_zero();
    const pid_t pid = start_ruvo({}, zero, out[1]);
    close(zero);
    close(out[1]);
    // Unread, the pipe fills and ruvo waits in the middle of a write.
    ASSERT_TRUE(blocked_in(pid, {SYS_write}, the_rest))
        << "ruvo did not wait in a write within 5 s";
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
    ASSERT_EQ(cloexec_pipe(in), 0);
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
    // The first chunk is drawn, then ruvo waits for the rest.
    std::string shown;
    EXPECT_TRUE(read_until(
        term.master, &shown,
        reference_dump(bytes(data.begin(), data.begin() + 1024), 0, 64, default_palette).size(),
        the_rest))
        << "the first chunk did not arrive within 5 s";
    ASSERT_TRUE(blocked_in(pid, {SYS_read}, the_rest)) << "ruvo did not wait for input within 5 s";
    ASSERT_EQ(kill(pid, SIGINT), 0);
    // A signal is acted on at once; 100 ms is ample even on a busy machine
    // for it to have been delivered before more input comes.
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
    pid_t pid = -1;
    ASSERT_TRUE(stuck_in_a_write(term, &pid, c.xoff));
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

// On a terminal whose output is stopped, the handler waits a tenth of a
// second for room, and not much more: the run ends by its signal then.
TEST(stuck, TheResetIsLeftOutAfterATenthOfASecond)
{
    for (int run = 0; run < 5; ++run) {
        SCOPED_TRACE("run " + std::to_string(run + 1) + " of 5");
        pty term;
        pid_t pid = -1;
        ASSERT_TRUE(stuck_in_a_write(term, &pid));
        const auto sent = std::chrono::steady_clock::now();
        ASSERT_EQ(kill(pid, SIGTERM), 0);
        EXPECT_EQ(wait_status(pid, 2s), 128 + SIGTERM);
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - sent);
        EXPECT_GE(took.count(), 90) << "the handler did not wait for room";
        EXPECT_LE(took.count(), 500) << "the handler waited for room too long";
    }
}

// A background job whose output the terminal stops (tostop) is stopped by
// SIGTTOU at its first write.  Killed and continued, it must end by the
// signal at once, without writing anything to the terminal on the way.
TEST(background_job, StoppedForTerminalOutputEndsWhenKilled)
{
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE("signal " + std::to_string(sig));
        pty term;
        ASSERT_GE(term.slave, 0) << "no pseudo-terminal";
        ASSERT_TRUE(set_mode(term.slave, [](termios& m) { m.c_lflag |= TOSTOP; }));
        const job_shell shell(term, {"/dev/zero"}, false);
        term.close_slave();
        ASSERT_EQ(shell.next(the_rest), (job_shell::event{'S', SIGTTOU}))
            << "the background job was not stopped for terminal output within 5 s";
        ASSERT_EQ(kill(shell.job(), sig), 0);
        ASSERT_EQ(kill(shell.job(), SIGCONT), 0);
        EXPECT_EQ(shell.next(1s), (job_shell::event{'K', sig}))
            << "the job did not end by the signal within 1 s";
        EXPECT_EQ(printable(drain(term.master, a_moment)), printable(""))
            << "the background job wrote to the terminal";
    }
}

// A background job may write to a terminal without tostop, so a signal
// that ends it switches the colours off there too.
TEST(background_job, WithoutTostopEndsWithTheReset)
{
    pty term;
    ASSERT_GE(term.slave, 0) << "no pseudo-terminal";
    const job_shell shell(term, {"/dev/zero"}, false);
    term.close_slave();
    std::string shown;
    ASSERT_TRUE(read_until(term.master, &shown, 1000, the_rest))
        << "the background job drew less than 1000 bytes within 5 s";
    ASSERT_EQ(kill(shell.job(), SIGTERM), 0);
    job_shell::event e;
    const auto deadline = std::chrono::steady_clock::now() + the_rest;
    while (e.kind == 0 && std::chrono::steady_clock::now() < deadline) {
        shown += drain(term.master, 10ms);
        e = shell.next(0ms);
    }
    shown += drain(term.master, a_moment);
    EXPECT_EQ(e, (job_shell::event{'K', SIGTERM})) << "the job did not end by SIGTERM within 5 s";
    EXPECT_EQ(printable(shown.substr(shown.size() - 3)), printable("\033[m"));
}

// A terminal that has hung up takes nothing, and says so at once: the
// handler does not wait for room that cannot come.
TEST(odd_descriptors, OnAHungUpTerminalASignalEndsTheRunAtOnce)
{
    int input[2];
    ASSERT_EQ(cloexec_pipe(input), 0);
    int slave = -1;
    pid_t pid = -1;
    {
        pty term;
        ASSERT_GE(term.slave, 0) << "no pseudo-terminal";
        slave = dup(term.slave);
        pid = start_ruvo({}, input[0], term.slave);
        close(input[0]);
        ASSERT_TRUE(blocked_in(pid, {SYS_read}, the_rest))
            << "ruvo did not wait for input within 5 s";
    } // the master is closed: the terminal hangs up
    close(slave);
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    EXPECT_EQ(wait_status(pid, 1s), 128 + SIGTERM);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - sent);
    close(input[1]);
    EXPECT_LT(took.count(), 50) << "ruvo took " << took.count() << " ms to die of SIGTERM";
}

// Standard output a terminal, and standard error closed, or descriptors
// so scarce that an input takes the last one: ruvo needs no descriptor of
// its own for the terminal, so messages stay off the terminal and inputs
// still open.
TEST(odd_descriptors, ClosedStandardErrorStaysClosed)
{
    const bytes data = random_bytes(500, 55);
    const scratch dir({{"f", data}});
    pty term;
    ASSERT_GE(term.slave, 0) << "no pseudo-terminal";
    const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
    start_options how;
    how.close_err = true;
    const pid_t pid = start_ruvo({dir.dir() + "/missing", dir.dir() + "/f"}, null, term.slave, how);
    close(null);
    term.close_slave();
    const std::string shown = drain(term.master, the_rest);
    EXPECT_EQ(wait_status(pid), 1);
    EXPECT_EQ(printable(shown), printable(header(dir.dir() + "/f", false) +
                                          reference_dump(data, 0, 64, default_palette)));
}

TEST(odd_descriptors, ScarceDescriptorsStillOpenTheInput)
{
    const bytes data = random_bytes(500, 56);
    const scratch dir({{"f", data}});
    pty term;
    ASSERT_GE(term.slave, 0) << "no pseudo-terminal";
    const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
    start_options how;
    how.err = term.slave;
    how.max_files = 4; // 0, 1, 2 and one more
    const pid_t pid = start_ruvo({dir.dir() + "/f"}, null, term.slave, how);
    close(null);
    term.close_slave();
    const std::string shown = drain(term.master, the_rest);
    EXPECT_EQ(wait_status(pid), 0);
    EXPECT_EQ(printable(shown), printable(reference_dump(data, 0, 64, default_palette)));
}

// Killed while its handler waits for room on a stopped terminal that ruvo
// may write to but not open by name (as under su): the terminal's open
// file description, which the shell shares, keeps its flags.
TEST(odd_descriptors, AKillInTheHandlerLeavesTheTerminalAsItWas)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "not run: needs root, to run ruvo as a user who cannot open the terminal";
    pty term;
    ASSERT_GE(term.slave, 0) << "no pseudo-terminal";
    ASSERT_TRUE(set_mode(term.slave, [](termios& m) { m.c_iflag |= IXON; }));
    ASSERT_EQ(fchmod(term.slave, 0600), 0);
    const int flags = fcntl(term.slave, F_GETFL);
    const int zero = open_zero();
    start_options how;
    how.user = 65534; // nobody
    const pid_t pid = start_ruvo({}, zero, term.slave, how);
    close(zero);
    ASSERT_TRUE(waiting_in_a_write(term, pid));
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    // The kill comes while the handler waits for room.
    ASSERT_TRUE(blocked_in(pid, {SYS_poll, SYS_ppoll}, the_rest))
        << "ruvo's handler did not wait for room within 5 s";
    kill(pid, SIGKILL);
    const int status = wait_status(pid);
    EXPECT_TRUE(status == 128 + SIGTERM || status == 128 + SIGKILL) << status;
    EXPECT_EQ(fcntl(term.slave, F_GETFL), flags) << "the terminal's flags changed";
}

// Standard output the master of a pseudo-terminal: the reset goes to that
// very terminal, and no other one is made.
TEST(odd_descriptors, ResetOnAPseudoTerminalMasterGoesToIt)
{
    pty term;
    ASSERT_GE(term.slave, 0) << "no pseudo-terminal";
    ASSERT_TRUE(set_mode(term.slave, [](termios& m) { cfmakeraw(&m); }));
    const int zero = open_zero();
    const pid_t pid = start_ruvo({}, zero, term.master);
    close(zero);
    std::string shown;
    ASSERT_TRUE(read_until(term.slave, &shown, 1000, the_rest))
        << "ruvo drew less than 1000 bytes within 5 s";
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    // The slave sees no end when ruvo ends: read on until it is dead, so
    // that the reset finds room, then a moment more.
    int raw = 0;
    pid_t got = 0;
    const auto deadline = std::chrono::steady_clock::now() + the_rest;
    while ((got = waitpid(pid, &raw, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
        shown += drain(term.slave, 10ms);
    shown += drain(term.slave, a_moment);
    if (got != pid) {
        (void)wait_status(pid, 0ms);
        FAIL() << "ruvo did not die within 5 s of SIGTERM";
    }
    EXPECT_TRUE(WIFSIGNALED(raw) && WTERMSIG(raw) == SIGTERM);
    ASSERT_GT(shown.size(), 1000u) << "ruvo drew nothing before the signal";
    EXPECT_EQ(printable(shown.substr(shown.size() - 3)), printable("\033[m"));
}

} // namespace
} // namespace ruvo::test
