#include "terminal.hpp"

#include <poll.h>
#include <signal.h>
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
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    std::size_t line = cut;
    while (line != 0 && s[line - 1] != '\n')
        --line;
    // After the last character of the line shown whole.
    std::size_t shown = line;
    for (std::size_t i = line; i < cut;) {
        if (s[i] == 0x1b) { // ESC, '[', parameters, a final byte
            std::size_t j = i + 1;
            if (j < cut && s[j] == '[')
                for (++j; j < cut && (s[j] < 0x40 || s[j] > 0x7e); ++j) {
                }
            if (j >= cut)
                break;
            i = j + 1;
            continue;
        }
        const std::size_t size = s[i] >= 0xf0 ? 4 : s[i] >= 0xe0 ? 3 : s[i] >= 0xc0 ? 2 : 1;
        if (size > cut - i)
            break;
        i += size;
        shown = i;
    }
    // The sequences after that character belong to the cell that was cut
    // (or to the line's end); with none, the cut fell inside a character.
    for (std::size_t i = shown; i < cut; ++i)
        if (s[i] == 0x1b)
            return i;
    return shown;
}

namespace {

// The reset the signal handlers write to the terminal: all attributes off.
constexpr char attributes_off[] = "\033[m";

// How long a handler waits for room on the terminal, in all.  A terminal
// busy showing a dump takes the reset within a few milliseconds; one whose
// output is stopped (XOFF) or that nobody reads never will, and is left
// as it is.
constexpr int reset_wait_ms = 100;

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
// foreground group, as for a pty master whose slave no session holds).  A background job that wrote with
// tostop set would be stopped by SIGTTOU inside its handler, and a kill
// would never end it.
bool may_write_to_terminal()
{
    const pid_t foreground = tcgetpgrp(STDOUT_FILENO);
    if (foreground <= 0 || foreground == getpgrp())
        return true;
    termios mode{};
    return tcgetattr(STDOUT_FILENO, &mode) == 0 && (mode.c_lflag & TOSTOP) == 0;
}

// Wakes a write that is stuck despite the wait for room; does nothing else.
extern "C" void interrupt_write(int /*sig*/) {}

// Writes the reset to standard output itself, without ever waiting long
// and without changing anything that outlives the process: no descriptor
// is opened and no flag of the description that the shell shares is
// touched.  Each byte waits for POLLOUT first.  On Linux and the BSDs a
// terminal reports POLLOUT only with room for at least one byte, so one
// byte then goes without blocking; for the case where another writer takes
// that room first, an alarm interrupts the write after a second.
void reset_colours()
{
    if (!may_write_to_terminal())
        return;
    struct sigaction wake {};
    struct sigaction old_alarm {};
    wake.sa_handler = interrupt_write; // no SA_RESTART: the write returns
    sigemptyset(&wake.sa_mask);
    (void)sigaction(SIGALRM, &wake, &old_alarm);
    const unsigned old_timer = alarm(1);
    timespec start{};
    (void)clock_gettime(CLOCK_MONOTONIC, &start);
    std::size_t sent = 0;
    while (sent < sizeof attributes_off - 1) {
        const long left = reset_wait_ms - elapsed_ms(start);
        pollfd room{STDOUT_FILENO, POLLOUT, 0};
        if (left <= 0 || poll(&room, 1, static_cast<int>(left)) != 1 ||
            (room.revents & POLLOUT) == 0)
            break;
        const ssize_t wrote = write(STDOUT_FILENO, attributes_off + sent, 1);
        if (wrote == 1)
            ++sent;
        else if (wrote == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK))
            break;
    }
    (void)alarm(old_timer);
    (void)sigaction(SIGALRM, &old_alarm, nullptr);
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

// Lets the default action of sig happen now, inside the handler.
void take_default_action(int sig)
{
    set_action(sig, nullptr);
    sigset_t this_one;
    sigemptyset(&this_one);
    sigaddset(&this_one, sig);
    (void)sigprocmask(SIG_UNBLOCK, &this_one, nullptr);
    (void)raise(sig);
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
    take_default_action(sig);
}

// Stops the process (Ctrl-Z), after switching the colours off so that the
// shell's messages and prompt come out in the terminal's own colours.
// Runs on when continued, ready for the next stop, and counts the stop so
// that the writer resends whatever sequence the stop cut short.
extern "C" void reset_colours_and_stop(int sig)
{
    const int saved_errno = errno;
    reset_colours();
    take_default_action(sig);
    output_stops = output_stops + 1;
    set_action(sig, reset_colours_and_stop);
    errno = saved_errno;
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
    }
}

} // namespace ruvo
