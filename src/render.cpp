#include "render.hpp"

#include <err.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "sgr.hpp"
#include "visible.hpp"

namespace ruvo {

// On regular files no chunk ever straddles two read blocks, and a chunk's
// text always fits the room the output batch has for it.
static_assert(block_size % chunk_size == 0);
static_assert(chunk_text_max <= text_out::max_room);

namespace {

constexpr char hex_digits[] = "0123456789abcdef";

// The constant heads of the sequences, padded to the size they are
// stored with; the colour text follows right after the head.
constexpr char fg_head[8] = "\033[38;2;";
constexpr char bg_head[8] = "\033[48;2;";
constexpr char lone_head[16] = "\033[0m\033[38;2;";
constexpr std::size_t head_size = sizeof "\033[38;2;" - 1;
constexpr std::size_t lone_head_size = sizeof "\033[0m\033[38;2;" - 1;
constexpr std::size_t half_block_size = sizeof "\u2580" - 1;

// The longest colour text, with 255 in every channel, and the longest
// cells built from it.
constexpr std::size_t max_colour = sizeof "255;255;255m\u2580" - 1;
static_assert(max_colour <= colour_block, "every colour fits its block");
static_assert(2 * head_size + 2 * max_colour - half_block_size == max_pair_cell);
static_assert(lone_head_size + max_colour == max_lone_cell && max_lone_cell < max_pair_cell);
static_assert(reset_and_newline.size() - 1 == line_end_size);

// Copies a whole block to p and advances by `size`.
template <std::size_t N> inline char* copy_block(char* p, const char (&block)[N], std::size_t size)
{
    std::memcpy(p, block, N);
    return p + size;
}

// The label of "%5zx%03zx ": the offset above its low 12 bits in hex,
// right-aligned in 5 columns, then the low 12 bits as 3 hex digits.
char* put_label(char* p, std::uint64_t offset)
{
    std::uint64_t high = offset >> 12;
    std::size_t digits = 1;
    for (std::uint64_t v = high >> 4; v != 0; v >>= 4)
        ++digits;
    constexpr char blanks[5] = {' ', ' ', ' ', ' ', ' '};
    std::memcpy(p, blanks, sizeof blanks);
    char* h = p + std::max(digits, sizeof blanks);
    p = h;
    do {
        *--h = hex_digits[high & 0xf];
        high >>= 4;
    } while (high != 0);
    *p++ = hex_digits[(offset >> 8) & 0xf];
    *p++ = hex_digits[(offset >> 4) & 0xf];
    *p++ = hex_digits[offset & 0xf];
    *p++ = ' ';
    return p;
}

} // namespace

void prepare_cells(const colour_table& table, cell_strings& cells)
{
    for (std::size_t i = 0; i < table.size(); ++i) {
        const colour c = table[i];
        char text[colour_block + 1]; // and snprintf's terminating NUL
        const int len =
            std::snprintf(text, sizeof text, "%d;%d;%dm\u2580", static_cast<int>((c >> 16) & 0xff),
                          static_cast<int>((c >> 8) & 0xff), static_cast<int>(c & 0xff));
        std::memcpy(cells.colour[i], text, colour_block);
        cells.size[i] = static_cast<std::uint8_t>(len);
    }
}

std::size_t render_chunk(char* out, const unsigned char* bytes, std::size_t n, std::uint64_t offset,
                         std::uint64_t width, const cell_strings& strings)
{
    // A row at least as wide as the chunk draws like one exactly as wide:
    // one line, every cell without a lower byte.  Clamping keeps 2 * w and
    // every index below far from overflow.  Option processing never lets
    // a width of 0 through; should one arrive, it is drawn as 1 rather
    // than looping forever.
    const std::size_t w =
        width < n ? static_cast<std::size_t>(std::max<std::uint64_t>(width, 1)) : n;
    char* p = out;
    for (std::size_t r = 0; r < n; r += 2 * w) {
        p = put_label(p, offset + r);
        const std::size_t upper_end = std::min(r + w, n);
        const std::size_t lower_end = std::min(r + 2 * w, n);
        const unsigned char* up = bytes + r;
        const unsigned char* low = bytes + r + w;
        const std::size_t pairs = lower_end > r + w ? lower_end - (r + w) : 0;
        const std::size_t total = upper_end - r;
        std::size_t i = 0;
        // Everything a cell needs is read before anything is stored: the
        // text may alias anything, so loads that followed the stores would
        // have to wait for them.
        for (; i < pairs; ++i) {
            const unsigned u = up[i];
            const unsigned l = low[i];
            char u_text[colour_block];
            char l_text[colour_block];
            std::memcpy(u_text, strings.colour[u], colour_block);
            std::memcpy(l_text, strings.colour[l], colour_block);
            const std::size_t u_size = strings.size[u] - half_block_size;
            const std::size_t l_size = strings.size[l];
            p = copy_block(p, fg_head, head_size);
            p = copy_block(p, u_text, u_size);
            p = copy_block(p, bg_head, head_size);
            p = copy_block(p, l_text, l_size);
        }
        for (; i < total; ++i) {
            const unsigned u = up[i];
            p = copy_block(p, lone_head, lone_head_size);
            p = copy_block(p, strings.colour[u], strings.size[u]);
        }
        std::memcpy(p, reset_and_newline.data(), line_end_size);
        p += line_end_size;
    }
    return static_cast<std::size_t>(p - out);
}

void dump_stream(int fd, const char* name, const dump_settings& settings, const cell_strings& cells,
                 text_out& out)
{
    const dump_settings s = settings;
    input in(fd, out);

    seek_to_start(in, name, s.range_start);

    // The range's length.  Unbounded ranges read to the end of the input,
    // which lies at the largest offset at the latest: no read may reach
    // past it, as the system refuses one that would.
    const bool bounded = s.range_end != -1;
    const std::uint64_t end = bounded ? static_cast<std::uint64_t>(s.range_end) : INT64_MAX;
    const std::uint64_t total = end - static_cast<std::uint64_t>(s.range_start);
    const auto start = static_cast<std::uint64_t>(s.range_start);
    block_buffer buffer(in, total);
    std::uint64_t done = 0;
    while (done != total && !in.eof && in.error == 0) {
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(total - done, chunk_size));
        const unsigned char* bytes = nullptr;
        const std::size_t n = buffer.take(in, want, &bytes);
        if (n != 0)
            out.advance(
                render_chunk(out.room(chunk_text_max), bytes, n, start + done, s.width, cells));
        done += n;
    }
    // What was drawn is written before any message about the input.
    out.flush();
    if (in.error != 0) {
        errno = in.error;
        err(1, "(while reading) %s", name);
    }
}

void write_header(text_out& out, const char* name, bool first)
{
    if (!first)
        out.put("\n", 1);
    constexpr auto open = join("====> ", bold);
    constexpr auto close = join(attributes_off, " <====\n");
    const shown_text shown(name, STDOUT_FILENO);
    out.put(open.data(), open.size() - 1);
    out.put(shown.c_str(), std::strlen(shown.c_str()));
    out.put(close.data(), close.size() - 1);
}

} // namespace ruvo
