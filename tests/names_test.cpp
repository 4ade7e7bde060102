// Outside text on a terminal: file names, arguments and palette tokens that
// hold control characters are shown with '?' in their place, so that a
// name cannot retitle, clear or otherwise command the terminal.  Into
// pipes every byte stays as it is.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "e2e.hpp"
#include "processes.hpp"
#include "reference.hpp"
#include "scratch_files.hpp"

namespace ruvo::test {
namespace {

using namespace std::chrono_literals;

// What ruvo wrote to standard output and standard error, and its status.
struct seen {
    std::string out, err;
    int status = -1;
};

// Runs ruvo with both outputs on one pseudo-terminal: `out` is all there
// is, in the order it came.
seen on_a_terminal(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                   const char* name = nullptr, const char* dir = nullptr)
{
    pty term;
    if (term.slave < 0)
        throw std::runtime_error("no pseudo-terminal");
    const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
    start_options how;
    how.err = term.slave;
    how.env = env;
    how.name = name;
    how.dir = dir;
    const pid_t pid = start_ruvo(args, null, term.slave, how);
    close(null);
    term.close_slave();
    seen s;
    s.out = drain(term.master, 5s);
    s.status = wait_status(pid);
    return s;
}

// Runs ruvo with its outputs on two pipes.
seen into_pipes(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                const char* name = nullptr)
{
    start_options how;
    how.env = env;
    how.name = name;
    const run_result r = run_ruvo(args, how);
    seen s;
    s.out = r.out;
    s.err = r.err;
    s.status = r.status;
    return s;
}

struct name_case {
    const char* name;
    std::string raw;   // the file's name
    std::string shown; // as a terminal shows it
};

std::ostream& operator<<(std::ostream& os, const name_case& c)
{
    return os << c.name;
}

class names : public ::testing::TestWithParam<name_case> {};

// A file of that name and a missing one of a similar name, after a plain
// file: the header line and the warning.
TEST_P(names, HeaderAndWarningShowNoControlCharacterOnATerminal)
{
    const name_case& c = GetParam();
    const bytes ab = {'A', 'B'};
    const scratch dir({{c.raw, ab}, {"z", ab}});
    const std::string file = dir.dir() + "/" + c.raw;
    const std::string missing = dir.dir() + "/no-" + c.raw;
    const std::string shown_file = dir.dir() + "/" + c.shown;
    const std::string shown_missing = dir.dir() + "/no-" + c.shown;
    const std::string z = dir.dir() + "/z";
    const std::string drawn = reference_dump(ab, 0, 64, default_palette);
    const std::string no_such = std::string(": ") + sys_error(ENOENT) + "\n";

    const seen term = on_a_terminal({z, file, missing});
    EXPECT_TRUE(stderr_matches(term.out, header(z, true) + drawn + header(shown_file, false) +
                                             drawn + "ruvo: " + shown_missing + no_such))
        << printable(term.out);
    EXPECT_EQ(term.status, 1);

    const seen piped = into_pipes({z, file, missing});
    EXPECT_EQ(printable(piped.out),
              printable(header(z, true) + drawn + header(file, false) + drawn));
    EXPECT_TRUE(stderr_matches(piped.err, "ruvo: " + missing + no_such)) << piped.err;
    EXPECT_EQ(piped.status, 1);
}

const name_case name_cases[] = {
    {"title", "\033]0;pwned\a", "?]0;pwned?"},
    {"clear_screen", "\033[2J", "?[2J"},
    {"clipboard", "\033]52;c;cHduZWQ=\a", "?]52;c;cHduZWQ=?"},
    {"newline", "two\nlines", "two?lines"},
    {"delete", "rub\x7fout", "rub?out"},
    {"c1_in_utf8",
     "csi\xc2\x9b"
     "2J",
     "csi?2J"},
    {"c1_raw",
     "csi\x9b"
     "2J",
     "csi?2J"},
    {"utf8", "caf\xc3\xa9-\xe6\x97\xa5\xe6\x9c\xac", "caf\xc3\xa9-\xe6\x97\xa5\xe6\x9c\xac"},
    {"not_utf8", "latin1-caf\xe9", "latin1-caf\xe9"},
};
INSTANTIATE_TEST_SUITE_P(outside_text, names, ::testing::ValuesIn(name_cases),
                         [](const auto& info) { return std::string(info.param.name); });

// Arguments and palette tokens quoted in messages.
TEST(outside_text, MessagesShowNoControlCharacterOnATerminal)
{
    std::string colours = "RUVO_COLORS=";
    for (int i = 0; i < 10; ++i)
        colours += "102030 ";
    colours += "\033[31m";
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> env;
        std::string raw;   // standard error into a pipe
        std::string shown; // on a terminal
    } cases[] = {
        {{"-r", "\033[2J"},
         {},
         "ruvo: no delimiter in range \033[2J\n",
         "ruvo: no delimiter in range ?[2J\n"},
        {{"-r", "1-\033]0;x\a"},
         {},
         "ruvo: invalid end/size value in range 1-\033]0;x\a\n",
         "ruvo: invalid end/size value in range 1-?]0;x?\n"},
        {{"-w", "\x9b"
                "5m"},
         {},
         "ruvo: invalid width \x9b"
         "5m\n",
         "ruvo: invalid width ?5m\n"},
        {{},
         {colours},
         "ruvo: error in RUVO_COLORS: '\033[31m' is not a valid hex colour\n",
         "ruvo: error in RUVO_COLORS: '?[31m' is not a valid hex colour\n"},
    };
    for (const auto& c : cases) {
        const seen term = on_a_terminal(c.args, c.env);
        EXPECT_EQ(printable(term.out), printable(c.shown));
        EXPECT_EQ(term.status, 1);
        const seen piped = into_pipes(c.args, c.env);
        EXPECT_EQ(printable(piped.err), printable(c.raw));
        EXPECT_EQ(piped.status, 1);
    }
}

// getopt quotes an unknown option letter; an escape as that letter is
// shown as '?' on a terminal, in the first argument or a later one.
TEST(outside_text, UnknownOptionLetterShowsNoControlCharacterOnATerminal)
{
    for (const auto& args :
         {std::vector<std::string>{"-w8", "-\033"}, std::vector<std::string>{"-\033"}}) {
        SCOPED_TRACE(printable(args.back()) + " as argument " + std::to_string(args.size()));
        const seen term = on_a_terminal(args);
        EXPECT_EQ(term.status, 1);
        EXPECT_EQ(term.out.find('\033'), std::string::npos) << printable(term.out);
        EXPECT_NE(term.out.find("usage: ruvo"), std::string::npos) << printable(term.out);
        const seen piped = into_pipes(args);
        EXPECT_NE(piped.err.find('\033'), std::string::npos) << printable(piped.err);
    }
}

// After the first operand everything is an operand, even a word that
// looks like an unknown option: `ruvo - -<ESC>` dumps the files named "-"
// and "-<ESC>", and only their header shows the escape neutralised.
TEST(outside_text, AnOperandThatLooksLikeAnOptionIsAFile)
{
    const bytes first = random_bytes(100, 71);
    const bytes second = random_bytes(100, 72);
    const scratch dir({{"-", first}, {"-\033", second}});
    const seen term = on_a_terminal({"-", "-\033"}, {}, nullptr, dir.dir().c_str());
    EXPECT_EQ(term.status, 0);
    EXPECT_EQ(printable(term.out),
              printable(header("-", true) + reference_dump(first, 0, 64, default_palette) +
                        header("-?", false) + reference_dump(second, 0, 64, default_palette)));
}

// The name ruvo was run under begins every message, its own and getopt's:
// on a terminal it too shows no control character.
TEST(outside_text, ProgramNameShowsNoControlCharacterOnATerminal)
{
    const char* name = "\033]0;TITLE\007ruvo";
    for (const auto& args :
         {std::vector<std::string>{"/nonexistent"}, std::vector<std::string>{"-x"}}) {
        SCOPED_TRACE(args[0]);
        const seen term = on_a_terminal(args, {}, name);
        EXPECT_EQ(term.status, 1);
        EXPECT_EQ(term.out.rfind("?]0;TITLE?ruvo: ", 0), 0u) << printable(term.out);
        EXPECT_EQ(term.out.find('\033'), std::string::npos) << printable(term.out);
        const seen piped = into_pipes(args, {}, name);
        EXPECT_EQ(piped.err.rfind(std::string(name) + ": ", 0), 0u) << printable(piped.err);
    }
}

} // namespace
} // namespace ruvo::test
