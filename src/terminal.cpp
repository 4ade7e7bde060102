#include "terminal.hpp"

#include <poll.h>
#include <signal.h>
#include <sys/time.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace ruvo {

volatile std::sig_atomic_t output_stops = 0;

namespace {

// One byte that a terminal takes for a control character by itself: C0,
// DEL, or a C1 code sent as a single byte.
bool is_control_byte(unsigned c)
{
    return c < 0x20 || c == 0x7f || (c >= 0x80 && c <= 0x9f);
}

// The length of the well-formed UTF-8 sequence of two or more bytes that
// starts at s, or 0 where none does.  Stops at the first byte that does
// not fit, so it never reads past a terminating NUL.
std::size_t utf8_sequence(const unsigned char* s)
{
    const unsigned lead = s[0];
    std::size_t n = 0;
    unsigned low = 0x80;
    unsigned high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        n = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        n = 3;
        low = lead == 0xe0 ? 0xa0 : low;   // no overlong forms
        high = lead == 0xed ? 0x9f : high; // no surrogates
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        n = 4;
        low = lead == 0xf0 ? 0x90 : low;
        high = lead == 0xf4 ? 0x8f : high; // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (s[1] < low || s[1] > high)
        return 0;
    for (std::size_t i = 2; i < n; ++i)
        if (s[i] < 0x80 || s[i] > 0xbf)
            return 0;
    return n;
}

// The character at s (s[0] != 0): its length in bytes, and whether it is
// a control character, C1 in UTF-8 (U+0080 to U+009F) included.
std::size_t next_character(const unsigned char* s, bool* control)
{
    const std::size_t n = utf8_sequence(s);
    if (n == 0) {
        *control = is_control_byte(s[0]);
        return 1;
    }
    *control = n == 2 && s[0] == 0xc2 && s[1] <= 0x9f;
    return n;
}

bool has_controls(const char* text)
{
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    bool control = false;
    while (*s != 0 && !control)
        s += next_character(s, &control);
    return control;
}

} // namespace

std::size_t neutralise_controls(char* to, const char* from)
{
    const auto* s = reinterpret_cast<const unsigned char*>(from);
    char* p = to;
    while (*s != 0) {
        bool control = false;
        const std::size_t n = next_character(s, &control);
        if (control) {
            *p++ = '?';
            s += n;
        } else {
            // Byte by byte: p never runs ahead of s, so to may be from.
            for (std::size_t i = 0; i < n; ++i)
                *p++ = static_cast<char>(*s++);
        }
    }
    *p = '\0';
    return static_cast<std::size_t>(p - to);
}

shown_text::shown_text(const char* text, int fd) : text_(text)
{
    // Made while a message about errno is being written: keep errno.
    const int saved_errno = errno;
    if (has_controls(text) && isatty(fd) != 0) {
        copy_ = static_cast<char*>(std::malloc(std::strlen(text) + 1));
        text_ = copy_ != nullptr ? copy_ : "?";
        if (copy_ != nullptr)
            neutralise_controls(copy_, text);
    }
    errno = saved_errno;
}

shown_text::~shown_text()
{
    std::free(copy_);
}

std::size_t resume_point(const char* text, std::size_t cut)
{
    std::size_t line = cut;
    while (line != 0 && text[line - 1] != '\n')
        --line;
    return line;
}

namespace {

// The reset the signal handlers write to the terminal: all attributes off.
constexpr char attributes_off[] = "\033[m";

// How long a handler waits for the terminal to take the reset's first
// byte.  A terminal busy showing a dump takes it within a few
// milliseconds; one whose output is stopped (XOFF) or that nobody reads
// never will, and is left as it is.
constexpr int first_byte_wait_ms = 100;
// Once the first byte is out, the rest of the reset goes within this
// bound: a terminal is never left with a sequence begun and not ended
// while it can still take one.  An interval timer interrupts a write that
// blocks beyond it.
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

// Set when a SIGALRM that somebody sent (kill, sigqueue, a timer of
// theirs) arrives while the reset's own timer holds the signal: it is
// delivered again, as its owner meant it, once the reset is done.
volatile std::sig_atomic_t alarm_from_outside = 0;

// Wakes a write that blocks beyond the bound; notes a SIGALRM that is not
// the bound's own.
extern "C" void interrupt_write(int /*sig*/, siginfo_t* info, void* /*context*/)
{
    if (info != nullptr &&
        (info->si_code == SI_USER || info->si_code == SI_QUEUE || info->si_code == SI_TIMER))
        alarm_from_outside = 1;
}

// The real-time interval timer and SIGALRM, lent to the bound of one reset
// and then given back as they were: the action, the signal mask, and the
// timer of whoever set one (an alarm before exec, say), less the time that
// has passed.  A SIGALRM sent meanwhile is sent again.
class alarm_on_loan {
  public:
    alarm_on_loan()
    {
        alarm_from_outside = 0;
        struct sigaction wake {};
        wake.sa_sigaction = interrupt_write;
        wake.sa_flags = SA_SIGINFO; // no SA_RESTART: the write returns
        sigemptyset(&wake.sa_mask);
        (void)sigaction(SIGALRM, &wake, &action_);
        sigset_t alarm_only;
        sigemptyset(&alarm_only);
        sigaddset(&alarm_only, SIGALRM);
        (void)sigprocmask(SIG_UNBLOCK, &alarm_only, &mask_);
        itimerval bound{};
        bound.it_value.tv_sec = static_cast<time_t>(reset_bound_ms / 1000);
        bound.it_value.tv_usec = static_cast<suseconds_t>(reset_bound_ms % 1000) * 1000;
        (void)setitimer(ITIMER_REAL, &bound, &theirs_);
        (void)clock_gettime(CLOCK_MONOTONIC, &lent_);
    }
    ~alarm_on_loan()
    {
        const itimerval off{};
        (void)setitimer(ITIMER_REAL, &off, nullptr);
        (void)sigaction(SIGALRM, &action_, nullptr);
        (void)sigprocmask(SIG_SETMASK, &mask_, nullptr);
        give_back_timer();
        if (alarm_from_outside != 0)
            (void)raise(SIGALRM);
    }
    alarm_on_loan(const alarm_on_loan&) = delete;
    alarm_on_loan& operator=(const alarm_on_loan&) = delete;

  private:
    void give_back_timer()
    {
        if (theirs_.it_value.tv_sec == 0 && theirs_.it_value.tv_usec == 0)
            return;
        timespec now{};
        (void)clock_gettime(CLOCK_MONOTONIC, &now);
        const long long passed_us =
            (now.tv_sec - lent_.tv_sec) * 1000000LL + (now.tv_nsec - lent_.tv_nsec) / 1000;
        long long left_us =
            theirs_.it_value.tv_sec * 1000000LL + theirs_.it_value.tv_usec - passed_us;
        if (left_us < 1)
            left_us = 1; // due already: it expires at once, as it would have
        itimerval timer = theirs_;
        timer.it_value.tv_sec = static_cast<time_t>(left_us / 1000000);
        timer.it_value.tv_usec = static_cast<suseconds_t>(left_us % 1000000);
        (void)setitimer(ITIMER_REAL, &timer, nullptr);
    }

    struct sigaction action_ {};
    sigset_t mask_{};
    itimerval theirs_{};
    timespec lent_{};
};

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
    const alarm_on_loan bound;
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
}

// Sets sig's action to the handler, or to the default action for nullptr.
// Calls that a handler interrupts carry on as if nothing had happened: a
// stop and `fg` in the middle of opening a FIFO, say, must not fail it.
void set_action(int sig, void (*handler)(int))
{
    struct sigaction act {};
    act.sa_handler = handler != nullptr ? handler : SIG_DFL;
    act.sa_flags = SA_RESTART;
    sigemptyset(&act.sa_mask);
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
    set_action(sig, nullptr);
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
    set_action(sig, nullptr);
    if (continued_during_stop == 0) {
        (void)raise(sig); // pending until unblocked, so it returns
        // cppcheck-suppress unreachableCode
        if (continued_during_stop == 0) {
            set_blocked(sig, false); // stops here, unless a SIGCONT came
            set_blocked(sig, true);
        } else {
            // Continued between the two looks: ignoring a pending signal
            // discards it.
            set_action(sig, SIG_IGN);
        }
    }
    continued_during_stop = 0;
    output_stops = output_stops + 1;
    set_action(sig, reset_colours_and_stop);
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
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP}) {
        struct sigaction old {};
        if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN)
            continue;
        set_action(sig, sig == SIGTSTP ? reset_colours_and_stop : reset_colours_and_die);
        if (sig == SIGTSTP)
            watch_continues();
    }
}

} // namespace ruvo
