// The binary end to end: exact standard output, standard error and exit
// status for files, pipes, several operands, options and failures.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include <functional>
#include <limits>
#include <map>
#include <string>

#include "e2e.hpp"
#include "processes.hpp"
#include "reference.hpp"
#include "scratch_files.hpp"

namespace ruvo::test {
namespace {

const bytes three = {0x00, 0xff, 0x41};
const bytes k1 = random_bytes(1024, 1);
const bytes k1_476 = random_bytes(1024 + 476, 2);
const bytes big = random_bytes(2000, 3);
const bytes small_a = random_bytes(100, 4);
const bytes small_b = random_bytes(300, 5);
const bytes dash = random_bytes(40, 6);
const bytes all_values = [] {
    bytes b(256);
    for (std::size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<unsigned char>(i);
    return b;
}();

const std::map<std::string, bytes> fixtures = {
    {"three", three}, {"empty", {}},  {"k1", k1},  {"k1_476", k1_476},         {"big", big},
    {"a", small_a},   {"b", small_b}, {"-", dash}, {"all_values", all_values},
};

constexpr std::uint64_t max_width = std::numeric_limits<std::int64_t>::max();
const std::string usage = "usage: ruvo [-r range] [-w width]\n";

// The dump of bytes [from, to) of data, labelled from `from`.
std::string dump(const bytes& data, std::uint64_t width = 64, std::size_t from = 0,
                 std::size_t to = std::string::npos)
{
    to = std::min(to, data.size());
    from = std::min(from, to);
    const bytes part(data.begin() + static_cast<long>(from), data.begin() + static_cast<long>(to));
    return reference_dump(part, from, width, default_palette);
}

struct cli_case {
    const char* name;
    const char* script; // run in a directory holding the fixtures
    std::function<std::string()> out;
    std::string err; // "<any>" stands for one line in the C library's words
    int status;
    const char* needs = nullptr; // a file the case needs, where not every system has it
};

std::ostream& operator<<(std::ostream& os, const cli_case& c)
{
    return os << c.name;
}

class cli : public ::testing::TestWithParam<cli_case> {};

TEST_P(cli, ExactOutputMessagesAndStatus)
{
    const cli_case& c = GetParam();
    if (c.needs != nullptr && access(c.needs, R_OK) != 0)
        GTEST_SKIP() << "this system has no " << c.needs;
    const scratch dir(fixtures);
    const run_result r = dir.run(c.script);
    EXPECT_EQ(printable(r.out), printable(c.out())) << c.script;
    EXPECT_TRUE(stderr_matches(r.err, c.err)) << c.script << "\nstderr:\n"
                                              << r.err << "expected:\n"
                                              << c.err;
    EXPECT_EQ(r.status, c.status) << c.script;
}

const std::string worked_example = "    0000 "
                                   "\033[38;2;0;0;0m\033[48;2;57;86;0m\u2580"
                                   "\033[0m\033[38;2;255;255;255m\u2580"
                                   "\033[m\n";

const cli_case inputs[] = {
    {"worked_example", "$RUVO -w 2 three", [] { return worked_example; }, "", 0},
    {"road_of_one_run", "$RUVO -w 32 -r 0x100+512 big", [] { return dump(big, 32, 256, 768); }, "",
     0},
    {"empty_file", "$RUVO empty", [] { return std::string(); }, "", 0},
    {"empty_stdin", "$RUVO </dev/null", [] { return std::string(); }, "", 0},
    {"one_chunk", "$RUVO k1", [] { return dump(k1); }, "", 0},
    {"chunk_and_476", "$RUVO k1_476", [] { return dump(k1_476); }, "", 0},
    {"stdin_pipe", "cat k1_476 | $RUVO", [] { return dump(k1_476); }, "", 0},
    {"stdin_file", "$RUVO <k1_476", [] { return dump(k1_476); }, "", 0},
    {"stdin_file_moved_on", "{ dd bs=7 count=1 of=/dev/null 2>/dev/null; $RUVO; } <k1_476",
     [] { return dump(k1_476); }, "", 0},
    // Every file is closed after its dump: 40 of them under a limit of 16
    // descriptors are all shown.
    {"forty_files_sixteen_descriptors",
     "i=10; while [ $i -lt 50 ]; do printf 'file %d' $i >f$i; i=$((i + 1)); done; "
     "(ulimit -n 16 && $RUVO f*)",
     [] {
         std::string out;
         for (int i = 10; i < 50; ++i) {
             const std::string text = "file " + std::to_string(i);
             out += header(std::string("f").append(std::to_string(i)), i == 10) +
                    dump(bytes(text.begin(), text.end()));
         }
         return out;
     },
     "", 0},
    // The default palette, entry by entry, against a dump written down
    // once by hand from the colour table.
    {"default_palette_golden", "$RUVO -w 16 all_values",
     [] { return read_file(RUVO_TEST_DATA "/golden/bytes-00-ff-w16"); }, "", 0},
    {"two_operands", "$RUVO a b",
     [] { return header("a", true) + dump(small_a) + header("b", false) + dump(small_b); }, "", 0},
    {"missing_first_operand", "$RUVO nosuch b", [] { return header("b", false) + dump(small_b); },
     std::string("ruvo: nosuch: ") + sys_error(ENOENT) + "\n", 1},
    {"all_operands_missing", "$RUVO x y", [] { return std::string(); },
     std::string("ruvo: x: ") + sys_error(ENOENT) + "\nruvo: y: " + sys_error(ENOENT) + "\n", 1},
    {"dash_names_a_file", "$RUVO - <three", [] { return dump(dash); }, "", 0},
    {"dash_missing", "rm ./-; $RUVO - <three", [] { return std::string(); },
     std::string("ruvo: -: ") + sys_error(ENOENT) + "\n", 1},
    {"directory_stops_the_run", "mkdir d; $RUVO a d nosuch",
     [] { return header("a", true) + dump(small_a) + header("d", false); },
     std::string("ruvo: (while reading) d: ") + sys_error(EISDIR) + "\n", 1},
    {"stdout_full", "$RUVO k1 >/dev/full", [] { return std::string(); },
     std::string("ruvo: stdout: ") + sys_error(ENOSPC) + "\n", 1, "/dev/full"},
    {"stdout_full_tiny_output", "$RUVO three >/dev/full", [] { return std::string(); },
     std::string("ruvo: stdout: ") + sys_error(ENOSPC) + "\n", 1, "/dev/full"},
    {"stdin_directory", "$RUVO <.", [] { return std::string(); },
     std::string("ruvo: (while reading) (stdin): ") + sys_error(EISDIR) + "\n", 1},
    {"stdin_closed", "$RUVO <&-", [] { return std::string(); },
     std::string("ruvo: (while reading) (stdin): ") + sys_error(EBADF) + "\n", 1},
    {"stdout_closed", "$RUVO three >&-", [] { return std::string(); },
     std::string("ruvo: stdout: ") + sys_error(EBADF) + "\n", 1},
};
INSTANTIATE_TEST_SUITE_P(inputs, cli, ::testing::ValuesIn(inputs),
                         [](const auto& info) { return std::string(info.param.name); });

const cli_case options[] = {
    {"last_width_wins", "$RUVO -w 32 -w 16 big", [] { return dump(big, 16); }, "", 0},
    {"last_range_wins", "$RUVO -r 0-16 -r 32-48 big", [] { return dump(big, 64, 32, 48); }, "", 0},
    {"attached_arguments", "$RUVO -w16 -r0-256 big", [] { return dump(big, 16, 0, 256); }, "", 0},
    {"range_word_starting_with_hyphen", "$RUVO -r -64 big", [] { return dump(big, 64, 0, 64); }, "",
     0},
    {"double_hyphen_ends_options", "$RUVO -w 8 -- -r", [] { return std::string(); },
     std::string("ruvo: -r: ") + sys_error(ENOENT) + "\n", 1},
    {"options_after_operand_are_operands", "$RUVO big -w 8",
     [] { return header("big", true) + dump(big); },
     std::string("ruvo: -w: ") + sys_error(ENOENT) + "\nruvo: 8: " + sys_error(ENOENT) + "\n", 1},
    {"lenient_width", "$RUVO -w 32px big", [] { return dump(big, 32); }, "", 0},
    {"twenty_digit_width", "$RUVO -w 99999999999999999999 k1_476",
     [] { return dump(k1_476, max_width); }, "", 0},
    {"range_past_end", "$RUVO -r 5000- big", [] { return std::string(); }, "", 0},
    {"range_on_pipe", "cat big | $RUVO -r 100-", [] { return dump(big, 64, 100); }, "", 0},
    {"pipe_shorter_than_start", "cat three | $RUVO -r 10-", [] { return std::string(); }, "", 0},
    {"usage_for_p", "$RUVO -p big", [] { return std::string(); }, usage, 1},
    {"usage_for_p_alone", "$RUVO -p", [] { return std::string(); }, usage, 1},
    {"usage_for_g", "$RUVO -g x big", [] { return std::string(); }, usage, 1},
    {"usage_for_grouped_p", "$RUVO -pw8 big", [] { return std::string(); }, usage, 1},
    {"unknown_option", "$RUVO -x big", [] { return std::string(); }, "ruvo: <any>\n" + usage, 1},
    {"missing_width", "$RUVO -w", [] { return std::string(); }, "ruvo: <any>\n" + usage, 1},
    {"missing_range", "$RUVO -r", [] { return std::string(); }, "ruvo: <any>\n" + usage, 1},
    {"missing_g_argument", "$RUVO -g", [] { return std::string(); }, "ruvo: <any>\n" + usage, 1},
    {"range_error_stops_option_processing", "$RUVO -r 20-10 -x big", [] { return std::string(); },
     "ruvo: end was less than start in range 20-10\n", 1},
    {"width_zero", "$RUVO -w 0 big", [] { return std::string(); }, "ruvo: invalid width 0\n", 1},
    {"width_zero_then_valid", "$RUVO -w 0 -w 8 big", [] { return std::string(); },
     "ruvo: invalid width 0\n", 1},
    {"width_negative", "$RUVO -w -8 big", [] { return std::string(); }, "ruvo: invalid width -8\n",
     1},
    {"width_letters", "$RUVO -w abc big", [] { return std::string(); }, "ruvo: invalid width abc\n",
     1},
    {"width_hex", "$RUVO -w 0x20 big", [] { return std::string(); }, "ruvo: invalid width 0x20\n",
     1},
    {"range_no_delimiter", "$RUVO -r 1024 big", [] { return std::string(); },
     "ruvo: no delimiter in range 1024\n", 1},
    {"range_empty", "$RUVO -r '' big", [] { return std::string(); },
     "ruvo: no delimiter in range \n", 1},
    {"range_invalid_start", "$RUVO -r a-10 big", [] { return std::string(); },
     "ruvo: invalid start value in range a-10\n", 1},
    {"range_invalid_end", "$RUVO -r 1-2-3 big", [] { return std::string(); },
     "ruvo: invalid end/size value in range 1-2-3\n", 1},
    {"range_start_unspecified", "$RUVO -r +8 big", [] { return std::string(); },
     "ruvo: start unspecified in range +8\n", 1},
    {"range_size_unspecified", "$RUVO -r 8+ big", [] { return std::string(); },
     "ruvo: size unspecified in range 8+\n", 1},
    {"range_sum_wraps", "$RUVO -r 99999999999999999999+1 big", [] { return std::string(); },
     "ruvo: end was less than start in range 99999999999999999999+1\n", 1},
};
INSTANTIATE_TEST_SUITE_P(options, cli, ::testing::ValuesIn(options),
                         [](const auto& info) { return std::string(info.param.name); });

// gray N: N colours, entry i the gray of level i mod 256, one per line.
#define GRAY                                                                                       \
    "gray() { i=0; while [ $i -lt $1 ]; do "                                                       \
    "printf '%02x%02x%02x\\n' $((i % 256)) $((i % 256)) $((i % 256)); i=$((i + 1)); done; }\n"

colour_table gray_table(colour first = 0)
{
    colour_table t{};
    for (std::size_t i = 0; i < t.size(); ++i)
        t[i] = static_cast<colour>(i * 0x010101);
    t[0] = first;
    return t;
}

const cli_case palettes[] = {
    {"gray_palette", GRAY "RUVO_COLORS=\"$(gray 256)\" $RUVO -w 2 three",
     [] { return reference_dump(three, 0, 2, gray_table()); }, "", 0},
    {"gray_palette_many_cells", GRAY "RUVO_COLORS=\"$(gray 256)\" $RUVO k1_476",
     [] { return reference_dump(k1_476, 0, 64, gray_table()); }, "", 0},
    {"minus_one_draws_white", GRAY "RUVO_COLORS=\"-00001 $(gray 256 | tail -n 255)\" $RUVO three",
     [] { return reference_dump(three, 0, 64, gray_table(0xffffffff)); }, "", 0},
    {"excess_colours", GRAY "RUVO_COLORS=\"$(gray 257)\" $RUVO -w 2 three",
     [] { return reference_dump(three, 0, 2, gray_table()); },
     "ruvo: more than 256 values in RUVO_COLORS; ignoring excess\n", 0},
    {"empty_variable", "RUVO_COLORS= $RUVO three", [] { return std::string(); },
     "ruvo: error in RUVO_COLORS: expected 256 colours but found 0\n", 1},
    {"too_few_colours", GRAY "RUVO_COLORS=\"$(gray 255)\" $RUVO three",
     [] { return std::string(); },
     "ruvo: error in RUVO_COLORS: expected 256 colours but found 255\n", 1},
    {"invalid_colour", GRAY "RUVO_COLORS=\"$(gray 10) nothex $(gray 300)\" $RUVO three",
     [] { return std::string(); },
     "ruvo: error in RUVO_COLORS: 'nothex' is not a valid hex colour\n", 1},
    {"bad_variable_before_any_input", "RUVO_COLORS=' ' $RUVO nosuch three",
     [] { return std::string(); }, "ruvo: error in RUVO_COLORS: expected 256 colours but found 0\n",
     1},
    {"invalid_option_before_variable", "RUVO_COLORS=' ' $RUVO -p three",
     [] { return std::string(); }, usage, 1},
};
INSTANTIATE_TEST_SUITE_P(palettes, cli, ::testing::ValuesIn(palettes),
                         [](const auto& info) { return std::string(info.param.name); });

// With 1024 + 476 bytes at width 64, the second chunk ends inside the
// lower row of its last row pair: 28 cells with both bytes, then 36 with
// the upper byte only.
TEST(cli_layout, LastRowPairOfAShortChunk)
{
    const scratch dir(fixtures);
    const run_result r = dir.run("$RUVO k1_476");
    ASSERT_EQ(r.status, 0);
    const std::size_t last = r.out.rfind('\n', r.out.size() - 2) + 1;
    const std::string line = r.out.substr(last);
    EXPECT_EQ(line.substr(0, 9), "    0580 ");
    std::size_t pairs = 0, lone = 0, pos = 0;
    while ((pos = line.find("\033[", pos)) != std::string::npos) {
        if (line.compare(pos, 5, "\033[48;") == 0)
            ++pairs;
        else if (line.compare(pos, 4, "\033[0m") == 0)
            ++lone;
        pos += 2;
    }
    EXPECT_EQ(pairs, 28u);
    EXPECT_EQ(lone, 36u);
    // The upper-only cells follow all the two-colour ones.
    EXPECT_GT(line.find("\033[0m"), line.rfind("\033[48;"));
    EXPECT_EQ(line.substr(line.size() - 4), "\033[m\n");
}

// A closed pipe ends ruvo at once, also on endless input: through SIGPIPE,
// or, where the caller ignores that signal, through the write error.
TEST(cli_faults, ClosedPipeEndsTheRun)
{
    const scratch dir(fixtures);
    const run_result r = dir.run("{ timeout 20 $RUVO /dev/zero; echo $? >status; } | head -c 1 "
                                 ">/dev/null; cat status");
    if (r.out == "141\n")
        EXPECT_EQ(r.err, "");
    else
        EXPECT_TRUE(stderr_matches(r.out + r.err, "1\nruvo: stdout: " + sys_error(EPIPE) + "\n"))
            << r.out + r.err;
}

const std::uint64_t four_gib = std::uint64_t{1} << 32;

const cli_case faults[] = {
    {"read_error_at_first_byte", "$RUVO /proc/self/mem a",
     [] { return header("/proc/self/mem", true); },
     std::string("ruvo: (while reading) /proc/self/mem: ") + sys_error(EIO) + "\n", 1,
     "/proc/self/mem"},
    {"pipe_writer_pauses", "{ head -c 500 k1_476; sleep 0.3; tail -c +501 k1_476; } | $RUVO",
     [] { return dump(k1_476); }, "", 0},
    // While the writer stalls, what has arrived is on the screen already.
    {"pipe_stalls",
     "{ head -c 1024 big; sleep 2; tail -c +1025 big; } | $RUVO >partial & "
     "sleep 1; cat partial; wait",
     [] { return dump(big, 64, 0, 1024); }, "", 0},
    {"pipe_ends_before_range_end", "head -c 700 big | $RUVO -r 0-2000",
     [] { return dump(big, 64, 0, 700); }, "", 0},
    {"offsets_past_4_gib",
     "truncate -s 4294967296 sparse && cat big >>sparse && "
     "$RUVO -r 0x100000000- sparse",
     [] { return reference_dump(big, four_gib, 64, default_palette); }, "", 0},
    {"range_across_4_gib",
     "truncate -s 4294967296 sparse && cat big >>sparse && "
     "$RUVO -w 8 -r 0xfffffff0+64 sparse",
     [] {
         bytes part(64, 0);
         std::copy(big.begin(), big.begin() + 48, part.begin() + 16);
         return reference_dump(part, four_gib - 16, 8, default_palette);
     },
     "", 0},
    {"start_at_largest_offset", "$RUVO -r 9223372036854775807- big", [] { return std::string(); },
     "", 0},
    {"start_near_largest_offset", "$RUVO -r 9223372036854775800+7 big a",
     [] { return header("big", true) + header("a", false); }, "", 0},
    {"start_near_largest_offset_on_pipe", "cat big | $RUVO -r 9223372036854775800-",
     [] { return std::string(); }, "", 0},
    // Exactly the bytes past the end of a range longer than one read
    // block are left unread, for the next reader of the input.
    {"bounded_range_leaves_the_rest_of_a_file",
     "dd if=/dev/zero of=f bs=1000 count=200 2>/dev/null; "
     "{ $RUVO -r 0-70000 >/dev/null; wc -c | tr -d ' '; } <f",
     [] { return std::string("130000\n"); }, "", 0},
    {"bounded_range_leaves_the_rest_of_a_pipe",
     "dd if=/dev/zero bs=1000 count=200 2>/dev/null | "
     "{ $RUVO -r 0-70000 >/dev/null; wc -c | tr -d ' '; }",
     [] { return std::string("130000\n"); }, "", 0},
    // The output file as an input would be read back as it grows.
    {"appending_to_the_input", "cp a f; $RUVO f b >>f; echo \"status $?\"; cat f",
     [] {
         const std::string a(small_a.begin(), small_a.end());
         return "status 1\n" + a + header("b", false) + dump(small_b);
     },
     "ruvo: f: input file is output file\n", 0},
    {"standard_input_appended_to", "cp a f; $RUVO <f >>f; echo \"status $?\"; cmp a f && echo same",
     [] { return std::string("status 1\nsame\n"); }, "ruvo: (stdin): input file is output file\n",
     0},
    {"input_opened_for_writing_too",
     "cp a f; $RUVO f 1<>f; echo \"status $?\"; cmp a f && echo same",
     [] { return std::string("status 1\nsame\n"); }, "ruvo: f: input file is output file\n", 0},
    {"one_byte_input_appended_to", "printf x >f; $RUVO f >>f; echo \"status $?\"; cat f",
     [] { return std::string("status 1\nx"); }, "ruvo: f: input file is output file\n", 0},
    {"truncated_by_the_shell", "cp a f; $RUVO f >f; echo \"status $?\"; [ -s f ] || echo empty",
     [] { return std::string("status 0\nempty\n"); }, "", 0},
    // A start that no regular file can reach ends at once, without
    // reading the file through to find its end (see also the unit test).
    {"start_past_the_largest_file", "truncate -s 1G sparse && $RUVO -r 0x7ffffffffffffff0- sparse",
     [] { return std::string(); }, "", 0},
    // Run through PATH, by a bare name; one letter long, too.
    {"bare_name_through_path", "ln -s \"$RUVO\" ruvo && PATH=\"$PWD:$PATH\" ruvo -w 0 a",
     [] { return std::string(); }, "ruvo: invalid width 0\n", 1},
    {"one_letter_name_through_path", "ln -s \"$RUVO\" r && PATH=\"$PWD:$PATH\" r -r 9 a",
     [] { return std::string(); }, "r: no delimiter in range 9\n", 1},
    // The kernel caps one environment string at 128 KiB; this is close.
    {"large_colour_variable", GRAY "RUVO_COLORS=\"$(gray 18000)\" $RUVO -w 2 three",
     [] { return reference_dump(three, 0, 2, gray_table()); },
     "ruvo: more than 256 values in RUVO_COLORS; ignoring excess\n", 0},
};
INSTANTIATE_TEST_SUITE_P(faults, cli, ::testing::ValuesIn(faults),
                         [](const auto& info) { return std::string(info.param.name); });

// The name in messages is the base name ruvo was run under; where that is
// empty, "ruvo".  getopt's own diagnostic uses the same name.
TEST(program_name, MessagesNameTheProgramByItsBaseName)
{
    const struct {
        const char* argv0;
        const char* name;
    } cases[] = {
        {"", "ruvo"}, {"/a/b/", "ruvo"}, {"/usr/local/bin/ruvo", "ruvo"}, {"bin/viewer", "viewer"},
        {"r", "r"},
    };
    // A message of ruvo's own, one of getopt's, and one with no argument
    // but the program's name (where the name comes from argv[0] alone).
    const std::vector<std::string> messages[] = {{"-w", "0"}, {"-x"}, {}};
    for (const auto& c : cases) {
        for (const auto& args : messages) {
            const bool getopt_message = args.size() == 1;
            start_options how;
            how.name = c.argv0;
            if (args.empty())
                how.env = {"RUVO_COLORS=zz"};
            const run_result r = run_ruvo(args, how);
            const std::string& text = r.err;
            EXPECT_TRUE(text.find("no end of the output") == std::string::npos)
                << "no end of standard error within 5 s";
            EXPECT_EQ(r.status, 1);
            const std::string prefix = std::string(c.name) + ": ";
            EXPECT_EQ(text.substr(0, prefix.size()), prefix) << "argv[0] '" << c.argv0 << "'";
            if (!getopt_message) {
                EXPECT_EQ(text, prefix + (args.empty() ? "error in RUVO_COLORS: 'zz' is not a "
                                                         "valid hex colour\n"
                                                       : "invalid width 0\n"))
                    << "argv[0] '" << c.argv0 << "'";
            }
        }
    }
}

// The copy of RUVO_COLORS cannot be made (a preloaded strdup fails): a
// message and status 1, before anything is drawn.
TEST(out_of_memory, NoCopyOfTheColoursEndsTheRun)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "not run: AddressSanitizer's own strdup comes before a preloaded one";
#endif
    if (binary_under_test() != RUVO_BINARY)
        GTEST_SKIP() << "not run: preloading needs the program built with the tests";
    const scratch dir({{"three", three}});
    start_options how;
    how.env = {std::string("LD_PRELOAD=") + RUVO_FAULTS, "RUVO_TEST_NO_MEMORY=strdup",
               "RUVO_COLORS=000000", "ASAN_OPTIONS=verify_asan_link_order=0"};
    const run_result r = run_ruvo({dir.dir() + "/three"}, how);
    const std::string& message = r.err;
    const std::string& drawn = r.out;
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(message, "ruvo: strdup\n");
    EXPECT_EQ(drawn, "");
}

// With no arguments at all, not even the program's name, ruvo reads
// standard input.  (Linux gives such a program one empty argument.)
TEST(program_name, NoArgumentsAtAllDumpsStandardInput)
{
    const scratch dir({{"three", three}});
    const int in = open((dir.dir() + "/three").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(in, 0);
    start_options how;
    how.no_arguments = true;
    const run_result r = run_ruvo({}, how, std::chrono::seconds(5), in);
    close(in);
    EXPECT_TRUE(r.err.find("no end of the output") == std::string::npos)
        << "no end of standard output within 5 s";
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(printable(r.out), printable(dump(three)));
}

} // namespace
} // namespace ruvo::test
