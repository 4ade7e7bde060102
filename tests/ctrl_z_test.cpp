// Ctrl-Z and fg: the colours go off before the stop, and the dump goes on
// from the start of the cut line, on a line of its own, whatever the stop
// cut and however the signals came.
#include <gtest/gtest.h>

#include "job_shell.hpp"

namespace ruvo::test {
namespace {

// Ctrl-Z as a shell with job control sees it.  The colours go off before
// the stop, and after SIGCONT the dump goes on where it was, on a line of
// its own.
TEST(stopped_by_ctrl_z, ColoursAreOffBeforeTheStopAndTheDumpGoesOn)
{
    pty term;
    ASSERT_GE(term.slave, 0) << "no pseudo-terminal";
    int input[2];
    ASSERT_EQ(cloexec_pipe(input), 0);
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

} // namespace
} // namespace ruvo::test
