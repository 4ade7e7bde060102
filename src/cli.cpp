#include "cli.hpp"

#include <err.h>
#include <signal.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "palette.hpp"
#include "render.hpp"

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

[[noreturn]] void range_failure(range_error e, const char* arg)
{
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
        errx(1, "invalid width %s", arg);
    settings.width = static_cast<std::uint64_t>(w);
}

// Applies the options in order.  Returns the index of the first operand,
// or -1 after writing the usage line.
int process_options(int argc, char** argv)
{
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
    out.put(open, sizeof open - 1);
    out.put(name, std::strlen(name));
    out.put(close, sizeof close - 1);
}

// Dumps each named file, with a header line before each when there are
// several.  Returns 1 if any could not be opened.
int dump_files(char* const* names, int count)
{
    int status = 0;
    for (int i = 0; i < count; ++i) {
        std::FILE* in = std::fopen(names[i], "r");
        if (in == nullptr) {
            warn("%s", names[i]);
            status = 1;
            continue;
        }
        if (count > 1)
            put_header(standard_output(), names[i], i == 0);
        dump_stream(fileno(in), names[i]);
        (void)std::fclose(in);
    }
    return status;
}

// Ends the process by the signal that arrived, after switching the
// terminal's colours off: an interrupted dump would otherwise leave them
// on for everything typed afterwards.  The reset also ends any sequence
// cut short by the signal, since an ESC starts a new one.
extern "C" void reset_colours_and_die(int sig)
{
    constexpr char attributes_off[] = "\033[m";
    (void)!write(STDOUT_FILENO, attributes_off, sizeof attributes_off - 1);
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    (void)sigaction(sig, &default_action, nullptr);
    sigset_t this_one;
    sigemptyset(&this_one);
    sigaddset(&this_one, sig);
    (void)sigprocmask(SIG_UNBLOCK, &this_one, nullptr);
    // Delivered at once, by the default action: the process ends by the
    // signal that arrived, as it would have without this handler.
    (void)raise(sig);
}

// On a terminal, catches the signals that usually end an interactive run.
// A signal ignored when ruvo started (nohup, background jobs) stays
// ignored.  Output to files and pipes is never touched.
void reset_colours_on_signals()
{
    if (isatty(STDOUT_FILENO) == 0)
        return;
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        struct sigaction old {};
        if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN)
            continue;
        struct sigaction act {};
        act.sa_handler = reset_colours_and_die;
        sigemptyset(&act.sa_mask);
        (void)sigaction(sig, &act, nullptr);
    }
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
    if (argc > 0 && argv[0] != nullptr) {
        const char* slash = std::strrchr(argv[0], '/');
        if (slash != nullptr && slash[1] != '\0')
            argv[0] = const_cast<char*>(slash + 1);
    }
    const int first = process_options(argc, argv);
    if (first < 0)
        return 1;
    char* colours = load_palette_from_env();
    prepare_cells(palette);
    reset_colours_on_signals();

    int status = 0;
    if (first == argc)
        dump_stream(STDIN_FILENO, "(stdin)");
    else
        status = dump_files(argv + first, argc - first);

    std::free(colours);
    standard_output().flush();
    return status;
}

} // namespace ruvo
