#include "signals.hpp"

#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>

#include "sgr.hpp"

namespace ruvo {

volatile std::sig_atomic_t output_stops = 0;

namespace {

// How long a handler waits for the terminal to take the reset's first
// byte.  A terminal busy showing a dump takes it within a few
// milliseconds; one whose output is stopped (XOFF) or that nobody reads
// never will, and is left as it is.
constexpr int first_byte_wait_ms = 100;
// Once the first byte is out, the rest of the reset goes within this
// bound: a terminal is never left with a sequence begun and not ended
// while it can still take one.  A timer of ruvo's own interrupts a write
// that blocks beyond it.
constexpr int reset_bound_ms = 1000;

// Milliseconds since `since`, on the monotonic clock.
long elapsed_ms(const timespec& since)
{
    timespec now{};
    (void)clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - since.tv_sec) * 1000 + (now.tv_nsec - since.tv_nsec) / 1000000;
}

// True when a write to the terminal on standard output would not stop the
// process: it is in the terminal's foreground process group, or the
// terminal lets background jobs write (no tostop), or it is not the
// process's controlling terminal at all (tcgetpgrp fails, or finds no
// foreground group, as for a pty master whose slave no session holds).  A
// background job that wrote with tostop set would be stopped by SIGTTOU
// inside its handler, and a kill would never end it.
bool may_write_to_terminal()
{
    const pid_t foreground = tcgetpgrp(STDOUT_FILENO);
    if (foreground <= 0 || foreground == getpgrp())
        return true;
    termios mode{};
    return tcgetattr(STDOUT_FILENO, &mode) == 0 && (mode.c_lflag & TOSTOP) == 0;
}

// The bound's timer: a POSIX timer on the monotonic clock, made once at
// start-up, that sends a real-time signal which nobody else uses here (not
// ignored, blocked or pending when ruvo started).  SIGALRM and the
// interval timers stay the user's: an alarm set before exec goes off when
// it was set to, and one that is pending or blocked stays so.
// wake_signal is 0 where no timer could be made; the reset then goes only
// once the terminal has room, in one write.
int wake_signal = 0;
timer_t wake_timer{};

// A signal from the bound's timer only interrupts the write that blocks.
// The same signal sent by somebody else is what its default action makes
// it: the end of the run.
extern "C" void wake_write(int sig, siginfo_t* info, void* /*context*/)
{
    if (info != nullptr && info->si_code == SI_TIMER)
        return;
    struct sigaction act {};
    act.sa_handler = SIG_DFL;
    sigemptyset(&act.sa_mask);
    (void)sigaction(sig, &act, nullptr);
    (void)raise(sig);
}

// The first real-time signal that nobody uses, or 0.
int unused_real_time_signal()
{
    sigset_t blocked;
    sigset_t pending;
    if (sigprocmask(SIG_BLOCK, nullptr, &blocked) != 0 || sigpending(&pending) != 0)
        return 0;
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) {
        struct sigaction old {};
        if (sigaction(sig, nullptr, &old) == 0 && (old.sa_flags & SA_SIGINFO) == 0 &&
            old.sa_handler == SIG_DFL && sigismember(&blocked, sig) == 0 &&
            sigismember(&pending, sig) == 0)
            return sig;
    }
    return 0;
}

// Makes the bound's timer, disarmed.  Its handler has no SA_RESTART: the
// write it interrupts returns.
void make_wake_timer()
{
    const int sig = unused_real_time_signal();
    if (sig == 0)
        return;
    struct sigaction act {};
    act.sa_sigaction = wake_write;
    act.sa_flags = SA_SIGINFO;
    sigemptyset(&act.sa_mask);
    if (sigaction(sig, &act, nullptr) != 0)
        return;
    sigevent event{};
    event.sigev_notify = SIGEV_SIGNAL;
    event.sigev_signo = sig;
    if (timer_create(CLOCK_MONOTONIC, &event, &wake_timer) != 0) {
        act.sa_flags = 0;
        act.sa_handler = SIG_DFL;
        (void)sigaction(sig, &act, nullptr);
        return;
    }
    wake_signal = sig;
}

// Arms the bound's timer for `ms` milliseconds, or disarms it for 0.
void set_wake_timer(int ms)
{
    if (wake_signal == 0)
        return;
    itimerspec when{};
    when.it_value.tv_sec = static_cast<time_t>(ms / 1000);
    when.it_value.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    (void)timer_settime(wake_timer, 0, &when, nullptr);
}

// Writes the reset to standard output itself, without ever waiting long
// and without changing anything that outlives the process: no descriptor
// is opened and no flag of the description that the shell shares is
// touched.  The reset goes once the terminal has room (POLLOUT, within
// first_byte_wait_ms), in one write: the system lets no other writer's
// bytes in between, such as a shell's message about a job stopped in the
// same group.  Should that write block because another writer took the
// room first, the bound's timer interrupts it, and the rest of the reset
// goes as room comes, within the bound.
void reset_colours()
{
    if (!may_write_to_terminal())
        return;
    set_wake_timer(reset_bound_ms);
    timespec start{};
    (void)clock_gettime(CLOCK_MONOTONIC, &start);
    std::size_t sent = 0;
    while (sent < sizeof attributes_off - 1) {
        const long left = (sent == 0 ? first_byte_wait_ms : reset_bound_ms) - elapsed_ms(start);
        pollfd room{STDOUT_FILENO, POLLOUT, 0};
        if (left <= 0 || poll(&room, 1, static_cast<int>(left)) != 1 ||
            (room.revents & POLLOUT) == 0)
            break;
        const ssize_t wrote =
            write(STDOUT_FILENO, attributes_off + sent, sizeof attributes_off - 1 - sent);
        if (wrote > 0)
            sent += static_cast<std::size_t>(wrote);
        else if (wrote == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK))
            break;
    }
    set_wake_timer(0);
}

// How a handler runs: the calls that it interrupts, and the signals held
// back while it runs.
enum class handler_kind {
    // Calls carry on as if nothing had happened: a signal that only ends
    // the run never returns, and SIGCONT must not fail an open that waits
    // for a FIFO's writer, say.
    restarting,
    // The call it interrupts returns, with EINTR or with what it did: after
    // a stop, the writer must look at where its text stands before it
    // writes another byte, and a write that blocks with none of its bytes
    // gone would otherwise be restarted by the system where it stood.
    interrupting,
    // An ending signal: every other signal waits until the run has ended
    // by this one, so that a SIGALRM or a second signal arriving during the
    // reset cannot end it by another; the bound's timer still gets through.
    ending,
};

// Sets sig's action to the handler (SIG_DFL or SIG_IGN too).
void set_action(int sig, void (*handler)(int), handler_kind kind)
{
    struct sigaction act {};
    act.sa_handler = handler;
    act.sa_flags = kind == handler_kind::interrupting ? 0 : SA_RESTART;
    if (kind == handler_kind::ending) {
        sigfillset(&act.sa_mask);
        if (wake_signal != 0)
            sigdelset(&act.sa_mask, wake_signal);
    } else {
        sigemptyset(&act.sa_mask);
    }
    (void)sigaction(sig, &act, nullptr);
}

// Unblocks sig, or blocks it again.
void set_blocked(int sig, bool blocked)
{
    sigset_t this_one;
    sigemptyset(&this_one);
    sigaddset(&this_one, sig);
    (void)sigprocmask(blocked ? SIG_BLOCK : SIG_UNBLOCK, &this_one, nullptr);
}

// Ends the process by the signal that arrived, after switching the
// terminal's colours off: an interrupted dump would otherwise leave them
// on for everything typed afterwards.  The reset also ends any sequence
// cut short by the signal, since an ESC starts a new one.
extern "C" void reset_colours_and_die(int sig)
{
    reset_colours();
    // Delivered at once, by the default action: the process ends by the
    // signal that arrived, as it would have without this handler.
    set_action(sig, SIG_DFL, handler_kind::restarting);
    set_blocked(sig, false);
    (void)raise(sig);
}

// Set when a SIGCONT comes while the stop handler runs or is about to:
// the context it interrupts has SIGTSTP blocked, as only that handler has
// it.  The kernel may deliver the SIGCONT before the handler's first
// instruction, so a count taken there would miss it.
volatile std::sig_atomic_t continued_during_stop = 0;

extern "C" void note_continue(int /*sig*/, siginfo_t* /*info*/, void* context)
{
    const auto* interrupted = static_cast<const ucontext_t*>(context);
    if (interrupted != nullptr && sigismember(&interrupted->uc_sigmask, SIGTSTP) == 1)
        continued_during_stop = 1;
}

// Stops the process (Ctrl-Z), after switching the colours off so that the
// shell's messages and prompt come out in the terminal's own colours.
// Runs on when continued, ready for the next stop, and counts the stop so
// that the writer starts the cut line again.
//
// As without the handler, a SIGCONT sent after the SIGTSTP leaves the
// process running, even when it comes while the reset waits for room, and
// several SIGTSTPs before a SIGCONT make one stop.  The stop is raised
// while SIGTSTP is still blocked, so that it merges with any SIGTSTP
// pending; a SIGCONT from then on discards it, as the system does; one
// that came before is noted by note_continue, and the stop is then dropped.
extern "C" void reset_colours_and_stop(int sig)
{
    const int saved_errno = errno;
    reset_colours();
    set_action(sig, SIG_DFL, handler_kind::restarting);
    if (continued_during_stop == 0) {
        (void)raise(sig); // pending until unblocked, so it returns
        // cppcheck-suppress unreachableCode
        if (continued_during_stop == 0) {
            set_blocked(sig, false); // stops here, unless a SIGCONT came
            set_blocked(sig, true);
        } else {
            // Continued between the two looks: ignoring a pending signal
            // discards it.
            set_action(sig, SIG_IGN, handler_kind::restarting);
        }
    }
    continued_during_stop = 0;
    output_stops = output_stops + 1;
    set_action(sig, reset_colours_and_stop, handler_kind::interrupting);
    errno = saved_errno;
}

// Notes SIGCONT for the stop handler; calls it interrupts carry on.
void watch_continues()
{
    struct sigaction act {};
    act.sa_sigaction = note_continue;
    act.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&act.sa_mask);
    (void)sigaction(SIGCONT, &act, nullptr);
}

} // namespace

// On a terminal, catches the signals that usually end or stop an
// interactive run.  A signal ignored when ruvo started (nohup, background
// jobs, shells without job control) stays ignored.  Output to files and
// pipes is never touched.
void reset_colours_on_signals()
{
    if (isatty(STDOUT_FILENO) == 0)
        return;
    make_wake_timer();
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP}) {
        struct sigaction old {};
        if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN)
            continue;
        if (sig == SIGTSTP)
            set_action(sig, reset_colours_and_stop, handler_kind::interrupting);
        else
            set_action(sig, reset_colours_and_die, handler_kind::ending);
        if (sig == SIGTSTP)
            watch_continues();
    }
}

} // namespace ruvo
