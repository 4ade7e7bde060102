// An interrupted dump: on a terminal ruvo switches the colours off before
// it dies of the signal; into a pipe it adds nothing; a signal ignored by
// its parent stays ignored.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "e2e.hpp"
#include "support.hpp"

namespace ruvo::test {
namespace {

using namespace std::chrono_literals;

// fopen(3) calls open(2) or openat(2), as the C library likes; the first
// is not on every architecture.
#if defined(SYS_open)
#define RUVO_SYS_OPEN SYS_open,
#else
#define RUVO_SYS_OPEN
#endif

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

// Changes the terminal's mode, as stty would: `change` edits its termios.
template <typename Change> bool set_mode(int fd, Change change)
{
    termios mode{};
    if (tcgetattr(fd, &mode) != 0)
        return false;
    change(mode);
    return tcsetattr(fd, TCSANOW, &mode) == 0;
}

// Waits for ruvo (pid) to draw on the terminal, then, with `xoff`, stops
// the terminal's output (Ctrl-S; the terminal needs IXON), and waits until
// ruvo waits in a write: the terminal takes no more.
::testing::AssertionResult waiting_in_a_write(const pty& term, pid_t pid, bool xoff = true)
{
    std::string shown;
    if (!read_until(term.master, &shown, 1000, the_rest))
        return ::testing::AssertionFailure() << "ruvo drew less than 1000 bytes within 5 s";
    if (xoff && write(term.master, "\023", 1) != 1)
        return ::testing::AssertionFailure() << "Ctrl-S could not be typed";
    if (!blocked_in(pid, {SYS_write}, the_rest))
        return ::testing::AssertionFailure() << "ruvo did not wait in a write within 5 s";
    return ::testing::AssertionSuccess();
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
    ASSERT_EQ(pipe(out), 0);
    fcntl(out[0], F_SETFD, FD_CLOEXEC);
    fcntl(out[1], F_SETFD, FD_CLOEXEC);
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
    ASSERT_GE(term.slave, 0) << "no pseudo-terminal";
    ASSERT_TRUE(set_mode(term.slave, [](termios& m) { m.c_iflag |= IXON; }));
    const int zero = open_zero();
    const pid_t pid = start_ruvo({}, zero, term.slave);
    term.close_slave();
    close(zero);
    ASSERT_TRUE(waiting_in_a_write(term, pid, c.xoff));
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

// A shell with job control, as far as these tests need one: a session of
// its own on the terminal, and ruvo as a job in a process group of its own,
// in the foreground or in the background, with its standard output and
// error on the terminal.  The shell reports each change of the job's state,
// as `wait` with WUNTRACED sees it.  (A job needs a parent in its session:
// a group without one is orphaned, and the system discards stop signals
// sent to it.)
class job_shell {
  public:
    struct event {
        char kind = 0; // 'S' stopped, 'E' exited, 'K' killed by a signal; 0: none came
        int value = 0; // the stop signal, the exit status, the fatal signal
    };

    // `how` may block SIGALRM for the job and set an alarm before its exec.
    job_shell(const pty& term, const std::vector<std::string>& args, bool foreground, int in = -1,
              const start_options& how = {})
    {
        const char* slave_name = ptsname(term.master);
        if (slave_name == nullptr || pipe(report_) != 0)
            throw std::runtime_error("no terminal name, or no pipe");
        const std::string slave_path = slave_name;
        const std::string binary = binary_under_test();
        std::vector<char*> argv{const_cast<char*>(binary.c_str())};
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);

        shell_ = fork();
        if (shell_ < 0)
            throw std::runtime_error("fork");
        if (shell_ == 0)
            run_shell(slave_path, argv.data(), foreground, in, how);
        note_started(-shell_); // its session's group; the job has its own
        close(report_[1]);
        pollfd ready{report_[0], POLLIN, 0};
        if (poll(&ready, 1, 5000) != 1 ||
            read(report_[0], &job_, sizeof job_) != static_cast<ssize_t>(sizeof job_))
            throw std::runtime_error("the shell did not start ruvo within 5 s");
        note_started(-job_);
    }

    ~job_shell()
    {
        // The job's group, unless the shell has reaped the job already.
        if (!ended_)
            kill(-job_, SIGKILL);
        note_ended(-job_);
        kill(-shell_, SIGKILL);
        (void)wait_status(shell_, 5s);
        note_ended(-shell_);
        close(report_[0]);
    }
    job_shell(const job_shell&) = delete;
    job_shell& operator=(const job_shell&) = delete;

    pid_t job() const { return job_; }
    int reports() const { return report_[0]; }

    // The next change of the job's state, if one comes within `limit`.
    event next(std::chrono::milliseconds limit) const
    {
        if (ended_)
            return {};
        event e;
        pollfd p{report_[0], POLLIN, 0};
        int got[2];
        if (poll(&p, 1, static_cast<int>(limit.count())) == 1 &&
            read(report_[0], got, sizeof got) == static_cast<ssize_t>(sizeof got)) {
            e.kind = static_cast<char>(got[0]);
            e.value = got[1];
            ended_ = e.kind != 'S';
        }
        return e;
    }

  private:
    // The shell's side: only async-signal-safe calls, then _exit.
    [[noreturn]] void run_shell(const std::string& slave_path, char** argv, bool foreground, int in,
                                const start_options& how)
    {
        // Nothing of the test's but the report and the job's input: a
        // pipe end left open here would keep ruvo from seeing its end.
        for (int fd = 3; fd < 1024; ++fd)
            if (fd != report_[1] && fd != in)
                close(fd);
        if (setsid() < 0)
            _exit(90);
        const int tty = open(slave_path.c_str(), O_RDWR);
        if (tty < 0)
            _exit(91);
        (void)ioctl(tty, TIOCSCTTY, 0); // where opening it did not do so already
        const pid_t job = fork();
        if (job == 0) {
            setpgid(0, 0);
            if (in < 0)
                in = open("/dev/null", O_RDONLY);
            if (dup2(in, 0) < 0 || dup2(tty, 1) < 0 || dup2(tty, 2) < 0)
                _exit(92);
            if (how.block_alarm) {
                sigset_t alarm_only;
                sigemptyset(&alarm_only);
                sigaddset(&alarm_only, SIGALRM);
                (void)sigprocmask(SIG_BLOCK, &alarm_only, nullptr);
            }
            if (how.alarm > 0)
                (void)alarm(how.alarm);
            execv(argv[0], argv);
            _exit(93);
        }
        setpgid(job, job);
        if (foreground && tcsetpgrp(tty, job) != 0)
            _exit(94);
        (void)!write(report_[1], &job, sizeof job);
        for (;;) {
            int raw = 0;
            if (waitpid(job, &raw, WUNTRACED) != job)
                _exit(95);
            int e[2] = {'S', 0};
            if (WIFSTOPPED(raw))
                e[1] = WSTOPSIG(raw);
            else if (WIFEXITED(raw))
                e[0] = 'E', e[1] = WEXITSTATUS(raw);
            else
                e[0] = 'K', e[1] = WTERMSIG(raw);
            (void)!write(report_[1], e, sizeof e);
            if (e[0] != 'S')
                _exit(0);
        }
    }

    int report_[2] = {-1, -1};
    pid_t shell_ = -1;
    pid_t job_ = -1;
    mutable bool ended_ = false; // reported, and so reaped: its pid is no longer ours
};

std::ostream& operator<<(std::ostream& os, const job_shell::event& e)
{
    if (e.kind == 0)
        return os << "nothing";
    return os << (e.kind == 'S'   ? "stopped by "
                  : e.kind == 'E' ? "exited with "
                                  : "killed by ")
              << e.value;
}

bool operator==(const job_shell::event& a, const job_shell::event& b)
{
    return a.kind == b.kind && a.value == b.value;
}

int pipe_for_ruvo(int ends[2])
{
    const int r = pipe(ends);
    fcntl(ends[0], F_SETFD, FD_CLOEXEC);
    fcntl(ends[1], F_SETFD, FD_CLOEXEC);
    return r;
}

// Ctrl-Z as a shell with job control sees it.  The colours go off before
// the stop, and after SIGCONT the dump goes on where it was, on a line of
// its own.
TEST(stopped_by_ctrl_z, ColoursAreOffBeforeTheStopAndTheDumpGoesOn)
{
    pty term;
    ASSERT_GE(term.slave, 0) << "no pseudo-terminal";
    int input[2];
    ASSERT_EQ(pipe_for_ruvo(input), 0);
    const job_shell shell(term, {}, true, input[0]);
    close(input[0]);
    term.close_slave();

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
    EXPECT_EQ(shell.next(the_rest), (job_shell::event{'S', SIGTSTP}))
        << "ruvo did not stop within 5 s of Ctrl-Z";
    shown += drain(term.master, a_moment);
    EXPECT_EQ(printable(shown), printable(before + "\033[m"))
        << "the colours were not switched off before the stop";

    ASSERT_EQ(kill(shell.job(), SIGCONT), 0);
    ASSERT_EQ(write(input[1], data.data() + 3000, 3000), 3000);
    close(input[1]);
    // Up to the end, when ruvo and the shell have closed the terminal.
    shown += drain(term.master, the_rest);
    EXPECT_EQ(shell.next(a_moment), (job_shell::event{'E', 0}))
        << "ruvo did not end within 5 s of SIGCONT";
    const std::string all = reference_dump(data, 0, 64, default_palette);
    // The terminal may have thrown the end of what was queued away: the
    // dump goes on after a whole reset, on a line of its own.
    EXPECT_EQ(printable(shown), printable(all.substr(0, before.size()) + "\033[m" + "\033[m\n" +
                                          all.substr(before.size())));
}

// Stopped while it waits in open(2) for a FIFO's writer: after `fg` it
// still waits, and the FIFO is drawn once a writer comes.
TEST(stopped_by_ctrl_z, AnOpenThatWaitsGoesOnAfterTheStop)
{
    pty term;
    ASSERT_GE(term.slave, 0) << "no pseudo-terminal";
    const bytes data = random_bytes(300, 52);
    const bytes after = random_bytes(200, 53);
    const scratch dir({{"after", after}});
    const std::string fifo = dir.dir() + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const job_shell shell(term, {fifo, dir.dir() + "/after"}, true);
    term.close_slave();

    ASSERT_TRUE(blocked_in(shell.job(), {RUVO_SYS_OPEN SYS_openat}, the_rest))
        << "ruvo did not wait in open(2) within 5 s";
    ASSERT_EQ(write(term.master, "\032", 1), 1);
    ASSERT_EQ(shell.next(the_rest), (job_shell::event{'S', SIGTSTP}))
        << "ruvo did not stop within 5 s of Ctrl-Z";
    ASSERT_EQ(kill(shell.job(), SIGCONT), 0);
    ASSERT_TRUE(blocked_in(shell.job(), {RUVO_SYS_OPEN SYS_openat}, the_rest))
        << "ruvo did not wait in open(2) again within 5 s of SIGCONT";

    // Non-blocking, so that a reader that has gone cannot hold the test.
    int writer = -1;
    const auto deadline = std::chrono::steady_clock::now() + the_rest;
    while (writer < 0 && std::chrono::steady_clock::now() < deadline) {
        writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (writer < 0)
            std::this_thread::sleep_for(10ms);
    }
    ASSERT_GE(writer, 0) << "ruvo did not open the FIFO within 5 s of SIGCONT";
    ASSERT_EQ(write(writer, data.data(), data.size()), static_cast<ssize_t>(data.size()));
    close(writer);
    const std::string shown = drain(term.master, the_rest);
    EXPECT_EQ(shell.next(a_moment), (job_shell::event{'E', 0})) << printable(shown);
    EXPECT_EQ(printable(shown), printable(std::string("\033[m") + "\033[m\n" + header(fifo, true) +
                                          reference_dump(data, 0, 64, default_palette) +
                                          header(dir.dir() + "/after", false) +
                                          reference_dump(after, 0, 64, default_palette)));
}

// Whether `shown` is the dump up to some cut, the handler's reset, and
// then, after the stop, a whole reset, a new line (left out only where the
// terminal kept everything, `none_lost`, and the cut fell at a line's
// start) and the rest of the dump from the start of a line: the cut line
// itself, or with output thrown away at the stop, a later one.
::testing::AssertionResult resumes_from_a_line(const std::string& shown, const std::string& dump,
                                               bool none_lost)
{
    std::size_t same = 0;
    while (same < shown.size() && same < dump.size() && shown[same] == dump[same])
        ++same;
    const std::string resets = "\033[m\033[m";
    // The reset may share its first bytes with the dump's own line end.
    for (std::size_t cut = same >= 5 ? same - 5 : 0; cut <= same; ++cut) {
        if (shown.compare(cut, resets.size(), resets) != 0)
            continue;
        const std::size_t line = cut == 0 ? 0 : dump.rfind('\n', cut - 1) + 1;
        const bool newline = !(none_lost && line == cut);
        const std::size_t after = cut + resets.size() + (newline ? 1 : 0);
        if (newline && shown.compare(cut + resets.size(), 1, "\n") != 0)
            continue;
        const std::size_t rest = shown.size() - after;
        if (rest > dump.size())
            continue;
        const std::size_t from = dump.size() - rest;
        if (dump.compare(from, rest, shown, after, rest) == 0 &&
            (from == 0 || dump[from - 1] == '\n') && from >= line && (!none_lost || from == line))
            return ::testing::AssertionSuccess();
    }
    const std::size_t around = same > 60 ? same - 60 : 0;
    return ::testing::AssertionFailure() << "the output leaves the dump at byte " << same
                                         << ":\n  dump:  " << printable(dump.substr(around, 160))
                                         << "\n  shown: " << printable(shown.substr(around, 160));
}

// Stopped in the middle of a write to a busy terminal, the output is cut
// anywhere: inside a cell's escape sequence, inside the half block's three
// bytes.  With the terminal's default settings Ctrl-Z also throws away what
// was queued for it; with noflsh nothing is lost.  After `fg` the dump
// goes on from the start of a line, on a line of its own.
class stopped_busy : public ::testing::TestWithParam<bool> {};

TEST_P(stopped_busy, TheDumpGoesOnFromTheStartOfTheCutLine)
{
    const bool noflsh = GetParam();
    const bytes data = random_bytes(256 * 1024, 54);
    const std::string all = reference_dump(data, 0, 64, default_palette);
    const scratch dir({{"data", data}});
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE("run " + std::to_string(run + 1) + " of 3");
        pty term;
        ASSERT_GE(term.slave, 0) << "no pseudo-terminal";
        if (noflsh) {
            ASSERT_TRUE(set_mode(term.slave, [](termios& m) { m.c_lflag |= NOFLSH; }));
        }
        const job_shell shell(term, {dir.dir() + "/data"}, true);
        term.close_slave();
        std::string shown;
        ASSERT_TRUE(read_until(term.master, &shown, 100000, the_rest))
            << "ruvo drew less than 100 kB within 5 s";
        // The terminal fills: ruvo waits in a write, with output queued.
        ASSERT_TRUE(blocked_in(shell.job(), {SYS_write}, the_rest))
            << "ruvo did not wait in a write within 5 s";
        ASSERT_EQ(write(term.master, "\032", 1), 1);
        // Read on, so that the reset finds room, until the stop.
        job_shell::event stop;
        const auto deadline = std::chrono::steady_clock::now() + the_rest;
        while (stop.kind == 0 && std::chrono::steady_clock::now() < deadline) {
            shown += drain(term.master, 20ms);
            stop = shell.next(0ms);
        }
        ASSERT_EQ(stop, (job_shell::event{'S', SIGTSTP})) << "ruvo did not stop within 5 s";
        shown += drain(term.master, 50ms);
        ASSERT_EQ(kill(shell.job(), SIGCONT), 0);
        EXPECT_TRUE(read_until(term.master, &shown, std::string::npos, 10s))
            << "ruvo did not finish within 10 s of SIGCONT";
        EXPECT_EQ(shell.next(a_moment), (job_shell::event{'E', 0}));
        EXPECT_TRUE(resumes_from_a_line(shown, all, noflsh));
    }
}

INSTANTIATE_TEST_SUITE_P(stty, stopped_busy, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "noflsh" : "default"; });

// A SIGCONT while ruvo waits in a write to a terminal that nobody reads
// cuts that write short, anywhere in a line; the next write then waits
// before its first byte, and a stop comes there.  After the stop the dump
// must go on from the start of the cut line, on a line of its own, and
// never from where the write stood: the terminal may have thrown away
// everything up to the stop, and the rest of a cell's sequence alone
// shows as text.
TEST(stopped_by_ctrl_z, AStopAfterASIGCONTStillResendsTheCutLine)
{
    const bytes data = random_bytes(512 * 1024, 33);
    const std::string all = reference_dump(data, 0, 64, default_palette);
    const scratch dir({{"data", data}});
    for (int run = 0; run < 5; ++run) {
        SCOPED_TRACE("run " + std::to_string(run + 1) + " of 5");
        pty term;
        ASSERT_GE(term.slave, 0) << "no pseudo-terminal";
        const job_shell shell(term, {dir.dir() + "/data"}, true);
        term.close_slave();
        std::string before;
        ASSERT_TRUE(read_until(term.master, &before, 100000, the_rest))
            << "ruvo drew less than 100 kB within 5 s";
        ASSERT_TRUE(blocked_in(shell.job(), {SYS_write}, the_rest))
            << "ruvo did not wait in a write within 5 s";
        const auto writes = proc_field(shell.job(), "io", "syscw");
        ASSERT_EQ(kill(shell.job(), SIGCONT), 0);
        // The write that the SIGCONT cut short returns, and the next one
        // waits; had the first not sent a byte yet, it goes on waiting.
        const auto deadline = std::chrono::steady_clock::now() + 1s;
        while (proc_field(shell.job(), "io", "syscw") == writes &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        ASSERT_TRUE(blocked_in(shell.job(), {SYS_write}, the_rest))
            << "ruvo did not wait in a write again within 5 s of SIGCONT";
        ASSERT_EQ(kill(shell.job(), SIGTSTP), 0);
        ASSERT_EQ(shell.next(the_rest), (job_shell::event{'S', SIGTSTP}))
            << "ruvo did not stop within 5 s";
        // Everything written before the stop: a part of the dump.
        before += drain(term.master, 50ms);
        ASSERT_LE(before.size(), all.size());
        ASSERT_EQ(all.compare(0, before.size(), before), 0)
            << "before the stop, the output left the dump";
        ASSERT_EQ(kill(shell.job(), SIGCONT), 0);
        std::string after;
        EXPECT_TRUE(read_until(term.master, &after, std::string::npos, 10s))
            << "ruvo did not finish within 10 s of SIGCONT";
        EXPECT_EQ(shell.next(a_moment), (job_shell::event{'E', 0}));
        const std::size_t line = before.empty() ? 0 : all.rfind('\n', before.size() - 1) + 1;
        const std::string want = "\033[m\n" + all.substr(line);
        EXPECT_TRUE(after == want)
            << "after the stop, the output begins with\n  " << printable(after.substr(0, 120))
            << "\nand not with\n  " << printable(want.substr(0, 120));
    }
}

// Signals sent by a script or a supervisor to a run whose terminal is
// stopped (Ctrl-S), so that the handler waits for room for a while: a
// SIGCONT after a SIGTSTP leaves ruvo running, however many SIGTSTPs came
// first, and several SIGTSTPs make one stop; as for any program without
// a handler.
struct sequence_case {
    const char* name;
    std::vector<int> signals;
    int stops; // how many stops the job shows before it runs to its end
};

std::ostream& operator<<(std::ostream& os, const sequence_case& c)
{
    return os << c.name;
}

class signals_sent_at_once : public ::testing::TestWithParam<sequence_case> {};

TEST_P(signals_sent_at_once, StopAndContinueAsWithoutAHandler)
{
    const sequence_case& c = GetParam();
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE("run " + std::to_string(run + 1) + " of 3");
        pty term;
        ASSERT_GE(term.slave, 0) << "no pseudo-terminal";
        ASSERT_TRUE(set_mode(term.slave, [](termios& m) { m.c_iflag |= IXON; }));
        const job_shell shell(term, {"-r", "0-300000", "/dev/zero"}, true);
        term.close_slave();
        ASSERT_TRUE(waiting_in_a_write(term, shell.job()));
        for (const int sig : c.signals)
            ASSERT_EQ(kill(shell.job(), sig), 0);
        ASSERT_EQ(write(term.master, "\021", 1), 1) << "Ctrl-Q";
        int stops = 0;
        job_shell::event e;
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (e.kind != 'E' && e.kind != 'K' && std::chrono::steady_clock::now() < deadline) {
            (void)drain(term.master, 10ms);
            e = shell.next(0ms);
            if (e.kind == 'S' && ++stops > c.stops)
                break;
            if (e.kind == 'S') {
                ASSERT_EQ(kill(shell.job(), SIGCONT), 0);
            }
        }
        EXPECT_EQ(stops, c.stops) << "the job stopped more often than a plain program would";
        EXPECT_EQ(e, (job_shell::event{'E', 0}))
            << "ruvo did not run to its end within 10 s of the signals";
    }
}

const sequence_case sequences[] = {
    {"SIGTSTP_SIGCONT", {SIGTSTP, SIGCONT}, 0},
    {"SIGTSTP_SIGTSTP_SIGCONT", {SIGTSTP, SIGTSTP, SIGCONT}, 0},
    {"SIGTSTP_SIGTSTP", {SIGTSTP, SIGTSTP}, 1},
};
INSTANTIATE_TEST_SUITE_P(sequences, signals_sent_at_once, ::testing::ValuesIn(sequences),
                         [](const auto& info) { return std::string(info.param.name); });

// SIGALRM belongs to the user: ruvo's handlers never take it from them.
// One that somebody sends while a handler waits for room ends the run as
// it would end any program; an alarm set before exec goes off when it was
// set to, however often the run is stopped; and with SIGALRM blocked by
// the parent, a signal still ends a run on a stopped terminal at once.
TEST(alarms_are_the_users, ASentAlarmEndsTheRunDuringTheHandlersWait)
{
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE("run " + std::to_string(run + 1) + " of 3");
        pty term;
        ASSERT_GE(term.slave, 0) << "no pseudo-terminal";
        ASSERT_TRUE(set_mode(term.slave, [](termios& m) { m.c_iflag |= IXON; }));
        const job_shell shell(term, {"/dev/zero"}, true);
        term.close_slave();
        ASSERT_TRUE(waiting_in_a_write(term, shell.job()));
        ASSERT_EQ(kill(shell.job(), SIGTSTP), 0);
        ASSERT_TRUE(blocked_in(shell.job(), {SYS_poll, SYS_ppoll}, the_rest))
            << "ruvo's handler did not wait for room within 5 s";
        ASSERT_EQ(kill(shell.job(), SIGALRM), 0);
        EXPECT_EQ(shell.next(the_rest), (job_shell::event{'K', SIGALRM}))
            << "ruvo did not die of the SIGALRM within 5 s";
    }
}

TEST(alarms_are_the_users, AnAlarmSetBeforeExecGoesOffOnTimeThroughStops)
{
    pty term;
    ASSERT_GE(term.slave, 0) << "no pseudo-terminal";
    int input[2];
    ASSERT_EQ(pipe(input), 0);
    fcntl(input[1], F_SETFD, FD_CLOEXEC);
    start_options how;
    how.alarm = 2;
    const auto started = std::chrono::steady_clock::now();
    const pid_t pid = start_ruvo({}, input[0], term.slave, how);
    close(input[0]);
    // Stopped and continued every 300 ms, the run waits for input that
    // never comes, until the alarm ends it.
    int raw = 0;
    pid_t got = 0;
    while ((got = waitpid(pid, &raw, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() - started < 5s) {
        std::this_thread::sleep_for(300ms);
        (void)drain(term.master, 0ms);
        (void)kill(pid, SIGTSTP);
        (void)waitpid(pid, &raw, WUNTRACED);
        if (WIFSTOPPED(raw))
            (void)kill(pid, SIGCONT);
        else
            got = pid;
        if (got == pid)
            break;
    }
    const auto lasted = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started);
    close(input[1]);
    if (got != pid)
        (void)wait_status(pid, 0ms);
    else
        note_ended(pid);
    ASSERT_EQ(got, pid) << "the alarm set for 2 s had not gone off after 5 s";
    EXPECT_TRUE(WIFSIGNALED(raw) && WTERMSIG(raw) == SIGALRM) << "status " << raw;
    // 2 s, give or take the 300 ms of a round of the loop that sees it.
    EXPECT_GE(lasted.count(), 1950) << "the alarm went off early";
    EXPECT_LE(lasted.count(), 2400) << "the alarm went off late";
}

TEST(alarms_are_the_users, WithSIGALRMBlockedASignalStillEndsAStuckRun)
{
    pty term;
    ASSERT_GE(term.slave, 0) << "no pseudo-terminal";
    ASSERT_TRUE(set_mode(term.slave, [](termios& m) { m.c_iflag |= IXON; }));
    const int zero = open_zero();
    start_options how;
    how.block_alarm = true;
    const pid_t pid = start_ruvo({}, zero, term.slave, how);
    close(zero);
    ASSERT_TRUE(waiting_in_a_write(term, pid));
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    EXPECT_EQ(wait_status(pid, 1s), 128 + SIGTERM) << "ruvo did not die within 1 s of SIGTERM";
}

// An ending signal on a stopped terminal (Ctrl-S), so that its handler
// waits for room, then a SIGALRM while it waits: the run still ends by the
// signal that ended it, as a program without a handler ends at once.
TEST(alarms_are_the_users, AnAlarmDuringTheResetDoesNotChangeWhatEndedTheRun)
{
    for (const int sig : {SIGINT, SIGTERM}) {
        for (int run = 0; run < 5; ++run) {
            SCOPED_TRACE("signal " + std::to_string(sig) + ", run " + std::to_string(run + 1) +
                         " of 5");
            pty term;
            ASSERT_GE(term.slave, 0) << "no pseudo-terminal";
            ASSERT_TRUE(set_mode(term.slave, [](termios& m) { m.c_iflag |= IXON; }));
            const int zero = open_zero();
            const pid_t pid = start_ruvo({}, zero, term.slave);
            term.close_slave();
            close(zero);
            ASSERT_TRUE(waiting_in_a_write(term, pid));
            ASSERT_EQ(kill(pid, sig), 0);
            ASSERT_TRUE(blocked_in(pid, {SYS_poll, SYS_ppoll}, the_rest))
                << "ruvo's handler did not wait for room within 5 s";
            ASSERT_EQ(kill(pid, SIGALRM), 0);
            EXPECT_EQ(wait_status(pid, 2s), 128 + sig);
        }
    }
}

// The SIGALRM of a timer that the parent set with SIGALRM blocked is
// pending when ruvo is stopped and continued, and stays pending and
// blocked: ruvo never takes it.
TEST(alarms_are_the_users, APendingBlockedAlarmStaysPendingThroughAStop)
{
    const unsigned long long alarm_bit = 1ULL << (SIGALRM - 1);
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE("run " + std::to_string(run + 1) + " of 3");
        pty term;
        ASSERT_GE(term.slave, 0) << "no pseudo-terminal";
        int input[2];
        ASSERT_EQ(pipe_for_ruvo(input), 0);
        start_options how;
        how.block_alarm = true;
        how.alarm = 1;
        const job_shell shell(term, {}, true, input[0], how);
        term.close_slave();
        close(input[0]);
        const pid_t pid = shell.job();
        const auto deadline = std::chrono::steady_clock::now() + 3s;
        while ((proc_field(pid, "status", "ShdPnd", true) & alarm_bit) == 0 &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(10ms);
        ASSERT_NE(proc_field(pid, "status", "ShdPnd", true) & alarm_bit, 0U)
            << "the blocked alarm set for 1 s was not pending after 3 s";
        ASSERT_EQ(kill(pid, SIGTSTP), 0);
        ASSERT_EQ(shell.next(the_rest), (job_shell::event{'S', SIGTSTP}))
            << "ruvo did not stop within 5 s";
        ASSERT_EQ(kill(pid, SIGCONT), 0);
        (void)drain(term.master, 50ms);
        ASSERT_TRUE(blocked_in(pid, {SYS_read}, the_rest))
            << "ruvo did not wait for input again within 5 s of SIGCONT";
        EXPECT_NE(proc_field(pid, "status", "ShdPnd", true) & alarm_bit, 0U)
            << "the pending SIGALRM is gone";
        EXPECT_NE(proc_field(pid, "status", "SigBlk", true) & alarm_bit, 0U)
            << "SIGALRM is no longer blocked";
        close(input[1]);
        EXPECT_EQ(shell.next(the_rest), (job_shell::event{'E', 0}))
            << "ruvo did not end within 5 s of the end of its input";
    }
}

// An alarm set before exec that falls due while the stop handler waits
// for room on a stopped terminal (Ctrl-S) ends the run when it falls due,
// as it ends a stopped program.
TEST(alarms_are_the_users, AnAlarmDueDuringTheResetGoesOffOnTime)
{
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE("run " + std::to_string(run + 1) + " of 3");
        pty term;
        ASSERT_GE(term.slave, 0) << "no pseudo-terminal";
        ASSERT_TRUE(set_mode(term.slave, [](termios& m) { m.c_iflag |= IXON; }));
        start_options how;
        how.alarm = 1;
        const auto started = std::chrono::steady_clock::now();
        const job_shell shell(term, {"/dev/zero"}, true, -1, how);
        term.close_slave();
        ASSERT_TRUE(waiting_in_a_write(term, shell.job()));
        // 30 ms before the alarm, so that it falls due inside the
        // handler's 100 ms wait for room.
        std::this_thread::sleep_until(started + 970ms);
        ASSERT_EQ(kill(shell.job(), SIGTSTP), 0);
        const job_shell::event end = shell.next(3s);
        const auto lasted = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - started);
        EXPECT_EQ(end, (job_shell::event{'K', SIGALRM}))
            << "ruvo was not ended by its alarm within 3 s";
        EXPECT_LE(lasted.count(), 1040) << "the alarm went off late";
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
    ASSERT_EQ(pipe_for_ruvo(input), 0);
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
