// The stream dumper: reads the chosen byte range of one input and draws it
// as lines of half-block cells, each led by the offset of its first byte.
#ifndef RUVO_RENDER_HPP
#define RUVO_RENDER_HPP

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "palette.hpp"

namespace ruvo {

// Bytes read and drawn at a time.  Every chunk starts a new line, so the
// layout begins again every chunk_size bytes of the range.
inline constexpr std::size_t chunk_size = 1024;

// Written by option processing, read-only once the first input is opened.
struct dump_settings {
    std::uint64_t width = 64;     // bytes per pixel row, at least 1
    std::int64_t range_start = 0; // first byte shown
    std::int64_t range_end = -1;  // one past the last byte, or -1 for EOF
};
extern dump_settings settings;

// One escape sequence, padded so that it can be copied as a fixed-size
// block: copying all of `text` and then advancing by `size` is cheaper
// than a copy of variable length.
struct sequence {
    char text[31];
    std::uint8_t size;
};
static_assert(sizeof(sequence) == 32);

// The pieces every cell is built from, one per palette entry:
//   two colours: upper[U] then lower[L]   ("\033[38;2;R;G;Bm\033[48;2;R;G;Bm▀")
//   upper only:  lone[U]                  ("\033[0m\033[38;2;R;G;Bm▀")
struct cell_strings {
    sequence upper[256]; // foreground colour
    sequence lower[256]; // background colour and the half block
    sequence lone[256];  // attributes off, foreground colour, half block
};

// Builds the sequences from a colour table.  Call once the palette is final.
void prepare_cells(const colour_table& table);

// The sequences dump_stream draws with.
extern cell_strings cells;

// Longest text the label, a cell and a line end can take.  A label shows
// an offset below 2^64: 13 digits above the low 12 bits, 3 below, a blank.
inline constexpr std::size_t max_label = 13 + 3 + 1;
inline constexpr std::size_t max_pair_cell = 19 + 19 + 3;
inline constexpr std::size_t max_lone_cell = 4 + 19 + 3;
inline constexpr std::size_t line_end_size = 4; // "\033[m\n"

// Room for the text of one chunk of n <= chunk_size bytes: each byte opens
// at most one cell and at most one line.  The slack lets the last sequence
// be copied as a whole block.
inline constexpr std::size_t chunk_text_max =
    chunk_size * (max_pair_cell + max_label + line_end_size) + sizeof(sequence);

// Draws n bytes (n <= chunk_size) as one chunk whose first byte lies at
// `offset` of the input, into out (chunk_text_max bytes).  Returns the
// number of bytes of text.  Any width >= 1 is valid.
std::size_t render_chunk(char* out, const unsigned char* bytes, std::size_t n, std::uint64_t offset,
                         std::uint64_t width, const cell_strings& strings);

// Dumps the range of `settings` from `in` to `out`.  `name` is what
// messages call the input.  Seek, read and write errors end the program.
void dump_stream(std::FILE* in, const char* name, std::FILE* out = stdout);

// Ends the program with "stdout: <error>" if writing to out has failed.
void check_output(std::FILE* out);

} // namespace ruvo

#endif
