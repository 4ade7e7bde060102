#include "options.hpp"

#include <err.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "range.hpp"
#include "sgr.hpp"
#include "visible.hpp"

namespace ruvo {

namespace {

// Options must come before the operands: "ruvo file -w 8" names three
// files.  glibc permutes unless the option string starts with '+'; the
// BSD and other libraries stop at the first operand already, and some
// would take a leading '+' for an option letter.
//
// The letters, once: each that takes an argument is followed by ':'.  -g
// and -p are reserved, and give the usage line.
constexpr char option_letters[] = "g:pr:w:";
#if defined(__GLIBC__)
constexpr auto option_string = join("+", option_letters);
#else
constexpr auto option_string = join("", option_letters);
#endif

constexpr char usage_line[] = "usage: ruvo [-r range] [-w width]\n";

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

void set_range(const char* arg, dump_settings& settings)
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
void set_width(const char* arg, dump_settings& settings)
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
            const char* known = *letter != ':' ? std::strchr(option_letters, *letter) : nullptr;
            if (known == nullptr) {
                char alone[2] = {*letter, '\0'}; // getopt shows the byte alone
                neutralise_controls(alone, alone);
                *letter = alone[0];
                return;
            }
            if (known[1] != ':')
                continue;
            if (letter[1] == '\0') // the argument is the next word
                ++i;
            break;
        }
    }
}

} // namespace

int process_options(int argc, char** argv, dump_settings& settings)
{
    neutralise_bad_option(argc, argv);
    int c = 0;
    while ((c = getopt(argc, argv, option_string.data())) != -1) {
        switch (c) {
        case 'r':
            set_range(optarg, settings);
            break;
        case 'w':
            set_width(optarg, settings);
            break;
        default: // -g, -p, and whatever getopt has complained about
            std::fwrite(usage_line, 1, sizeof usage_line - 1, stderr);
            return -1;
        }
    }
    return optind;
}

} // namespace ruvo
