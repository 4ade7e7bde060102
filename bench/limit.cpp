// How fast could ruvo's output be made at all?  This program reads its
// input as ruvo does (read(2), 64 KiB blocks) and writes exactly as many
// bytes of text as `ruvo FILE` (width 64, offsets below 4 GiB), in the
// same 256 KiB batches with write(2).  It copies one fixed 32-byte block
// per sequence, advancing by the length of the real sequence for that
// byte, but looks up no colour text.  ruvo's time over this program's is
// how far it is from the machine's limit for this format.
//
//   limit FILE >/dev/null
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "palette.hpp"

namespace {

constexpr std::size_t chunk = 1024;
constexpr std::size_t width = 64;
constexpr std::size_t block = 64 * 1024;
constexpr std::size_t batch = 256 * 1024;
constexpr std::size_t chunk_text = chunk * 64; // ample for one chunk

unsigned char upper_len[256], lower_len[256], lone_len[256];
// Any 32 bytes will do: only their number and their strides matter.
const char source[32] = "\033[38;2;255;255;255m\033[48;2;255;";
unsigned char input[block];
char text[batch + chunk_text];

int length_of(const char* format, ruvo::colour c)
{
    return std::snprintf(nullptr, 0, format, (c >> 16) & 0xff, (c >> 8) & 0xff, c & 0xff);
}

void write_all(const char* p, std::size_t n)
{
    while (n != 0) {
        const ssize_t w = write(STDOUT_FILENO, p, n);
        if (w < 0)
            _exit(1);
        p += w;
        n -= static_cast<std::size_t>(w);
    }
}

char* copy(char* p, std::size_t stride)
{
    std::memcpy(p, source, 32);
    return p + stride;
}

// The same layout as ruvo draws for width 64: lines of row pairs, a
// 9-column label, cells with and without a lower byte, a 4-byte line end.
char* draw(char* p, const unsigned char* b, std::size_t n)
{
    for (std::size_t r = 0; r < n; r += 2 * width) {
        p = copy(p, 9);
        const std::size_t upper_end = std::min(r + width, n);
        const std::size_t pairs =
            std::min(r + 2 * width, n) > r + width ? std::min(r + 2 * width, n) - (r + width) : 0;
        std::size_t i = 0;
        for (; i < pairs; ++i) {
            p = copy(p, upper_len[b[r + i]]);
            p = copy(p, lower_len[b[r + width + i]]);
        }
        for (; r + i < upper_end; ++i)
            p = copy(p, lone_len[b[r + i]]);
        p = copy(p, 4);
    }
    return p;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    for (std::size_t i = 0; i < 256; ++i) {
        const ruvo::colour c = ruvo::default_palette[i];
        upper_len[i] = static_cast<unsigned char>(length_of("\033[38;2;%u;%u;%um", c));
        lower_len[i] = static_cast<unsigned char>(length_of("\033[48;2;%u;%u;%um\u2580", c));
        lone_len[i] = static_cast<unsigned char>(length_of("\033[0m\033[38;2;%u;%u;%um\u2580", c));
    }
    const int fd = open(argv[1], O_RDONLY);
    if (fd < 0)
        return 1;
    std::size_t fill = 0;
    ssize_t got = 0;
    while ((got = read(fd, input, block)) > 0) {
        for (std::size_t at = 0; at < static_cast<std::size_t>(got); at += chunk) {
            if (fill > batch) {
                write_all(text, fill);
                fill = 0;
            }
            const std::size_t n = std::min(chunk, static_cast<std::size_t>(got) - at);
            fill = static_cast<std::size_t>(draw(text + fill, input + at, n) - text);
        }
    }
    write_all(text, fill);
    return got < 0 ? 1 : 0;
}
