// A deadline for every test: one that runs past it is ended with a line
// that names it, instead of holding up the whole run until ctest's own
// timeout, and every process the test started is killed and every scratch
// file removed (as when a signal ends the binary).  Tests that wait for a process, a pipe or
// a terminal have shorter deadlines of their own; this one catches a loop in the code under test
// that never ends.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "processes.hpp"
#include "reference.hpp"
#include "scratch_files.hpp"

namespace {

// The sanitizers' builds are unoptimised and instrumented, several times
// slower: the longest tests (a screen of 12,000 rows read back from tmux)
// need more than half a minute there.
#if defined(__SANITIZE_ADDRESS__)
constexpr unsigned deadline_seconds = 60;
#define RUVO_DEADLINE "60"
#else
constexpr unsigned deadline_seconds = 30;
#define RUVO_DEADLINE "30"
#endif

char running[512]; // the test that is running, for the handler

extern "C" void deadline_passed(int)
{
    constexpr char head[] = "\ndeadline: ";
    constexpr char tail[] = " was still running after " RUVO_DEADLINE " s: ended\n";
    (void)!write(STDERR_FILENO, head, sizeof head - 1);
    (void)!write(STDERR_FILENO, running, std::strlen(running));
    (void)!write(STDERR_FILENO, tail, sizeof tail - 1);
    ruvo::test::kill_started();
    ruvo::test::remove_scratch();
    _exit(1);
}

class deadline : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo& test) override
    {
        std::snprintf(running, sizeof running, "%s.%s", test.test_suite_name(), test.name());
        alarm(deadline_seconds);
    }
    void OnTestEnd(const ::testing::TestInfo&) override
    {
        alarm(0);
        // A test that failed half-way may not have ended what it started.
        ruvo::test::end_started();
    }
};

// Ctrl-C, a kill: the same clean-up, then the signal's own end.
extern "C" void ended_by_signal(int sig)
{
    ruvo::test::kill_started();
    ruvo::test::remove_scratch();
    (void)signal(sig, SIG_DFL);
    (void)raise(sig);
}

[[maybe_unused]] const bool installed = [] {
    (void)signal(SIGALRM, deadline_passed);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP})
        (void)signal(sig, ended_by_signal);
    ::testing::UnitTest::GetInstance()->listeners().Append(new deadline);
    return true;
}();

} // namespace
