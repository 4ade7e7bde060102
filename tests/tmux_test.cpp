// ruvo in a real terminal: run it inside tmux, read the screen back, and
// check what each cell shows: its character, its foreground and its
// background colour.  This checks that a terminal reads our sequences as
// meant, not only that the bytes match.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
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
            const std::size_t end = text.find('m', i);
            std::vector<int> p;
            std::string num;
            for (std::size_t j = i + 2; j <= end; ++j) {
                if (text[j] == ';' || text[j] == 'm') {
                    p.push_back(num.empty() ? 0 : std::stoi(num));
                    num.clear();
                } else {
                    num += text[j];
                }
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
    const std::string tmux = "tmux -f /dev/null -S '" + dir.dir() + "/tmux'";
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

} // namespace
} // namespace ruvo::test
