// ruvo in a real terminal: run it inside tmux, read the screen back, and
// check what each cell shows: its character, its foreground and its
// background colour.  This checks that a terminal reads our sequences as
// meant, not only that the bytes match.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "e2e.hpp"

namespace ruvo::test {
namespace {

struct rgb {
    int r = -1, g = -1, b = -1; // -1: the terminal's default colour
    bool operator==(const rgb&) const = default;
};
const rgb default_colour{};

std::ostream& operator<<(std::ostream& os, const rgb& c)
{
    if (c == default_colour)
        return os << "default";
    return os << c.r << ';' << c.g << ';' << c.b;
}

struct cell {
    std::string ch; // one UTF-8 character
    rgb fg, bg;
};

// Reads `capture-pane -e` text into cells, as a terminal would: SGR
// sequences change the current colours, every other character is a cell.
std::vector<std::vector<cell>> screen_of(const std::string& text)
{
    std::vector<std::vector<cell>> rows(1);
    rgb fg, bg;
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == '\n') {
            rows.emplace_back();
            ++i;
        } else if (text.compare(i, 2, "\033[") == 0) {
            // The parameters, read by hand: a screen holds thousands of
            // sequences, and this also runs in unoptimised builds.
            const std::size_t end = text.find('m', i);
            std::vector<int> p(1, 0);
            for (std::size_t j = i + 2; j < end; ++j) {
                if (text[j] == ';')
                    p.push_back(0);
                else
                    p.back() = p.back() * 10 + (text[j] - '0');
            }
            for (std::size_t k = 0; k < p.size(); ++k) {
                if (p[k] == 0) {
                    fg = bg = default_colour;
                } else if (p[k] == 39) {
                    fg = default_colour;
                } else if (p[k] == 49) {
                    bg = default_colour;
                } else if ((p[k] == 38 || p[k] == 48) && k + 4 < p.size() && p[k + 1] == 2) {
                    (p[k] == 38 ? fg : bg) = rgb{p[k + 2], p[k + 3], p[k + 4]};
                    k += 4;
                }
            }
            i = end + 1;
        } else {
            std::size_t len = 1;
            const auto lead = static_cast<unsigned char>(text[i]);
            if (lead >= 0xf0)
                len = 4;
            else if (lead >= 0xe0)
                len = 3;
            else if (lead >= 0xc0)
                len = 2;
            rows.back().push_back({text.substr(i, len), fg, bg});
            i += len;
        }
    }
    return rows;
}

rgb colour_of(unsigned long v)
{
    return {static_cast<int>(v >> 16), static_cast<int>((v >> 8) & 0xff),
            static_cast<int>(v & 0xff)};
}

TEST(terminal, TmuxShowsLabelsAndColouredHalfBlocks)
{
    if (std::system("command -v tmux >/dev/null 2>&1") != 0)
        FAIL() << "not run: tmux is missing; install the Debian package tmux";

    // Width 3: line one pairs bytes 0-2 with 3-5; line two holds bytes 6
    // and 7 with nothing below them.
    const bytes input = {0x00, 0xff, 0x41, 0x10, 0x0f, 0x8e, 0x20, 0x7b};
    const scratch dir({{"input", input}});
    // The server's socket in the scratch folder, so that it goes with it.
    // The pane's command runs in $SHELL, else the user's login shell,
    // which for a system user such as nobody runs nothing.
    const std::string tmux = "SHELL=/bin/sh tmux -f /dev/null -S '" + dir.dir() + "/tmux'";
    const run_result started = dir.run(tmux + " new-session -d -x 60 -y 6 \"$RUVO -w 3 input; "
                                              "echo done; sleep 60\"");
    ASSERT_EQ(started.status, 0) << started.err;

    run_result shown;
    for (int tries = 0; tries < 100; ++tries) {
        shown = dir.run(tmux + " capture-pane -e -p");
        if (shown.out.find("done") != std::string::npos)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    (void)dir.run(tmux + " kill-server");
    ASSERT_NE(shown.out.find("done"), std::string::npos) << printable(shown.out);

    const auto rows = screen_of(shown.out);
    ASSERT_GE(rows.size(), 2u) << printable(shown.out);
    const struct {
        std::size_t row;
        std::string label;
        std::vector<std::pair<unsigned long, std::optional<unsigned long>>> cells;
    } lines[] = {
        {0, "    0000 ", {{0x000000, 0x4c1600}, {0xffffff, 0xfe9595}, {0x395600, 0x79ffff}}},
        {1, "    0006 ", {{0x4c3900, std::nullopt}, {0x28ff70, std::nullopt}}},
    };
    for (const auto& line : lines) {
        const auto& row = rows[line.row];
        ASSERT_GE(row.size(), line.label.size() + line.cells.size()) << printable(shown.out);
        for (std::size_t i = 0; i < line.label.size(); ++i) {
            EXPECT_EQ(row[i].ch, line.label.substr(i, 1)) << "row " << line.row << " col " << i;
            EXPECT_EQ(row[i].fg, default_colour) << "label, row " << line.row;
            EXPECT_EQ(row[i].bg, default_colour) << "label, row " << line.row;
        }
        for (std::size_t c = 0; c < line.cells.size(); ++c) {
            const cell& got = row[line.label.size() + c];
            const auto& [upper, lower] = line.cells[c];
            EXPECT_EQ(got.ch, "\u2580") << "row " << line.row << " cell " << c;
            EXPECT_EQ(got.fg, colour_of(upper)) << "row " << line.row << " cell " << c;
            EXPECT_EQ(got.bg, lower ? colour_of(*lower) : default_colour)
                << "row " << line.row << " cell " << c;
        }
        // Nothing is drawn after the last cell of the line.
        for (std::size_t i = line.label.size() + line.cells.size(); i < row.size(); ++i)
            EXPECT_EQ(row[i].ch, " ") << "row " << line.row << " col " << i;
    }
}

// A tmux server of the test's own, its socket in a scratch folder, with
// one pane running an interactive bash as a user's terminal has it.
class tmux_session {
  public:
    tmux_session(const scratch& dir, const std::string& options)
        : dir_(dir),
          // The pane's command runs in $SHELL, else the user's login shell,
          // which for a system user such as nobody runs nothing.
          tmux_("SHELL=/bin/sh tmux -f '" + dir.dir() + "/tmux.conf' -S '" + dir.dir() + "/tmux'")
    {
        write_file(dir.dir() + "/tmux.conf", bytes(options.begin(), options.end()));
        const run_result r = dir.run(tmux_ + " new-session -d -x 100 -y 40 "
                                             "'env -i PATH=/usr/bin:/bin TERM=tmux-256color "
                                             "HOME=\"$PWD\" HISTFILE=/dev/null PS1=\"prompt\\$ \" "
                                             "bash --norc --noprofile -i'");
        started_ = r.status == 0;
        error_ = r.err;
        // The server is a daemon, in a session of its own: should the test
        // binary be ended early, the server is killed with the rest.
        server_ = started_ ? std::atoi(format("#{pid}").c_str()) : 0;
        if (server_ > 0)
            note_started(server_);
    }
    ~tmux_session()
    {
        (void)dir_.run(tmux_ + " kill-server");
        if (server_ > 0)
            note_ended(server_);
    }
    tmux_session(const tmux_session&) = delete;
    tmux_session& operator=(const tmux_session&) = delete;

    bool started() const { return started_; }
    const std::string& command() const { return tmux_; }
    const std::string& error() const { return error_; }

    void keys(const std::string& what) const { (void)dir_.run(tmux_ + " send-keys " + what); }
    void type(const std::string& line) const
    {
        (void)dir_.run(tmux_ + " send-keys -l '" + line + "'");
        keys("Enter");
    }
    std::string screen(const std::string& flags = "") const
    {
        return dir_.run(tmux_ + " capture-pane -p " + flags).out;
    }
    std::string format(const std::string& what) const
    {
        return dir_.run(tmux_ + " display-message -p '" + what + "'").out;
    }
    // Waits until the visible screen shows `text`.
    bool shows(const std::string& text, std::chrono::milliseconds limit) const
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            if (screen().find(text) != std::string::npos)
                return true;
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

  private:
    const scratch& dir_;
    std::string tmux_;
    bool started_ = false;
    std::string error_;
    pid_t server_ = 0;
};

// The text of a row of cells, without its colours.
std::string text_of(const std::vector<cell>& row)
{
    std::string t;
    for (const auto& c : row)
        t += c.ch;
    return t;
}

// Judges a screen's dump rows: every row that shows a half block is a
// dump row under a label of its own, with the right colours in every cell;
// it has all its cells, unless it is the row a stop cut, which may end
// early and with the terminal's echo of Ctrl-Z.  Rows go on in order;
// after a stop (a cut row, or the shell's lines) they go on from the cut
// row or a later one (the terminal may have thrown some away), and with
// `none_lost` from the cut row or the one after it.
::testing::AssertionResult rows_whole(const std::vector<std::vector<cell>>& rows, const bytes& data,
                                      std::size_t width, bool none_lost, int* cut_rows)
{
    const auto fail = [&](std::size_t r, const std::string& why) {
        auto failure = ::testing::AssertionFailure()
                       << "screen row " << r << ": " << why << "; the rows around it:";
        for (std::size_t i = r >= 3 ? r - 3 : 0; i < rows.size() && i <= r + 2; ++i)
            failure << "\n  " << (i == r ? "> " : "  ") << text_of(rows[i]);
        return failure;
    };
    long long last = -1;     // the label of the last dump row
    bool after_stop = false; // that row is one that a stop cut
    *cut_rows = 0;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const auto& row = rows[r];
        const auto is = [](const char* ch) { return [ch](const cell& c) { return c.ch == ch; }; };
        if (std::none_of(row.begin(), row.end(), is("\u2580"))) {
            // The shell's lines: a stop came between the rows around them.
            after_stop = after_stop || (last >= 0 && !row.empty());
            continue;
        }
        if (row.size() < 10)
            return fail(r, "too short for a label");
        std::string label;
        for (std::size_t i = 0; i < 9; ++i)
            label += row[i].ch;
        char* end = nullptr;
        const long long at = std::strtoll(label.c_str(), &end, 16);
        if (label[8] != ' ' || end != label.c_str() + 8 ||
            at % static_cast<long long>(2 * width) != 0 ||
            at >= static_cast<long long>(data.size()))
            return fail(r, "no label of a row of this dump");
        const auto first = static_cast<std::size_t>(at);
        const std::size_t expected = std::min(width, data.size() - first);
        std::size_t cells = 0;
        while (9 + cells < row.size() && row[9 + cells].ch == "\u2580") {
            const std::size_t up = first + cells;
            const std::size_t down = up + width;
            if (row[9 + cells].fg != colour_of(default_palette[data[up]]) ||
                row[9 + cells].bg !=
                    (down < data.size() ? colour_of(default_palette[data[down]]) : default_colour))
                return fail(r,
                            "cell " + std::to_string(cells) + " has the colours of another byte");
            ++cells;
        }
        std::string rest;
        for (std::size_t i = 9 + cells; i < row.size(); ++i)
            rest += row[i].ch;
        rest.erase(rest.find_last_not_of(' ') + 1);
        // The terminal echoes Ctrl-Z as "^Z" where the output stopped; a
        // sequence or a character that the stop cut in two swallows some
        // or all of it.
        // The shell's message may follow on the same line.
        static const std::regex echo_then_shell(R"(\^?Z?(\[1\]\+ +Stopped.*)?)");
        const bool cut_here = (cells < expected && rest.empty()) ||
                              (!rest.empty() && std::regex_match(rest, echo_then_shell));
        if (cut_here)
            ++*cut_rows;
        else if (!rest.empty())
            return fail(r, "stray text after the cells: " + rest);
        else if (cells != expected)
            return fail(r, std::to_string(cells) + " cells where " + std::to_string(expected) +
                               " belong");
        if (last >= 0) {
            const long long next = last + static_cast<long long>(2 * width);
            // After a stop, the dump goes on from the row it cut, or from
            // the next one where the cut fell at a line's end; with output
            // thrown away, from a later one.
            if (after_stop ? (at < last || (none_lost && at != last && at != next)) : at != next)
                return fail(r, "comes after the row at " + std::to_string(last));
        }
        last = at;
        after_stop = cut_here;
    }
    if (last != static_cast<long long>((data.size() - 1) / (2 * width) * (2 * width)))
        return ::testing::AssertionFailure() << "the last row on the screen is not the dump's last";
    return ::testing::AssertionSuccess();
}

// Ctrl-Z and `fg` in bash, in a terminal as users have it: with its
// default settings the kernel throws away the output queued for the
// terminal at Ctrl-Z, and with noflsh it keeps it.  Either way, every row
// on the screen afterwards is whole, under its own label, with every cell
// in its place, and the terminal's modes are as they were.
class stopped_in_tmux : public ::testing::TestWithParam<bool> {};

TEST_P(stopped_in_tmux, EveryRowIsWholeUnderItsOwnLabel)
{
    if (std::system("command -v tmux >/dev/null 2>&1") != 0)
        FAIL() << "not run: tmux is missing; install the Debian package tmux";
    const bool noflsh = GetParam();
    constexpr std::size_t width = 64;
    const bytes data = random_bytes(3 << 19, 61);
    const scratch dir({{"data", data}});
    const tmux_session tmux(dir, "set -g history-limit 40000\n");
    ASSERT_TRUE(tmux.started()) << tmux.error();
    ASSERT_TRUE(tmux.shows("prompt$", std::chrono::seconds(5))) << "no prompt within 5 s";
    tmux.type(std::string(noflsh ? "stty noflsh; " : "") + "stty -g >modes.before; clear");
    const std::string modes =
        "#{keypad_flag}#{keypad_cursor_flag}#{insert_flag}#{origin_flag}#{wrap_flag}";
    const std::string modes_before = tmux.format(modes);

    // As users run it: bash's own child, in a job of its own.
    tmux.type(binary_under_test() + " data");
    // The last row's label, and the prompt after it, show the end.
    const std::size_t last_row = (data.size() - 1) / (2 * width) * (2 * width);
    char last_label[32];
    std::snprintf(last_label, sizeof last_label, "%5zx%03zx ", last_row >> 12, last_row & 0xfff);
    const auto ended = [&](std::chrono::milliseconds limit) {
        return tmux.shows(last_label, limit) && tmux.shows("prompt$", limit);
    };
    int stops = 0;
    for (; stops < 3; ++stops) {
        // Drawing; the terminal has output queued all along.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        if (ended(std::chrono::milliseconds(0)))
            break;
        tmux.keys("C-z");
        ASSERT_TRUE(tmux.shows("[1]+  Stopped", std::chrono::seconds(5)))
            << "ruvo did not stop within 5 s of Ctrl-Z " << stops + 1 << "; the screen:\n"
            << tmux.screen("-e -S -3") << "\nthe processes:\n"
            << dir.run("ps -o pid,stat,wchan:20,args -t \"$(" + tmux.command() +
                       " display -p '#{pane_tty}')\"")
                   .out;
        tmux.type("clear -x; fg");
    }
    // Three stops where the drawing lasts long enough, at least two on a
    // slow build (the sanitizers').
    EXPECT_GE(stops, 2) << "ruvo ended before the second Ctrl-Z: the input is too small";
    ASSERT_TRUE(ended(std::chrono::seconds(15))) << "ruvo did not end within 15 s";
    tmux.type("stty -g >modes.after");
    ASSERT_TRUE(tmux.shows("prompt$ ", std::chrono::seconds(5)));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    const auto rows = screen_of(tmux.screen("-e -S - -E -"));
    int cut = 0;
    EXPECT_TRUE(rows_whole(rows, data, width, noflsh, &cut));
    EXPECT_LE(cut, stops);
    EXPECT_EQ(tmux.format(modes), modes_before) << "the terminal's modes changed";
    EXPECT_EQ(read_file(dir.dir() + "/modes.after"), read_file(dir.dir() + "/modes.before"))
        << "the terminal's settings changed";
}

INSTANTIATE_TEST_SUITE_P(stty, stopped_in_tmux, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "noflsh" : "default"; });

} // namespace
} // namespace ruvo::test
