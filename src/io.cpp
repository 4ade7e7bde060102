#include "io.hpp"

#include <err.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "sgr.hpp"
#include "signals.hpp"

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

// One write(2) of up to n > 0 bytes: how many went.  A descriptor left
// non-blocking is waited for; a write error ends the program with a
// message that names the descriptor by `name`.
std::size_t write_some(int fd, const char* name, const char* text, std::size_t n)
{
    const ssize_t wrote = write(fd, text, n);
    if (wrote >= 0)
        return static_cast<std::size_t>(wrote);
    if (left_non_blocking())
        wait_until_ready(fd, POLLOUT);
    else if (errno != EINTR)
        err(1, "%s", name);
    return 0;
}

// After a stop (Ctrl-Z, then `fg` or a SIGCONT), the terminal's colours
// were switched off, perhaps with the reset cut short, and the terminal
// may have thrown away what was queued for it, so that the screen stops
// anywhere in some line, or the shell has written to it.  A whole reset
// ends whatever sequence was left open (an ESC starts a new one); a new
// line follows unless the terminal is known to hold everything up to the
// start of a line: it keeps queued output (noflsh) and the text was cut
// there.
void make_up_for_stop(int fd, const char* name, bool at_line_start)
{
    termios mode{};
    const bool kept = tcgetattr(fd, &mode) == 0 && (mode.c_lflag & NOFLSH) != 0;
    const std::size_t n = reset_and_newline.size() - (kept && at_line_start ? 2 : 1);
    for (std::size_t sent = 0; sent < n;)
        sent += write_some(fd, name, reset_and_newline.data() + sent, n - sent);
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

// True for a regular file whose size is 0.  That is either an empty file
// or a pseudo-file (/proc, sysfs, tracefs) whose size says nothing.
bool says_it_is_empty(int fd)
{
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0;
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
text_out stdout_text(STDOUT_FILENO, "stdout");

// Reads one byte of the input, just sought to a start above 0, and keeps
// it for the dump; returns false, with the input's state as before, when
// the read finds the end there.  Many pseudo-files (most of /proc/sys,
// tracefs) take the seek but give their bytes only to a read from offset
// 0; others (/proc/PID/mem) read at any offset.  For a file that really is
// empty, the read from the start then finds nothing, as cheaply.
bool read_first_byte(input& in)
{
    const std::size_t got = read_some(in, input_block, 1);
    if (got == 0 && in.error == 0) {
        in.eof = false;
        return false;
    }
    in.ahead_to = got;
    return true;
}

} // namespace

// The text buffer is left uninitialised: only what is written to it is
// ever read, and untouched pages cost no memory.
// cppcheck-suppress uninitMemberVar
text_out::text_out(int fd, const char* name) : fd_(fd), name_(name), stops_made_up_(output_stops) {}

void text_out::write_all(const char* text, std::size_t n)
{
    const char* const start = text;
    const char* const end = text + n;
    for (;;) {
        const int stops = output_stops;
        if (stops_made_up_ != stops) {
            stops_made_up_ = stops;
            const auto cut = static_cast<std::size_t>(text - start);
            const std::size_t from = resume_point(start, cut);
            make_up_for_stop(fd_, name_, from == cut && (cut != 0 || wrote_a_line_end_));
            text = start + from;
        }
        if (text == end)
            break;
        text += write_some(fd_, name_, text, static_cast<std::size_t>(end - text));
    }
    if (n != 0)
        wrote_a_line_end_ = end[-1] == '\n';
}

void text_out::put(const char* text, std::size_t n)
{
    if (n >= capacity) {
        flush();
        write_all(text, n);
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
    write_all(text_, n);
}

text_out& standard_output()
{
    return stdout_text;
}

std::size_t resume_point(const char* text, std::size_t cut)
{
    std::size_t line = cut;
    while (line != 0 && text[line - 1] != '\n')
        --line;
    return line;
}

input::input(int descriptor, text_out& text)
    : fd(descriptor), out(text), may_wait(can_keep_us_waiting(descriptor))
{
}

void seek_to_start(input& in, const char* name, std::int64_t start)
{
    bool from_offset_0 = false; // a pseudo-file, read from its start
    if (lseek(in.fd, static_cast<off_t>(start), SEEK_SET) != -1) {
        if (start == 0 || !says_it_is_empty(in.fd) || read_first_byte(in))
            return;
        from_offset_0 = lseek(in.fd, 0, SEEK_SET) == 0;
        if (!from_offset_0)
            return;
    } else if (errno == EINVAL && !in.may_wait && start != 0) {
        // A regular file or a block device that refuses the offset as
        // invalid cannot hold a byte there (it lies past the largest file
        // or the device's end): the input ends before the range.  Reading
        // up to it instead could take minutes, for nothing.
        in.eof = true;
        return;
    } else {
        // Anything else that does not seek is a stream, whatever its type:
        // a pipe, a terminal, or a file that behaves like one (trace_pipe,
        // many FUSE files).  Its bytes come when they come, and only
        // reading moves it forward; from offset 0 there is nothing to skip.
        in.may_wait = true;
    }
    // A stream is read no further than the start: what comes after the
    // range stays for whoever reads it next.  A pseudo-file gives its bytes
    // only to a read from offset 0, so it is read in whole blocks, and what
    // a read brings past the start is kept for the dump.
    auto left = static_cast<std::uint64_t>(start);
    while (left != 0 && !in.eof && in.error == 0) {
        const std::size_t got = read_some(
            in, input_block,
            from_offset_0 ? block_size
                          : static_cast<std::size_t>(std::min<std::uint64_t>(left, block_size)));
        if (got > left) {
            in.ahead_from = static_cast<std::size_t>(left);
            in.ahead_to = got;
            left = 0;
        } else {
            left -= got;
        }
    }
    if (in.error != 0) {
        in.out.flush();
        errno = in.error;
        err(1, "(while seeking) %s", name);
    }
}

block_buffer::block_buffer(const input& in, std::uint64_t limit)
    : unread_(limit), head_(in.ahead_from), tail_(in.ahead_from)
{
    // Bytes that the skip to the start read past it, as far as the range
    // takes them.
    const std::size_t kept =
        static_cast<std::size_t>(std::min<std::uint64_t>(in.ahead_to - in.ahead_from, limit));
    tail_ += kept;
    unread_ -= kept;
}

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
