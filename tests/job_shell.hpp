// What the tests of signals and job control share: a shell with job
// control on a pseudo-terminal, the terminal's modes, and waiting for ruvo
// to wait in a write.
#ifndef RUVO_TESTS_JOB_SHELL_HPP
#define RUVO_TESTS_JOB_SHELL_HPP

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
#include "processes.hpp"
#include "reference.hpp"
#include "scratch_files.hpp"

namespace ruvo::test {

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

inline int open_zero()
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
inline ::testing::AssertionResult waiting_in_a_write(const pty& term, pid_t pid, bool xoff = true)
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

// Starts ruvo drawing /dev/zero on `term`, a terminal whose output is
// then stopped (Ctrl-S) or, with `xoff` false, that nobody reads, and
// waits until ruvo waits in a write: *pid is ruvo's.
inline ::testing::AssertionResult stuck_in_a_write(pty& term, pid_t* pid, bool xoff = true,
                                                   const start_options& how = {})
{
    if (term.slave < 0)
        return ::testing::AssertionFailure() << "no pseudo-terminal";
    if (!set_mode(term.slave, [](termios& m) { m.c_iflag |= IXON; }))
        return ::testing::AssertionFailure() << "the terminal's mode cannot be set";
    const int zero = open_zero();
    *pid = start_ruvo({}, zero, term.slave, how);
    term.close_slave();
    close(zero);
    return waiting_in_a_write(term, *pid, xoff);
}

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

inline std::ostream& operator<<(std::ostream& os, const job_shell::event& e)
{
    if (e.kind == 0)
        return os << "nothing";
    return os << (e.kind == 'S'   ? "stopped by "
                  : e.kind == 'E' ? "exited with "
                                  : "killed by ")
              << e.value;
}

inline bool operator==(const job_shell::event& a, const job_shell::event& b)
{
    return a.kind == b.kind && a.value == b.value;
}

} // namespace ruvo::test

#endif
