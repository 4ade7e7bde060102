// Descriptors read and written in large blocks, with read(2) and write(2)
// directly.  A descriptor that another program left non-blocking is waited
// for as a blocking call would wait; after a stop (Ctrl-Z), the text goes
// on from the start of the line the stop cut: the writer's side of a stop.
#ifndef RUVO_IO_HPP
#define RUVO_IO_HPP

#include <cstddef>
#include <cstdint>

namespace ruvo {

// The most bytes one read(2) asks for.
inline constexpr std::size_t block_size = std::size_t{64} * 1024;

// Text bound for one descriptor, gathered in a large buffer and written
// with write(2) a batch at a time.  Everything the program writes to
// standard output goes through standard_output(), header lines included,
// so nothing can overtake anything else.
class text_out {
  public:
    // A batch is written once it holds batch_size bytes; room() hands out
    // up to max_room bytes beyond that.
    static constexpr std::size_t batch_size = std::size_t{256} * 1024;
    static constexpr std::size_t max_room = std::size_t{64} * 1024;
    static constexpr std::size_t capacity = batch_size + max_room;

    // `name` is what a message about a failed write calls the descriptor.
    text_out(int fd, const char* name);
    text_out(const text_out&) = delete;
    text_out& operator=(const text_out&) = delete;

    // Appends n bytes of text.
    void put(const char* text, std::size_t n);

    // Room for n <= max_room bytes at the end of the batch, which
    // advance() then takes into it.
    char* room(std::size_t n);
    void advance(std::size_t n) { fill_ += n; }

    // Writes out the whole batch.  A write error ends the program with
    // "<name>: <error>".
    void flush();

  private:
    // Writes all n bytes of text, however many calls it takes.  When a
    // stop (Ctrl-Z) came since the last write, the text goes on from the
    // start of the line that the stop cut, on a line of its own; with no
    // text, as at the end of the run, the reset is still made whole.
    void write_all(const char* text, std::size_t n);

    int fd_;
    const char* name_;
    std::size_t fill_ = 0;
    int stops_made_up_;            // the stops written around so far
    bool wrote_a_line_end_ = true; // the last text written ended a line
    char text_[capacity];
};

// The batch for descriptor 1.
text_out& standard_output();

// Where to go on with text after a stop, when its first `cut` bytes have
// been written: the start of the line that holds the cut.  On a terminal
// with default settings, Ctrl-Z throws away the output still queued for
// it, so the screen may stop anywhere before the cut; a line sent again
// whole, on a line of its own, draws under its own label.
std::size_t resume_point(const char* text, std::size_t cut);

// One input, read directly from its descriptor, and what became of its
// reads.  Before a read that may wait (a stream whose writer has paused),
// everything gathered in `out` is written: lines already drawn never wait
// for input that has not come yet.
struct input {
    input(int descriptor, text_out& text);

    int fd;
    text_out& out;
    bool may_wait; // a stream, not a file or block device: a read may block,
                   // and only reading moves it forward
    bool eof = false;
    int error = 0; // errno of the failed read, or 0
    // Bytes past the start that skipping to it read, in the input block.
    std::size_t ahead_from = 0;
    std::size_t ahead_to = 0;
};

// Moves the input to `start`: by seeking where it can, else by reading
// and dropping bytes (bytes read past the start are kept for the
// block_buffer).  A regular file of size 0 is read, never sought: it may
// be a pseudo-file whose bytes come only from offset 0.  Running out of input on the way is not an
// error; a read error ends the program with "(while seeking) <name>: <error>", after what `out`
// holds has been written.
void seek_to_start(input& in, const char* name, std::int64_t start);

// The bytes read but not yet used, block_size at most, in one static
// block: one buffer at a time.  Pieces are handed out whole and
// contiguous: fewer bytes than asked for only at the end of the input or
// after a read error, as fread(3) would.
class block_buffer {
  public:
    // `limit`: how many bytes the range lets us read, or UINT64_MAX.  What
    // seek_to_start() read past the start of `in` comes first.
    block_buffer(const input& in, std::uint64_t limit);

    // Sets *bytes to the next min(want, available) bytes and returns their
    // count.  For pieces never to straddle the end of the block, every
    // want but the last must divide block_size.
    std::size_t take(input& in, std::size_t want, const unsigned char** bytes);

  private:
    std::uint64_t unread_;
    std::size_t head_;
    std::size_t tail_;
};

} // namespace ruvo

#endif
