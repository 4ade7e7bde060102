// The output format and the stream dumper: reads the chosen byte range of
// one input and draws it as lines of half-block cells, each led by the
// offset of its first byte; and the header line between inputs.
#ifndef RUVO_RENDER_HPP
#define RUVO_RENDER_HPP

#include <cstddef>
#include <cstdint>

#include "io.hpp"
#include "palette.hpp"

namespace ruvo {

// Bytes read and drawn at a time.  Every chunk starts a new line, so the
// layout begins again every chunk_size bytes of the range.
inline constexpr std::size_t chunk_size = 1024;

// What to draw of each input.  The driver owns them: option processing
// fills them in, and every dump reads them.
struct dump_settings {
    std::uint64_t width = 64;     // bytes per pixel row, at least 1
    std::int64_t range_start = 0; // first byte shown
    std::int64_t range_end = -1;  // one past the last byte, or -1 for EOF
};

// The colour part that every sequence of a palette entry ends with,
// "R;G;Bm▀" (decimal channels, then the half block), padded to a
// 16-byte block, and its length.  Cells are built as
//   two colours:  "\033[38;2;" U without the half block, "\033[48;2;" L
//   upper only:   "\033[0m\033[38;2;" U
// Each piece is copied as a whole block and the text pointer advanced by
// the piece's length; the next piece overwrites what lies beyond.
inline constexpr std::size_t colour_block = 16;

struct cell_strings {
    char colour[256][colour_block];
    std::uint8_t size[256];
};

// Builds the sequences of a colour table, once the palette is final.
void prepare_cells(const colour_table& table, cell_strings& cells);

// Longest text the label, a cell and a line end can take.  A label shows
// an offset below 2^64: 13 digits above the low 12 bits, 3 below, a blank.
inline constexpr std::size_t max_label = 13 + 3 + 1;
inline constexpr std::size_t max_pair_cell = 7 + 12 + 7 + 15;
inline constexpr std::size_t max_lone_cell = 11 + 15;
inline constexpr std::size_t line_end_size = 4; // "\033[m\n"

// Room for the text of one chunk of n <= chunk_size bytes: each byte opens
// at most one cell and at most one line.  The slack lets the last piece
// be copied as a whole block.
inline constexpr std::size_t chunk_text_max =
    chunk_size * (max_pair_cell + max_label + line_end_size) + colour_block;

// Draws n bytes (n <= chunk_size) as one chunk whose first byte lies at
// `offset` of the input, into out (chunk_text_max bytes).  Returns the
// number of bytes of text.  Any width >= 1 is valid.
std::size_t render_chunk(char* out, const unsigned char* bytes, std::size_t n, std::uint64_t offset,
                         std::uint64_t width, const cell_strings& strings);

// Dumps the range of `settings` from the input open on descriptor `fd` to
// `out`, in the colours of `cells`.  The descriptor is read directly, in
// blocks of block_size bytes and never past the end of the range.  `name`
// is what messages call the input.  Seek and read errors end the program,
// after what was drawn has been written out.
void dump_stream(int fd, const char* name, const dump_settings& settings, const cell_strings& cells,
                 text_out& out = standard_output());

// The header line before an input when there are several:
// "====> name <====" with the name in bold, after an empty line for every
// input but the first.  On a terminal the name's control characters show
// as '?'.
void write_header(text_out& out, const char* name, bool first);

} // namespace ruvo

#endif
