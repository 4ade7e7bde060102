#include "cli.hpp"

#include <err.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "palette.hpp"
#include "render.hpp"

#if defined(__linux__) && !defined(_GNU_SOURCE)
// What err(3) and warn(3) name the program by, in glibc and in musl alike;
// <errno.h> declares it only where GNU extensions are asked for.
extern "C" char* program_invocation_short_name;
#endif

namespace ruvo {

namespace {

static_assert(sizeof(std::intmax_t) == sizeof(std::int64_t),
              "numbers saturate at the largest 64-bit value");

// Options must come before the operands: "ruvo file -w 8" names three
// files.  glibc permutes unless the option string starts with '+'; the
// BSD and other libraries stop at the first operand already, and some
// would take a leading '+' for an option letter.
#if defined(__GLIBC__)
constexpr const char* option_string = "+g:pr:w:";
#else
constexpr const char* option_string = "g:pr:w:";
#endif

constexpr char usage_line[] = "usage: ruvo [-r range] [-w width]\n";

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// strtoimax in base 0 for a number that must begin with a digit.  0b is
// not taken as a binary prefix, whatever the C library: "0b1" reads as 0
// and stops at the b, as the classic conversion does.
bool convert_number(const char* s, std::int64_t* value, const char** end)
{
    if (!is_digit(s[0]))
        return false;
    if (s[0] == '0' && (s[1] == 'b' || s[1] == 'B')) {
        *value = 0;
        *end = s + 1;
        return true;
    }
    char* stop = nullptr;
    *value = std::strtoimax(s, &stop, 0);
    *end = stop;
    return true;
}

[[noreturn]] void range_failure(range_error e, const char* text)
{
    const shown_text shown(text, STDERR_FILENO);
    const char* arg = shown.c_str();
    switch (e) {
    case range_error::no_delimiter:
        errx(1, "no delimiter in range %s", arg);
    case range_error::invalid_start:
        errx(1, "invalid start value in range %s", arg);
    case range_error::invalid_end:
        errx(1, "invalid end/size value in range %s", arg);
    case range_error::start_unspecified:
        errx(1, "start unspecified in range %s", arg);
    case range_error::size_unspecified:
        errx(1, "size unspecified in range %s", arg);
    case range_error::end_before_start:
    case range_error::none:
        break;
    }
    errx(1, "end was less than start in range %s", arg);
}

void set_range(const char* arg)
{
    const range_result r = parse_range(arg);
    if (r.error != range_error::none)
        range_failure(r.error, arg);
    settings.range_start = r.start;
    settings.range_end = r.end;
}

// atol's reading (blanks, a sign, decimal digits up to the first other
// character, saturation), through strtoll so that overflow is defined and
// the count is 64 bits wide on every platform.  The dumper needs >= 1.
void set_width(const char* arg)
{
    const long long w = std::strtoll(arg, nullptr, 10);
    if (w < 1)
        errx(1, "invalid width %s", shown_text(arg, STDERR_FILENO).c_str());
    settings.width = static_cast<std::uint64_t>(w);
}

// getopt quotes an option letter it does not know as it stands.  On a
// terminal, the letter it is going to complain about is made visible
// first: a control character becomes '?', which is no option either, so
// nothing else changes.  Walks the words as getopt will.
void neutralise_bad_option(int argc, char** argv)
{
    if (isatty(STDERR_FILENO) == 0)
        return;
    for (int i = 1; i < argc; ++i) {
        char* word = argv[i];
        if (word[0] != '-' || word[1] == '\0' || std::strcmp(word, "--") == 0)
            return;
        for (char* letter = word + 1; *letter != '\0'; ++letter) {
            if (*letter == 'p')
                continue;
            if (*letter != 'g' && *letter != 'r' && *letter != 'w') {
                char alone[2] = {*letter, '\0'}; // getopt shows the byte alone
                neutralise_controls(alone, alone);
                *letter = alone[0];
                return;
            }
            if (letter[1] == '\0') // the argument is the next word
                ++i;
            break;
        }
    }
}

// Applies the options in order.  Returns the index of the first operand,
// or -1 after writing the usage line.
int process_options(int argc, char** argv)
{
    neutralise_bad_option(argc, argv);
    int c = 0;
    while ((c = getopt(argc, argv, option_string)) != -1) {
        switch (c) {
        case 'r':
            set_range(optarg);
            break;
        case 'w':
            set_width(optarg);
            break;
        default: // -g, -p, and whatever getopt has complained about
            std::fwrite(usage_line, 1, sizeof usage_line - 1, stderr);
            return -1;
        }
    }
    return optind;
}

// "====> name <====" in bold, after an empty line for every file but the
// first.
void put_header(text_out& out, const char* name, bool first)
{
    if (!first)
        out.put("\n", 1);
    constexpr char open[] = "====> \033[1m";
    constexpr char close[] = "\033[m <====\n";
    const shown_text shown(name, STDOUT_FILENO);
    out.put(open, sizeof open - 1);
    out.put(shown.c_str(), std::strlen(shown.c_str()));
    out.put(close, sizeof close - 1);
}

// Standard output, when it is a regular file.
struct output_file {
    bool regular = false;
    dev_t device = 0;
    ino_t inode = 0;
};
output_file output;

void note_output_file()
{
    struct stat st {};
    if (fstat(STDOUT_FILENO, &st) == 0 && S_ISREG(st.st_mode))
        output = {true, st.st_dev, st.st_ino};
}

// True when the input on fd is the file that the output goes to and has
// bytes in it.  Dumping it would read back what was just drawn of it and
// grow the file until the disk is full, or overwrite it while reading.
bool is_output_file(int fd)
{
    struct stat st {};
    return output.regular && fstat(fd, &st) == 0 && st.st_dev == output.device &&
           st.st_ino == output.inode && st.st_size > 0;
}

// Dumps one open input, unless it is the output file.  Returns 1 when it
// was refused, else 0; read errors end the program.
int dump_input(int fd, const char* name, bool header, bool first)
{
    const shown_text message_name(name, STDERR_FILENO);
    if (is_output_file(fd)) {
        warnx("%s: input file is output file", message_name.c_str());
        return 1;
    }
    if (header)
        put_header(standard_output(), name, first);
    dump_stream(fd, message_name.c_str());
    return 0;
}

// Dumps each named file, with a header line before each when there are
// several.  Returns 1 if any could not be opened or was refused.
int dump_files(char* const* names, int count)
{
    int status = 0;
    for (int i = 0; i < count; ++i) {
        std::FILE* in = nullptr;
        do // a FIFO waits in open(2) for its writer: a signal may come
            in = std::fopen(names[i], "r");
        while (in == nullptr && errno == EINTR);
        if (in == nullptr) {
            warn("%s", shown_text(names[i], STDERR_FILENO).c_str());
            status = 1;
            continue;
        }
        status |= dump_input(fileno(in), names[i], count > 1, i == 0);
        (void)std::fclose(in);
    }
    return status;
}

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
// process's controlling terminal at all.  A background job that wrote with
// tostop set would be stopped by SIGTTOU inside its handler, and a kill
// would never end it.
bool may_write_to_terminal()
{
    const pid_t foreground = tcgetpgrp(STDOUT_FILENO);
    if (foreground == -1 || foreground == getpgrp())
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

// The name messages give the program: the base name it was run under, or
// "ruvo" where that is empty (an empty argv[0], or one ending in '/').
// Every message begins with it, so on a terminal its control characters
// are neutralised in place, as for any other outside text.
char* program_name(char* argv0)
{
    static char fallback[] = "ruvo";
    if (argv0 == nullptr)
        return fallback;
    char* slash = std::strrchr(argv0, '/');
    char* base = slash != nullptr ? slash + 1 : argv0;
    if (*base == '\0')
        return fallback;
    if (isatty(STDERR_FILENO) != 0)
        neutralise_controls(base, base);
    return base;
}

// Makes err(3) and warn(3) use that name too: by default they take the
// base name of argv[0], empty or not.
void set_program_name(char* name)
{
#if defined(__FreeBSD__) || defined(__NetBSD__) || defined(__OpenBSD__) || defined(__DragonFly__)
    setprogname(name);
#elif defined(__linux__)
    program_invocation_short_name = name;
#else
    (void)name;
#endif
}

} // namespace

range_result parse_range(const char* text)
{
    range_result r;
    const std::size_t d = std::strcspn(text, "+-");
    if (text[d] == '\0') {
        r.error = range_error::no_delimiter;
        return r;
    }
    const char* end = nullptr;

    const bool have_start = d != 0;
    r.start = 0;
    if (have_start && (!convert_number(text, &r.start, &end) || end != text + d)) {
        r.error = range_error::invalid_start;
        return r;
    }

    const char* rest = text + d + 1;
    const bool have_second = *rest != '\0';
    std::int64_t second = -1;
    if (have_second && (!convert_number(rest, &second, &end) || *end != '\0')) {
        r.error = range_error::invalid_end;
        return r;
    }

    if (text[d] == '+') {
        if (!have_start) {
            r.error = range_error::start_unspecified;
            return r;
        }
        if (!have_second) {
            r.error = range_error::size_unspecified;
            return r;
        }
        // Two's complement sum: past INT64_MAX it wraps negative and fails
        // the check below.
        r.end = static_cast<std::int64_t>(static_cast<std::uint64_t>(r.start) +
                                          static_cast<std::uint64_t>(second));
    } else {
        r.end = second;
    }
    if (r.end != -1 && r.end < r.start)
        r.error = range_error::end_before_start;
    return r;
}

int run(int argc, char** argv)
{
    // getopt names the program by argv[0]; err and warn by its base name.
    // One name for all: "ruvo: invalid option", not "/usr/bin/ruvo: ...".
    char* name = program_name(argc > 0 ? argv[0] : nullptr);
    set_program_name(name);
    int first = argc; // no arguments at all, not even a name: standard input
    if (argc > 0) {
        argv[0] = name;
        first = process_options(argc, argv);
        if (first < 0)
            return 1;
    }
    char* colours = load_palette_from_env();
    prepare_cells(palette);
    reset_colours_on_signals();

    note_output_file();
    const int status = first == argc ? dump_input(STDIN_FILENO, "(stdin)", false, true)
                                     : dump_files(argv + first, argc - first);

    std::free(colours);
    standard_output().flush();
    return status;
}

} // namespace ruvo
