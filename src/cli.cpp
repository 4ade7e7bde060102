#include "cli.hpp"

#include <err.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "io.hpp"
#include "palette.hpp"
#include "render.hpp"
#include "terminal.hpp"

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
