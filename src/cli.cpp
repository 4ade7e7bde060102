#include "cli.hpp"

#include <err.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "io.hpp"
#include "options.hpp"
#include "palette.hpp"
#include "program_name.hpp"
#include "render.hpp"
#include "signals.hpp"
#include "visible.hpp"

namespace ruvo {

namespace {

// Standard output, when it is a regular file.
struct output_file {
    bool regular = false;
    dev_t device = 0;
    ino_t inode = 0;
};

output_file standard_output_file()
{
    struct stat st {};
    if (fstat(STDOUT_FILENO, &st) == 0 && S_ISREG(st.st_mode))
        return {true, st.st_dev, st.st_ino};
    return {};
}

// True when the input on fd is the file that the output goes to and has
// bytes in it.  Dumping it would read back what was just drawn of it and
// grow the file until the disk is full, or overwrite it while reading.
bool is_output_file(const output_file& output, int fd)
{
    struct stat st {};
    return output.regular && fstat(fd, &st) == 0 && st.st_dev == output.device &&
           st.st_ino == output.inode && st.st_size > 0;
}

// What every dump reads, made by the start-up and read-only from the
// first input on: the settings, the palette's cells, and the output file.
struct dump_view {
    const dump_settings& settings;
    const cell_strings& cells;
    output_file output;
};

// Dumps one open input, unless it is the output file.  Returns 1 when it
// was refused, else 0; read errors end the program.
int dump_input(const dump_view& view, int fd, const char* name, bool header, bool first)
{
    const shown_text message_name(name, STDERR_FILENO);
    if (is_output_file(view.output, fd)) {
        warnx("%s: input file is output file", message_name.c_str());
        return 1;
    }
    if (header)
        write_header(standard_output(), name, first);
    dump_stream(fd, message_name.c_str(), view.settings, view.cells);
    return 0;
}

// Dumps each named file, with a header line before each when there are
// several.  Returns 1 if any could not be opened or was refused.
int dump_files(const dump_view& view, char* const* names, int count)
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
        status |= dump_input(view, fileno(in), names[i], count > 1, i == 0);
        (void)std::fclose(in);
    }
    return status;
}

} // namespace

int run(int argc, char** argv)
{
    // getopt names the program by argv[0]; err and warn by its base name.
    // One name for all: "ruvo: invalid option", not "/usr/bin/ruvo: ...".
    char* name = name_the_program(argc > 0 ? argv[0] : nullptr);
    dump_settings settings;
    int first = argc; // no arguments at all, not even a name: standard input
    if (argc > 0) {
        argv[0] = name;
        first = process_options(argc, argv, settings);
        if (first < 0)
            return 1;
    }
    colour_table palette = default_palette;
    char* colours = load_palette_from_env(palette);
    cell_strings cells{};
    prepare_cells(palette, cells);
    reset_colours_on_signals();

    const dump_view view{settings, cells, standard_output_file()};
    const int status = first == argc ? dump_input(view, STDIN_FILENO, "(stdin)", false, true)
                                     : dump_files(view, argv + first, argc - first);

    std::free(colours);
    standard_output().flush();
    return status;
}

} // namespace ruvo
