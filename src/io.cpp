#include "io.hpp"

#include <err.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "terminal.hpp"

namespace ruvo {

static_assert(sizeof(off_t) == 8, "build with large file support");

namespace {

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

// The input block.  Static: nothing is allocated, and one input is read
// at a time.
unsigned char input_block[block_size];

// At namespace scope, not in the function: a function-local static would
// need the C++ runtime's guard functions and so the C++ library itself.
text_out stdout_text(STDOUT_FILENO);

} // namespace

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

text_out& standard_output()
{
    return stdout_text;
}

input::input(int descriptor, text_out& text)
    : fd(descriptor), out(text), may_wait(can_keep_us_waiting(descriptor))
{
}

void seek_to_start(input& in, const char* name, std::int64_t start)
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
        left -= read_some(in, input_block,
                          static_cast<std::size_t>(std::min<std::uint64_t>(left, block_size)));
    if (in.error != 0) {
        in.out.flush();
        errno = in.error;
        err(1, "(while seeking) %s", name);
    }
}

block_buffer::block_buffer(std::uint64_t limit) : unread_(limit) {}

std::size_t block_buffer::take(input& in, std::size_t want, const unsigned char** bytes)
{
    if (tail_ - head_ < want && block_size - head_ < want) {
        // The piece would run past the end: move what is left to the front.
        std::memmove(input_block, input_block + head_, tail_ - head_);
        tail_ -= head_;
        head_ = 0;
    }
    // The range allows at least want - (tail_ - head_) more bytes, and
    // there is room for them.
    while (tail_ - head_ < want && !in.eof && in.error == 0) {
        const std::size_t room =
            static_cast<std::size_t>(std::min<std::uint64_t>(block_size - tail_, unread_));
        const std::size_t got = read_some(in, input_block + tail_, room);
        tail_ += got;
        unread_ -= got;
    }
    const std::size_t n = std::min(want, tail_ - head_);
    *bytes = input_block + head_;
    head_ += n;
    return n;
}

} // namespace ruvo
