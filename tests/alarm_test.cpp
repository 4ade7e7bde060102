// SIGALRM and the interval timer belong to the user: ruvo's handlers
// never take them, and an ending signal stays what ends the run.
#include <gtest/gtest.h>

#include "job_shell.hpp"

namespace ruvo::test {
namespace {

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
    ASSERT_EQ(cloexec_pipe(input), 0);
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
    start_options how;
    how.block_alarm = true;
    pid_t pid = -1;
    ASSERT_TRUE(stuck_in_a_write(term, &pid, true, how));
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
            pid_t pid = -1;
            ASSERT_TRUE(stuck_in_a_write(term, &pid));
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
        ASSERT_EQ(cloexec_pipe(input), 0);
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

} // namespace
} // namespace ruvo::test
