#include "render.hpp"

#include <err.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ruvo {

static_assert(sizeof(off_t) == 8, "build with large file support");

dump_settings settings;
cell_strings cells;
volatile std::sig_atomic_t output_stops = 0;

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
static_assert(sizeof "\033[m\n" - 1 == line_end_size);

// Copies a whole block to p and advances by `size`.
template <std::size_t N> inline char* put(char* p, const char (&block)[N], std::size_t size)
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

// True when the call that just failed would have had to wait on a
// descriptor that somebody else left non-blocking.
bool left_non_blocking()
{
    return errno == EAGAIN || errno == EWOULDBLOCK;
}

// Waits as a blocking read or write would have, until fd is ready for
// `events` (POLLIN or POLLOUT).
void wait_until_ready(int fd, short events)
{
    pollfd p{fd, events, 0};
    (void)poll(&p, 1, -1);
}

// Writes all n bytes of text to fd, however many calls it takes.  When
// the process was stopped in the middle (Ctrl-Z, then `fg`), the terminal's
// colours were switched off and the shell has written to it since: the
// text goes on from the start of the cell or sequence that the stop cut
// short, never from its middle.
void write_all(int fd, const char* text, std::size_t n)
{
    const char* const start = text;
    const char* const end = text + n;
    std::sig_atomic_t stops = output_stops;
    while (text != end) {
        const ssize_t wrote = write(fd, text, static_cast<std::size_t>(end - text));
        if (wrote >= 0) {
            text += wrote;
        } else if (left_non_blocking()) {
            wait_until_ready(fd, POLLOUT);
        } else if (errno != EINTR) {
            err(1, "stdout");
        }
        if (stops != output_stops && text != end) {
            stops = output_stops;
            text = start + resume_point(start, static_cast<std::size_t>(text - start));
        }
    }
}

// True for inputs whose next bytes may be a long time coming (pipes,
// sockets, terminals), as against regular files and block devices.
bool can_keep_us_waiting(int fd)
{
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return true;
    return !S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode);
}

// True when a read of fd would return at once: input is queued, the
// writer has gone, or the descriptor is in error.
bool input_ready(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 0) == 1;
}

// The input of one dump and what became of its reads.
struct input {
    int fd;
    text_out& out;
    bool may_wait; // a stream, not a file or block device: a read may block
                   // (see read_some), and only reading moves it forward
    bool eof = false;
    int error = 0; // errno of the failed read, or 0
};

// One read(2) of at most n > 0 bytes.  When the read could wait for a
// writer that has paused, everything drawn so far is written out first:
// lines already drawn never wait for input that has not come yet.
std::size_t read_some(input& in, unsigned char* to, std::size_t n)
{
    if (in.may_wait && !input_ready(in.fd))
        in.out.flush();
    for (;;) {
        const ssize_t got = read(in.fd, to, n);
        if (got > 0)
            return static_cast<std::size_t>(got);
        if (got == 0) {
            in.eof = true;
            return 0;
        }
        if (left_non_blocking()) {
            wait_until_ready(in.fd, POLLIN);
        } else if (errno != EINTR) {
            in.error = errno;
            return 0;
        }
    }
}

// Moves the input to `start`: by seeking where it can, else by reading
// and dropping bytes.  Running out of input on the way is not an error.
void seek_to_start(input& in, const char* name, std::int64_t start, unsigned char* buf)
{
    if (lseek(in.fd, static_cast<off_t>(start), SEEK_SET) != -1)
        return;
    // A regular file or a block device that refuses the offset as invalid
    // cannot hold a byte there (it lies past the largest file or the
    // device's end): the input ends before the range.  Reading up to it
    // instead could take minutes, for nothing.
    if (errno == EINVAL && !in.may_wait && start != 0) {
        in.eof = true;
        return;
    }
    // Anything else that does not seek is a stream, whatever its type: a
    // pipe, a terminal, or a file that behaves like one (trace_pipe, many
    // FUSE files).  Its bytes come when they come, and only reading moves
    // it forward; from offset 0 there is nothing to skip.
    in.may_wait = true;
    auto left = static_cast<std::uint64_t>(start);
    while (left != 0 && !in.eof && in.error == 0)
        left -=
            read_some(in, buf, static_cast<std::size_t>(std::min<std::uint64_t>(left, block_size)));
    if (in.error != 0) {
        in.out.flush();
        errno = in.error;
        err(1, "(while seeking) %s", name);
    }
}

// The bytes read but not yet drawn, block_size at most.  Chunks are handed
// out whole and contiguous: fewer bytes than asked for only at the end of
// the input or after a read error, as fread(3) would.
class block_buffer {
  public:
    // `limit`: how many bytes the range lets us read, or UINT64_MAX.
    block_buffer(unsigned char* data, std::uint64_t limit) : data_(data), unread_(limit) {}

    // Sets *bytes to the next min(want, available) bytes, want <= chunk_size,
    // and returns their count.
    std::size_t take(input& in, std::size_t want, const unsigned char** bytes)
    {
        if (tail_ - head_ < want && block_size - head_ < want) {
            // The chunk would run past the end: move what is left to the front.
            std::memmove(data_, data_ + head_, tail_ - head_);
            tail_ -= head_;
            head_ = 0;
        }
        // The range allows at least want - (tail_ - head_) more bytes, and
        // there is room for them.
        while (tail_ - head_ < want && !in.eof && in.error == 0) {
            const std::size_t room =
                static_cast<std::size_t>(std::min<std::uint64_t>(block_size - tail_, unread_));
            const std::size_t got = read_some(in, data_ + tail_, room);
            tail_ += got;
            unread_ -= got;
        }
        const std::size_t n = std::min(want, tail_ - head_);
        *bytes = data_ + head_;
        head_ += n;
        return n;
    }

  private:
    unsigned char* data_;
    std::uint64_t unread_;
    std::size_t head_ = 0;
    std::size_t tail_ = 0;
};

// The dumper's input block.  Static: the dumper allocates nothing and
// runs once at a time.
unsigned char input_block[block_size];

} // namespace

void prepare_cells(const colour_table& table)
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
            p = put(p, fg_head, head_size);
            p = put(p, u_text, u_size);
            p = put(p, bg_head, head_size);
            p = put(p, l_text, l_size);
        }
        for (; i < total; ++i) {
            const unsigned u = up[i];
            p = put(p, lone_head, lone_head_size);
            p = put(p, strings.colour[u], strings.size[u]);
        }
        std::memcpy(p, "\033[m\n", line_end_size);
        p += line_end_size;
    }
    return static_cast<std::size_t>(p - out);
}

std::size_t resume_point(const char* text, std::size_t cut)
{
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    std::size_t line = cut;
    while (line != 0 && s[line - 1] != '\n')
        --line;
    // After the last character of the line shown whole.
    std::size_t shown = line;
    for (std::size_t i = line; i < cut;) {
        if (s[i] == 0x1b) { // ESC, '[', parameters, a final byte
            std::size_t j = i + 1;
            if (j < cut && s[j] == '[')
                for (++j; j < cut && (s[j] < 0x40 || s[j] > 0x7e); ++j) {
                }
            if (j >= cut)
                break;
            i = j + 1;
            continue;
        }
        const std::size_t size = s[i] >= 0xf0 ? 4 : s[i] >= 0xe0 ? 3 : s[i] >= 0xc0 ? 2 : 1;
        if (size > cut - i)
            break;
        i += size;
        shown = i;
    }
    // The sequences after that character belong to the cell that was cut
    // (or to the line's end); with none, the cut fell inside a character.
    for (std::size_t i = shown; i < cut; ++i)
        if (s[i] == 0x1b)
            return i;
    return shown;
}

void text_out::put(const char* text, std::size_t n)
{
    if (n >= capacity) {
        flush();
        write_all(fd_, text, n);
        return;
    }
    std::memcpy(room(n), text, n);
    fill_ += n;
}

char* text_out::room(std::size_t n)
{
    if (n > capacity - fill_)
        flush();
    return text_ + fill_;
}

void text_out::flush()
{
    const std::size_t n = fill_;
    fill_ = 0;
    write_all(fd_, text_, n);
}

namespace {

// One byte that a terminal takes for a control character by itself: C0,
// DEL, or a C1 code sent as a single byte.
bool is_control_byte(unsigned c)
{
    return c < 0x20 || c == 0x7f || (c >= 0x80 && c <= 0x9f);
}

// The length of the well-formed UTF-8 sequence of two or more bytes that
// starts at s, or 0 where none does.  Stops at the first byte that does
// not fit, so it never reads past a terminating NUL.
std::size_t utf8_sequence(const unsigned char* s)
{
    const unsigned lead = s[0];
    std::size_t n = 0;
    unsigned low = 0x80;
    unsigned high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        n = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        n = 3;
        low = lead == 0xe0 ? 0xa0 : low;   // no overlong forms
        high = lead == 0xed ? 0x9f : high; // no surrogates
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        n = 4;
        low = lead == 0xf0 ? 0x90 : low;
        high = lead == 0xf4 ? 0x8f : high; // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (s[1] < low || s[1] > high)
        return 0;
    for (std::size_t i = 2; i < n; ++i)
        if (s[i] < 0x80 || s[i] > 0xbf)
            return 0;
    return n;
}

// The character at s (s[0] != 0): its length in bytes, and whether it is
// a control character, C1 in UTF-8 (U+0080 to U+009F) included.
std::size_t next_character(const unsigned char* s, bool* control)
{
    const std::size_t n = utf8_sequence(s);
    if (n == 0) {
        *control = is_control_byte(s[0]);
        return 1;
    }
    *control = n == 2 && s[0] == 0xc2 && s[1] <= 0x9f;
    return n;
}

bool has_controls(const char* text)
{
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    bool control = false;
    while (*s != 0 && !control)
        s += next_character(s, &control);
    return control;
}

} // namespace

std::size_t neutralise_controls(char* to, const char* from)
{
    const auto* s = reinterpret_cast<const unsigned char*>(from);
    char* p = to;
    while (*s != 0) {
        bool control = false;
        const std::size_t n = next_character(s, &control);
        if (control) {
            *p++ = '?';
            s += n;
        } else {
            // Byte by byte: p never runs ahead of s, so to may be from.
            for (std::size_t i = 0; i < n; ++i)
                *p++ = static_cast<char>(*s++);
        }
    }
    *p = '\0';
    return static_cast<std::size_t>(p - to);
}

shown_text::shown_text(const char* text, int fd) : text_(text)
{
    // Made while a message about errno is being written: keep errno.
    const int saved_errno = errno;
    if (has_controls(text) && isatty(fd) != 0) {
        copy_ = static_cast<char*>(std::malloc(std::strlen(text) + 1));
        text_ = copy_ != nullptr ? copy_ : "?";
        if (copy_ != nullptr)
            neutralise_controls(copy_, text);
    }
    errno = saved_errno;
}

shown_text::~shown_text()
{
    std::free(copy_);
}

namespace {
// At namespace scope, not in the function: a function-local static would
// need the C++ runtime's guard functions and so the C++ library itself.
text_out stdout_text(STDOUT_FILENO);
} // namespace

text_out& standard_output()
{
    return stdout_text;
}

void dump_stream(int fd, const char* name, text_out& out)
{
    const dump_settings s = settings;
    input in{fd, out, can_keep_us_waiting(fd)};

    seek_to_start(in, name, s.range_start, input_block);

    // The range's length.  Unbounded ranges read to the end of the input,
    // which lies at the largest offset at the latest: no read may reach
    // past it, as the system refuses one that would.
    const bool bounded = s.range_end != -1;
    const std::uint64_t end = bounded ? static_cast<std::uint64_t>(s.range_end) : INT64_MAX;
    const std::uint64_t total = end - static_cast<std::uint64_t>(s.range_start);
    const auto start = static_cast<std::uint64_t>(s.range_start);
    block_buffer buffer(input_block, total);
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

} // namespace ruvo
