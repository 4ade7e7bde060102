#include "render.hpp"

#include <err.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace ruvo {

static_assert(sizeof(off_t) == 8, "build with large file support");

dump_settings settings;
cell_strings cells;

namespace {

constexpr char hex_digits[] = "0123456789abcdef";

// The longest forms of the three sequences, with 255 in every channel.
constexpr std::size_t max_upper = sizeof "\033[38;2;255;255;255m" - 1;
constexpr std::size_t max_lower = sizeof "\033[48;2;255;255;255m\u2580" - 1;
constexpr std::size_t max_lone = sizeof "\033[0m\033[38;2;255;255;255m\u2580" - 1;
static_assert(max_upper + max_lower == max_pair_cell);
static_assert(max_lone == max_lone_cell && max_lone_cell < max_pair_cell);
static_assert(max_lone < sizeof(sequence::text), "every sequence fits its block");
static_assert(sizeof "\033[m\n" - 1 == line_end_size);

sequence make_sequence(const char* format, colour c)
{
    sequence s{};
    const int len = std::snprintf(s.text, sizeof s.text, format, static_cast<int>((c >> 16) & 0xff),
                                  static_cast<int>((c >> 8) & 0xff), static_cast<int>(c & 0xff));
    s.size = static_cast<std::uint8_t>(len);
    return s;
}

inline char* put(char* p, const sequence& s)
{
    std::memcpy(p, s.text, sizeof s.text);
    return p + s.size;
}

// The label of "%5zx%03zx ": the offset above its low 12 bits in hex,
// right-aligned in 5 columns, then the low 12 bits as 3 hex digits.
char* put_label(char* p, std::uint64_t offset)
{
    char high[16];
    char* h = high + sizeof high;
    std::uint64_t v = offset >> 12;
    do {
        *--h = hex_digits[v & 0xf];
        v >>= 4;
    } while (v != 0);
    const auto digits = static_cast<std::size_t>(high + sizeof high - h);
    for (std::size_t pad = digits; pad < 5; ++pad)
        *p++ = ' ';
    std::memcpy(p, h, digits);
    p += digits;
    *p++ = hex_digits[(offset >> 8) & 0xf];
    *p++ = hex_digits[(offset >> 4) & 0xf];
    *p++ = hex_digits[offset & 0xf];
    *p++ = ' ';
    return p;
}

// Moves in to `start`: by seeking where it can, else by reading and
// dropping bytes.  Running out of input on the way is not an error.
void seek_to_start(std::FILE* in, const char* name, std::int64_t start, unsigned char* buf)
{
    if (fseeko(in, static_cast<off_t>(start), SEEK_SET) == 0)
        return;
    // A failed seek (a pipe, say) leaves nothing to report by itself.
    clearerr(in);
    auto left = static_cast<std::uint64_t>(start);
    while (left != 0 && std::feof(in) == 0 && std::ferror(in) == 0) {
        const std::size_t got = std::fread(buf, 1, std::min<std::uint64_t>(left, chunk_size), in);
        left -= got;
        if (got == 0)
            break;
    }
    if (std::ferror(in) != 0)
        err(1, "(while seeking) %s", name);
}

// Text of several chunks, handed to stdio in large writes.  It lives in
// static storage: the dumper allocates nothing and runs once at a time.
struct text_batch {
    static constexpr std::size_t capacity = std::size_t{256} * 1024 + chunk_text_max;
    static char text[capacity];
    std::size_t fill = 0;

    char* end() const { return text + fill; }

    void flush(std::FILE* out)
    {
        if (fill != 0)
            (void)std::fwrite(text, 1, fill, out);
        fill = 0;
        check_output(out);
    }

    // Makes room for the text of one more chunk.
    void reserve_chunk(std::FILE* out)
    {
        if (capacity - fill < chunk_text_max)
            flush(out);
    }
};

char text_batch::text[text_batch::capacity];

// True for inputs whose next chunk may be a long time coming (pipes,
// terminals, sockets): what was read so far is then written at once
// instead of waiting for a full batch.
bool can_keep_us_waiting(std::FILE* in)
{
    struct stat st {};
    const int fd = fileno(in);
    if (fd < 0 || fstat(fd, &st) != 0)
        return true;
    return !S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode);
}

// True when the system holds input for the stream's descriptor right now,
// so that the next read will not wait.
bool input_ready(std::FILE* in)
{
    pollfd p{};
    p.fd = fileno(in);
    p.events = POLLIN;
    return p.fd >= 0 && poll(&p, 1, 0) == 1;
}

} // namespace

void prepare_cells(const colour_table& table)
{
    for (std::size_t i = 0; i < table.size(); ++i) {
        cells.upper[i] = make_sequence("\033[38;2;%d;%d;%dm", table[i]);
        cells.lower[i] = make_sequence("\033[48;2;%d;%d;%dm\u2580", table[i]);
        cells.lone[i] = make_sequence("\033[0m\033[38;2;%d;%d;%dm\u2580", table[i]);
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
        for (; i < pairs; ++i) {
            p = put(p, strings.upper[up[i]]);
            p = put(p, strings.lower[low[i]]);
        }
        for (; i < total; ++i)
            p = put(p, strings.lone[up[i]]);
        std::memcpy(p, "\033[m\n", line_end_size);
        p += line_end_size;
    }
    return static_cast<std::size_t>(p - out);
}

void check_output(std::FILE* out)
{
    if (std::ferror(out) != 0)
        err(1, "stdout");
}

void dump_stream(std::FILE* in, const char* name, std::FILE* out)
{
    unsigned char buf[chunk_size];
    const dump_settings s = settings;

    seek_to_start(in, name, s.range_start, buf);

    // The range's length; unbounded ranges read to the end of the input.
    const bool bounded = s.range_end != -1;
    const std::uint64_t total = bounded ? static_cast<std::uint64_t>(s.range_end) -
                                              static_cast<std::uint64_t>(s.range_start)
                                        : 0;
    const auto start = static_cast<std::uint64_t>(s.range_start);
    std::uint64_t done = 0;
    int read_errno = 0;
    text_batch batch;
    const bool may_wait = can_keep_us_waiting(in);
    while (!(bounded && done == total) && std::feof(in) == 0 && std::ferror(in) == 0) {
        const std::size_t want =
            bounded ? static_cast<std::size_t>(std::min<std::uint64_t>(total - done, chunk_size))
                    : chunk_size;
        const std::size_t n = std::fread(buf, 1, want, in);
        read_errno = errno;
        if (n != 0) {
            batch.reserve_chunk(out);
            batch.fill += render_chunk(batch.end(), buf, n, start + done, s.width, cells);
            if (may_wait && !input_ready(in)) {
                batch.flush(out);
                (void)std::fflush(out);
            }
        }
        check_output(out);
        done += n;
    }
    // What was drawn is written before any message about the input.
    batch.flush(out);
    if (std::ferror(in) != 0) {
        errno = read_errno;
        err(1, "(while reading) %s", name);
    }
}

} // namespace ruvo
