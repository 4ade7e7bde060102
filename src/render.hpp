// The stream dumper: reads the chosen byte range of one input and draws it
// as lines of half-block cells, each led by the offset of its first byte.
#ifndef RUVO_RENDER_HPP
#define RUVO_RENDER_HPP

#include <csignal>
#include <cstddef>
#include <cstdint>

#include "palette.hpp"

namespace ruvo {

// Bytes read and drawn at a time.  Every chunk starts a new line, so the
// layout begins again every chunk_size bytes of the range.
inline constexpr std::size_t chunk_size = 1024;

// The most bytes one read(2) asks for.  A multiple of chunk_size, so that
// on regular files no chunk ever straddles two blocks.
inline constexpr std::size_t block_size = std::size_t{64} * 1024;
static_assert(block_size % chunk_size == 0);

// Written by option processing, read-only once the first input is opened.
struct dump_settings {
    std::uint64_t width = 64;     // bytes per pixel row, at least 1
    std::int64_t range_start = 0; // first byte shown
    std::int64_t range_end = -1;  // one past the last byte, or -1 for EOF
};
extern dump_settings settings;

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

// Builds the sequences from a colour table.  Call once the palette is final.
void prepare_cells(const colour_table& table);

// The sequences dump_stream draws with.
extern cell_strings cells;

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

// Text bound for one descriptor, gathered in a large buffer and written
// with write(2) a batch at a time.  Everything the program writes to
// standard output goes through standard_output(), header lines included,
// so nothing can overtake anything else.
class text_out {
  public:
    static constexpr std::size_t capacity = std::size_t{256} * 1024 + chunk_text_max;

    // The text buffer is left uninitialised: only what is written to it is
    // ever read, and untouched pages cost no memory.
    // cppcheck-suppress uninitMemberVar
    explicit text_out(int fd) : fd_(fd) {}
    text_out(const text_out&) = delete;
    text_out& operator=(const text_out&) = delete;

    // Appends n bytes of text.
    void put(const char* text, std::size_t n);

    // Room for n <= capacity bytes at the end of the batch, which
    // advance() then takes into it.
    char* room(std::size_t n);
    void advance(std::size_t n) { fill_ += n; }

    // Writes out the whole batch.  A write error ends the program with
    // "stdout: <error>".
    void flush();

  private:
    int fd_;
    std::size_t fill_ = 0;
    char text_[capacity];
};

// The batch for descriptor 1.
text_out& standard_output();

// How often the process has come back from a stop (Ctrl-Z): the handler
// of SIGTSTP counts, the writer looks.
extern volatile std::sig_atomic_t output_stops;

// Where to go on with terminal text after a stop, when its first `cut`
// bytes have been written: the start of the cell or escape sequence that
// holds the cut, or of the character cut in two, else `cut` itself.  A
// stopped dump's colours were switched off, and a cell sent again whole
// draws as it would have.
std::size_t resume_point(const char* text, std::size_t cut);

// Rewrites text so that a terminal shows it as text, never as a command:
// each control character (C0, DEL, and C1 whether as the UTF-8 sequences
// C2 80 to C2 9F or as a raw byte 0x80 to 0x9F outside a valid UTF-8
// sequence) becomes one '?'.  Everything else, valid UTF-8 included, is
// copied as it is.  Writes the result and a NUL to `to`, which needs room
// for strlen(from) + 1 bytes (the result is never longer), and returns
// the result's length.  `to` may be `from`.
std::size_t neutralise_controls(char* to, const char* from);

// Outside text (a file name, an argument, a palette token) as it is to be
// shown on descriptor fd: on a terminal with its control characters
// neutralised, elsewhere byte for byte as it is.  A copy is made only
// where something has to change.
class shown_text {
  public:
    shown_text(const char* text, int fd);
    ~shown_text();
    shown_text(const shown_text&) = delete;
    shown_text& operator=(const shown_text&) = delete;

    const char* c_str() const { return text_; }

  private:
    const char* text_;
    char* copy_ = nullptr;
};

// Dumps the range of `settings` from the input open on descriptor `fd` to
// `out`.  The descriptor is read directly, in blocks of block_size bytes
// and never past the end of the range.  `name` is what messages call the
// input.  Seek and read errors end the program, after what was drawn has
// been written out.
void dump_stream(int fd, const char* name, text_out& out = standard_output());

} // namespace ruvo

#endif
